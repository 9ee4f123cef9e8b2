#include "e2e/StagedInstall.h"
#include "KitMark.h"
#include "platform/Handle.h"
#include <aclapi.h>

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\') + 1);
}

static void AddEntries(const std::wstring& folder, std::map<std::wstring, std::wstring>& snapshot, bool deep)
{
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
    if (!find.IsValid()) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        snapshot[path] = std::to_wstring(data.dwFileAttributes) + L" " + std::to_wstring(data.nFileSizeLow) + L" " +
                         std::to_wstring(data.ftLastWriteTime.dwLowDateTime);
        if (deep && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) AddEntries(path, snapshot, true);
    } while (::FindNextFileW(find, &data));
}

std::map<std::wstring, std::wstring> Snapshot(const std::wstring& folder)
{
    std::map<std::wstring, std::wstring> snapshot;
    if (::GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES) return snapshot;
    snapshot[folder] = L"folder";
    AddEntries(folder, snapshot, true);
    return snapshot;
}

std::set<std::wstring> Paths(const std::map<std::wstring, std::wstring>& snapshot)
{
    std::set<std::wstring> paths;
    for (const auto& entry : snapshot) paths.insert(entry.first);
    return paths;
}

// The entries of the temporary folder, a folder's time left out: it follows what is inside.
static std::map<std::wstring, std::wstring> TempEntries(const std::wstring& temp)
{
    std::map<std::wstring, std::wstring> entries;
    AddEntries(temp, entries, false);
    for (auto& entry : entries)
        if (::GetFileAttributesW(entry.first.c_str()) & FILE_ATTRIBUTE_DIRECTORY) entry.second = L"folder";
    return entries;
}

// Those from before the first run only: a browser that a removal opens may add and remove its own
// files there meanwhile.
static const std::map<std::wstring, std::wstring>& TempAtStart(const std::wstring& temp)
{
    static const auto entries = TempEntries(temp);
    return entries;
}

static void WriteFile(const std::wstring& path, const std::string& bytes)
{
    CHandle file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written;
    ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

static void MakeDirs(const std::wstring& path)
{
    for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1))
        ::CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
    ::CreateDirectoryW(path.c_str(), nullptr);
}

StagedInstall::StagedInstall()
{
    wchar_t temp[MAX_PATH], longTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    // The temporary folder can come as a short name (a long or Chinese user name): the checker and
    // the folder listings name paths in full.
    if (!::GetLongPathNameW(temp, longTemp, MAX_PATH)) ::lstrcpyW(longTemp, temp);
    m_temp = longTemp;
    if (m_temp.back() == L'\\') m_temp.pop_back();
    TempAtStart(m_temp);
    static int count = 0;
    do m_base = m_temp + L"\\Zembrat e2e " + std::to_wstring(::GetCurrentProcessId()) + L"-" + std::to_wstring(++count);
    while (!CreateMarkedFolder(m_base) && count < 1000);
    if (!IsMarkedFolder(m_base)) m_problem = "no folder of its own under the temporary folder";
    m_root = m_base + L"\\Zembrat 网络电话";
    MakeDirs(m_root);
    // The same names beside the installation, unlisted: they must stay as they are.
    const std::wstring decoy = m_base + L"\\Zembrat 网络电话 备份";
    MakeDirs(decoy + L"\\语音");
    WriteFile(decoy + L"\\语音\\提示音.wav", "decoy");
    WriteFile(decoy + L"\\Quorill.exe", "decoy");
    Install();
}

