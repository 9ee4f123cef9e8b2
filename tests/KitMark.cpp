#include "KitMark.h"
#include "platform/Handle.h"

// From Windows Vista on, as the test programs are; the headers here are set for Windows XP.
extern "C" LONG WINAPI RegRenameKey(HKEY key, LPCWSTR subKey, LPCWSTR newName);

const wchar_t UNINSTALL_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";
const wchar_t KIT_MARK_VALUE[] = L"QuorillTestKit";
const wchar_t KIT_MARK_FILE[] = L"QuorillTestKit.mark";
const wchar_t KIT_MARK_TEXT[] = L"Made by the test kit of Uninst.exe; safe to delete.";
const char KIT_KEY_TAKEN[] = "the key exists and was not made by the tests: run them on a machine without Quorill";
const wchar_t* const KIT_KEYS[3] = {
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010\\Sub",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010",
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010 Beta",
};

// A key is made under a name of the kit's own, marked, and only then renamed: a run cut short at any
// moment leaves no key of the product's name without the mark.
static const wchar_t PENDING[] = L" (QuorillTestKit)";

static bool IsPending(const std::wstring& path)
{
    const size_t length = ::lstrlenW(PENDING);
    return path.size() > length && path.compare(path.size() - length, length, PENDING) == 0;
}

std::wstring PendingKey(const std::wstring& path)
{
    return path + PENDING;
}

bool CreateMarkedKey(const std::wstring& path)
{
    if (KeyExists(path)) return false;
    HKEY key;
    // RegRenameKey wants KEY_WRITE, and DELETE on what it renames.
    if (::RegCreateKeyExW(HKEY_LOCAL_MACHINE, PendingKey(path).c_str(), 0, nullptr, 0,
                          KEY_WRITE | DELETE | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const bool made = ::RegSetValueExW(key, KIT_MARK_VALUE, 0, REG_SZ, reinterpret_cast<const BYTE*>(KIT_MARK_TEXT),
                                       sizeof KIT_MARK_TEXT) == ERROR_SUCCESS &&
                      ::RegRenameKey(key, nullptr, path.substr(path.rfind(L'\\') + 1).c_str()) == ERROR_SUCCESS;
    ::RegCloseKey(key);
    if (!made) DeleteMarkedKey(PendingKey(path));
    return made;
}

bool KeyExists(const std::wstring& path, REGSAM view)
{
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

bool IsMarkedKey(const std::wstring& path, REGSAM view)
{
    if (IsPending(path)) return KeyExists(path, view);
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    wchar_t text[128] = {};
    DWORD type = 0, size = sizeof text - sizeof(wchar_t);
    const bool marked = ::RegQueryValueExW(key, KIT_MARK_VALUE, nullptr, &type, reinterpret_cast<BYTE*>(text),
                                           &size) == ERROR_SUCCESS &&
                        type == REG_SZ && std::wstring(text) == KIT_MARK_TEXT;
    ::RegCloseKey(key);
    return marked;
}

bool DeleteMarkedKey(const std::wstring& path, REGSAM view)
{
    if (IsMarkedKey(path, view)) ::RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
    return !KeyExists(path, view);
}

bool CreateMarkedFolder(const std::wstring& path)
{
    if (!::CreateDirectoryW(path.c_str(), nullptr)) return false;
    const HANDLE file = ::CreateFileW((path + L"\\" + KIT_MARK_FILE).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    ::WriteFile(file, KIT_MARK_TEXT, sizeof KIT_MARK_TEXT - sizeof(wchar_t), &written, nullptr);
    ::CloseHandle(file);
    return written == sizeof KIT_MARK_TEXT - sizeof(wchar_t);
}

bool IsMarkedFolder(const std::wstring& path)
{
    const HANDLE file = ::CreateFileW((path + L"\\" + KIT_MARK_FILE).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    wchar_t text[128] = {};
    DWORD read = 0;
    ::ReadFile(file, text, sizeof text - sizeof(wchar_t), &read, nullptr);
    ::CloseHandle(file);
    return std::wstring(text) == KIT_MARK_TEXT;
}

// Links are removed as links: nothing outside the folder is followed. The mark goes last, so that a
// folder that could not be removed whole is still known as the kit's.
static void RemoveContents(const std::wstring& folder, const std::wstring& spare = L"")
{
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find.IsValid()) return;
    do {
        const std::wstring name = data.cFileName, path = folder + L"\\" + name;
        if (name == L"." || name == L".." || name == spare) continue;
        ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        const DWORD kind = data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT);
        if (kind == FILE_ATTRIBUTE_DIRECTORY) RemoveContents(path);
        if (!::DeleteFileW(path.c_str())) ::RemoveDirectoryW(path.c_str());
    } while (::FindNextFileW(find, &data));
}

bool RemoveMarkedFolder(const std::wstring& path)
{
    if (IsMarkedFolder(path)) {
        RemoveContents(path, KIT_MARK_FILE);
        ::DeleteFileW((path + L"\\" + KIT_MARK_FILE).c_str());
        ::RemoveDirectoryW(path.c_str());
    }
    return ::GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES;
}
