#include "uninstall/UninstallKey.h"
#include "platform/String.h"
#include "uninstall/RemovalLog.h"

// The key's name as the registry's editor shows it; its path follows "HKLM\". The 32-bit view of a
// 64-bit Windows shows it with WOW6432Node after "HKLM\Software\", its first BEFORE_VIEW characters.
static const wchar_t KEY_NAME[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";
static const wchar_t* const UNINSTALL_KEY = KEY_NAME + 5;
static const int BEFORE_VIEW = 14;

CString UninstallKeyName()
{
    CString name(KEY_NAME, BEFORE_VIEW);
    // On a 64-bit Windows the 32-bit view is kept under WOW6432Node.
    WCHAR folder[MAX_PATH];
    if (::GetSystemWow64DirectoryW(folder, MAX_PATH)) name += L"WOW6432Node\\";
    name += KEY_NAME + BEFORE_VIEW;
    return name;
}

bool UninstallKeyExists()
{
    HKEY hKey;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_QUERY_VALUE, &hKey);
    if (opened == ERROR_SUCCESS) ::RegCloseKey(hKey);
    return opened != ERROR_FILE_NOT_FOUND;
}

// A string value of the entry, expanded when it is written to be; empty when there is none.
static CString ReadString(HKEY hKey, LPCWSTR pszName)
{
    WCHAR value[2 * MAX_PATH], expanded[2 * MAX_PATH];
    DWORD type, size = sizeof value - sizeof(WCHAR);
    if (::RegQueryValueExW(hKey, pszName, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return CString();
    value[size / sizeof(WCHAR)] = L'\0';
    if (type == REG_SZ) return value;
    const DWORD n = ::ExpandEnvironmentStringsW(value, expanded, ARRAYSIZE(expanded));
    return n && n <= ARRAYSIZE(expanded) ? CString(expanded) : CString();
}

static bool IsFile(LPCWSTR pszPath)
{
    const DWORD attributes = ::GetFileAttributesW(pszPath);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// The program that a command starts: its quoted path; unquoted, the text up to the first space
// at which a file ends, as the system tries each in turn, or up to the first space when none does.
static CString ProgramOf(LPCWSTR pszCommand)
{
    int end = 0;
    if (pszCommand[0] == L'"') {
        while (pszCommand[end + 1] && pszCommand[end + 1] != L'"') ++end;
        return CString(pszCommand + 1, end);
    }
    int first = -1;
    for (;; ++end) {
        if (pszCommand[end] && pszCommand[end] != L' ') continue;
        const CString program(pszCommand, end);
        if (first < 0) first = end;
        if (IsFile(program)) return program;
        if (!pszCommand[end]) return CString(pszCommand, first);
    }
}

CString UninstallKeyProgram()
{
    HKEY hKey;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS) return CString();
    CString command = ReadString(hKey, L"UninstallString");
    if (command.IsEmpty()) command = ReadString(hKey, L"QuietUninstallString");
    ::RegCloseKey(hKey);
    return ProgramOf(command);
}

Outcome DeleteUninstallKey()
{
    HKEY hKey;
    LONG deleted = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_ALL_ACCESS, &hKey);
    DWORD subkeys = 0;
    if (deleted == ERROR_SUCCESS) {
        ::RegQueryInfoKeyW(hKey, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr);
        ::RegCloseKey(hKey);
        deleted = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    }
    const CString name = UninstallKeyName();
    // Not found when it was opened, or deleted first by another run at the same moment.
    if (deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) {
        LogLine("key", deleted == ERROR_SUCCESS ? "deleted" : "absent", name);
        return REMOVED;
    }
    // Windows refuses a key with subkeys as access denied, which would send an administrator
    // looking at permissions.
    if (subkeys) LogLine(L"key", L"stayed", L"it has subkeys: only a key without subkeys can be deleted", name);
    else LogLine("key", "stayed", CErrorText(deleted), name);
    return REMOVAL_FAILED;
}