void StagedInstall::Install()
{
    ::CopyFileW((ProgramFolder() + L"Uninst.exe").c_str(), Exe().c_str(), FALSE);
    if (!CreateMarkedKey(UNINSTALL_KEY)) {
        m_problem = KIT_KEY_TAKEN;
        return;
    }
    HKEY key;
    ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_WRITE | KEY_WOW64_32KEY, &key);
    const wchar_t name[] = L"Zembrat";
    ::RegSetValueExW(key, L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name), sizeof name);
    const std::wstring uninstall = L"\"" + Exe() + L"\"";
    ::RegSetValueExW(key, L"UninstallString", 0, REG_SZ, reinterpret_cast<const BYTE*>(uninstall.c_str()),
                     static_cast<DWORD>((uninstall.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

StagedInstall::~StagedInstall()
{
    DeleteMarkedKey(UNINSTALL_KEY);
    // Uninst.exe may still be held for a moment by a process that has just ended.
    for (int attempt = 0; attempt < 50 && !RemoveMarkedFolder(m_base); ++attempt) ::Sleep(100);
}

std::wstring StagedInstall::Path(const std::wstring& relative) const
{
    return relative.empty() ? m_root : m_root + L"\\" + relative;
}

std::wstring StagedInstall::AddFile(const std::wstring& relative)
{
    const std::wstring path = Path(relative);
    MakeDirs(path.substr(0, path.rfind(L'\\')));
    WriteFile(path, "Zembrat");
    return path;
}

std::wstring StagedInstall::AddDir(const std::wstring& relative)
{
    MakeDirs(Path(relative));
    return Path(relative);
}

void StagedInstall::WriteManifest(const std::vector<std::wstring>& files, const std::vector<std::wstring>& dirs,
                                  UINT codePage)
{
    std::wstring text = L"[Files]\r\n";
    for (size_t i = 0; i < files.size(); ++i) text += std::to_wstring(i) + L"=" + files[i] + L"\r\n";
    text += L"[Dirs]\r\n";
    for (size_t i = 0; i < dirs.size(); ++i) text += std::to_wstring(i) + L"=" + dirs[i] + L"\r\n";
    WriteManifestText(text, codePage);
}

void StagedInstall::WriteManifestText(const std::wstring& text, UINT codePage)
{
    const std::wstring withMark = L"\xFEFF" + text;
    std::string bytes(reinterpret_cast<const char*>(withMark.data()), withMark.size() * sizeof(wchar_t));
    if (codePage) {
        const int n = static_cast<int>(text.size());
        bytes.resize(::WideCharToMultiByte(codePage, 0, text.data(), n, nullptr, 0, nullptr, nullptr));
        ::WideCharToMultiByte(codePage, 0, text.data(), n, &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr);
    }
    WriteFile(Path(L"Uninst.ini"), bytes);
}

bool StagedInstall::Exists(const std::wstring& relative) const
{
    return ::GetFileAttributesW(Path(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::map<std::wstring, std::wstring> StagedInstall::Surroundings() const
{
    auto around = Snapshot(m_base + L"\\Zembrat 网络电话 备份");
    const auto now = TempEntries(m_temp);
    for (const auto& entry : TempAtStart(m_temp)) {
        const auto found = now.find(entry.first);
        around[entry.first] = found == now.end() ? L"gone" : found->second;
    }
    return around;
}

// Under Wine only: a Unix program run in a folder, with arguments relative to it, until the link
// is there or not (as wanted). Wine runs it as a Unix process, which no handle waits for.
static bool RunUnix(const std::wstring& commandLine, const std::wstring& folder, const std::wstring& link, bool there)
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    std::wstring line = commandLine;
    const std::wstring exe = L"Z:\\bin\\" + commandLine.substr(0, commandLine.find(L' '));
    if (!::CreateProcessW(exe.c_str(), &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup, &info))
        return false;
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    for (int i = 0; i < 3000; ++i, ::Sleep(10))
        if ((::GetFileAttributesW(link.c_str()) != INVALID_FILE_ATTRIBUTES) == there) return true;
    return false;
}

bool UnderWine()
{
    return ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

static std::wstring NameOf(const std::wstring& path)
{
    return path.substr(path.rfind(L'\\') + 1);
}

static std::wstring FolderOf(const std::wstring& path)
{
    return path.substr(0, path.rfind(L'\\'));
}

bool MakeUsersDirectoryLink(const std::wstring& link, const std::wstring& target)
{
    // The target lies beside the link's folder: relative, every path stays ASCII for the Unix side.
    if (UnderWine()) return RunUnix(L"ln -s ../" + NameOf(target) + L" " + NameOf(link), FolderOf(link), link, true);
    typedef BOOLEAN(WINAPI * PFNCREATESYMBOLICLINKW)(LPCWSTR, LPCWSTR, DWORD);
    const auto createSymbolicLink = reinterpret_cast<PFNCREATESYMBOLICLINKW>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "CreateSymbolicLinkW")));
    const DWORD DIRECTORY = 1;  // SYMBOLIC_LINK_FLAG_DIRECTORY, from Windows Vista on
    if (!createSymbolicLink || !createSymbolicLink(link.c_str(), target.c_str(), DIRECTORY)) return false;
    // Made by an elevated process, it belongs to Administrators: given to the user who runs the tests.
    HANDLE token;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    const CHandle tokenHolder(token);
    BYTE user[256];
    DWORD size;
    const CHandle file(::CreateFileW(link.c_str(), WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
    return ::GetTokenInformation(token, TokenUser, user, sizeof user, &size) &&
           ::SetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                             reinterpret_cast<TOKEN_USER*>(user)->User.Sid, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

void RemoveDirectoryLink(const std::wstring& link)
{
    if (UnderWine()) RunUnix(L"rm " + NameOf(link), FolderOf(link), link, false);
    else ::RemoveDirectoryW(link.c_str());
}
