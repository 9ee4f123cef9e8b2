#include "check/UninstallKey.h"
#include "check/CanonicalPath.h"
#include <windows.h>
#include <shellapi.h>

static const wchar_t KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";
const wchar_t UNINSTALL_KEY_NAME[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

// Owns an open registry key; cannot be copied.
class CRegKey {
public:
    CRegKey(HKEY root, REGSAM view) { ::RegOpenKeyExW(root, KEY, 0, KEY_READ | view, &m_key); }
    ~CRegKey() { if (m_key) ::RegCloseKey(m_key); }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    operator HKEY() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

static std::wstring Subkeys(HKEY key)
{
    std::wstring names;
    WCHAR name[256];
    for (DWORD i = 0, size = 256; ::RegEnumKeyExW(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         ++i, size = 256)
        names += (names.empty() ? L"" : L", ") + std::wstring(name);
    return names;
}

// Apps & features runs as a 64-bit process on a 64-bit Windows: its %ProgramFiles% is the 64-bit
// folder, which a 32-bit process such as this one finds in %ProgramW6432%.
static std::wstring AsTheShellExpands(std::wstring value, bool wow64)
{
    static const LPCWSTR names[][2] = {{L"%PROGRAMFILES%", L"%ProgramW6432%"},
                                       {L"%COMMONPROGRAMFILES%", L"%CommonProgramW6432%"}};
    if (wow64)
        for (const auto& name : names)
            for (size_t at = Key(value).find(name[0]); at != std::wstring::npos; at = Key(value).find(name[0], at))
                value.replace(at, ::lstrlenW(name[0]), name[1]);
    std::wstring expanded(::ExpandEnvironmentStringsW(value.c_str(), nullptr, 0), L'\0');
    ::ExpandEnvironmentStringsW(value.c_str(), &expanded[0], static_cast<DWORD>(expanded.size()));
    return expanded.c_str();
}

// A string value as the shell reads it; whether it is there.
static bool ReadString(HKEY key, LPCWSTR pszName, bool wow64, std::wstring& text)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, pszName, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::wstring value(size / sizeof(WCHAR) + 1, L'\0');
    ::RegQueryValueExW(key, pszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&value[0]), &size);
    value.resize(::lstrlenW(value.c_str()));
    text = type == REG_EXPAND_SZ ? AsTheShellExpands(value, wow64) : value;
    return true;
}

// A DWORD value; 0 when it is not there.
static DWORD ReadNumber(HKEY key, LPCWSTR pszName)
{
    DWORD type = 0, value = 0, size = sizeof value;
    if (::RegQueryValueExW(key, pszName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return 0;
    return value;
}

static bool IsExe(const std::wstring& program, const std::wstring& exe)
{
    const bool full = program.size() > 2 && ((program[1] == L':' && program[2] == L'\\') || program.compare(0, 2, L"\\\\") == 0);
    return full && Key(RealPath(program, true)) == Key(exe);
}

static std::wstring Another(const std::wstring& exe, const std::wstring& program)
{
    return L"names another program than " + exe + L": " + (program.empty() ? L"none" : program);
}

// What the system tries first for an unquoted command: the part before the first space, as a
// program, with .exe when its name has no extension.
static std::wstring FirstTry(const std::wstring& command)
{
    const std::wstring first = command.substr(0, command.find(L' '));
    return first.find(L'.', first.rfind(L'\\') + 1) == std::wstring::npos ? first + L".exe" : first;
}

// Why the command does not start exe; empty when it does, and then args holds what follows.
static std::wstring CommandFault(const std::wstring& command, const std::wstring& exe, std::wstring& args)
{
    if (!command.empty() && command[0] == L'"') {
        const size_t close = command.find(L'"', 1);
        const std::wstring program = command.substr(1, close - 1);
        if (!IsExe(program, exe)) return Another(exe, program);
        args = close == std::wstring::npos ? L"" : command.substr(close + 1);
        return L"";
    }
    // Unquoted, the system tries the command up to each space in turn and starts the first program
    // there is (CWE-428).
    size_t end = 0;
    do {
        end = command.find(L' ', end + 1);
        if (!IsExe(command.substr(0, end), exe)) continue;
        args = end == std::wstring::npos ? L"" : command.substr(end);
        if (command.find(L' ') >= end) return L"";
        return L"unquoted, with a space: Windows tries " + FirstTry(command) +
               L" first, then the path up to each further space, and starts the first program there is; put the path "
               L"in quotes";
    } while (end != std::wstring::npos);
    return Another(exe, command.substr(0, command.find(L' ')));
}

// Uninst.exe runs silently with any of these words after / or -, in any letter case, anywhere on
// its command line as Windows splits it into words; the first one there is.
static std::wstring SilentWord(const std::wstring& args)
{
    static const LPCWSTR words[] = {L"S", L"SILENT", L"VERYSILENT", L"QUIET", L"Q", L"QN"};
    int count = 0;
    LPWSTR* argv = ::CommandLineToArgvW((L"Uninst.exe " + args).c_str(), &count);
    std::wstring found;
    for (int i = 1; argv && i < count && found.empty(); ++i)
        for (LPCWSTR word : words)
            if ((argv[i][0] == L'/' || argv[i][0] == L'-') && Key(argv[i] + 1) == word) found = argv[i];
    ::LocalFree(argv);
    return found;
}

static CommandVerdict JudgeCommand(HKEY key, LPCWSTR pszName, const std::wstring& exe, bool wow64, bool silent)
{
    CommandVerdict v = {false, L"", L"", L""};
    v.present = ReadString(key, pszName, wow64, v.command);
    if (!v.present) return v;
    std::wstring args;
    v.fault = CommandFault(v.command, exe, args);
    v.silentWord = SilentWord(args);
    if (silent && v.fault.empty() && v.silentWord.empty())
        v.fault = L"starts the Uninst.exe checked without a silent word such as /S: deployment tools would start the "
                  L"interactive run, which waits for an answer";
    return v;
}

std::vector<UninstallKeyVerdict> JudgeUninstallKey(const std::wstring& exe)
{
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    struct Place {
        HKEY root;
        REGSAM view;
        LPCWSTR where;
        LPCWSTR hive;
    };
    // Apps & features lists the entries of the machine and of the user; a 32-bit Windows has one view.
    const Place places[] = {{HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"32-bit view", L"HKLM\\"},
                            {HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"64-bit view", L"HKLM\\"},
                            {HKEY_CURRENT_USER, 0, L"current user", L"HKCU\\"}};
    std::vector<UninstallKeyVerdict> verdicts;
    for (const Place& place : places) {
        if (place.view == KEY_WOW64_64KEY && !wow64) continue;
        const CRegKey key(place.root, place.view);
        if (!key) continue;
        UninstallKeyVerdict v;
        v.where = place.where;
        v.name = place.hive + std::wstring(KEY);
        const std::wstring subkeys = Subkeys(key);
        if (place.root == HKEY_CURRENT_USER)
            v.stays = L"Uninst.exe deletes it only under HKLM: Apps & features still lists it for this user";
        else if (place.view == KEY_WOW64_64KEY)
            v.stays = L"Uninst.exe, a 32-bit program, deletes the key only in the 32-bit view";
        else if (!subkeys.empty())
            v.stays = L"it holds subkeys (" + subkeys + L"), and Uninst.exe deletes only a key without any";

        std::wstring name;
        if (!ReadString(key, L"DisplayName", wow64, name) || name.empty())
            v.listing.push_back(L"no DisplayName: Apps & features does not list it");
        if (const DWORD hidden = ReadNumber(key, L"SystemComponent"))
            v.listing.push_back(L"SystemComponent is " + std::to_wstring(hidden) + L": Apps & features does not list it");
        if (const DWORD fixed = ReadNumber(key, L"NoRemove"))
            v.listing.push_back(L"NoRemove is " + std::to_wstring(fixed) + L": Apps & features offers no Uninstall for it");
        ReadString(key, L"ParentKeyName", wow64, v.parent);

        v.uninstall = JudgeCommand(key, L"UninstallString", exe, wow64, false);
        if (!v.uninstall.present) v.uninstall.fault = L"no UninstallString: Apps & features has nothing to start";
        if (const DWORD msi = ReadNumber(key, L"WindowsInstaller"))
            v.uninstall.fault = L"WindowsInstaller is " + std::to_wstring(msi) +
                                L": Apps & features takes Quorill2010 for a Windows Installer product and starts "
                                L"msiexec /x for it, not UninstallString";
        v.quiet = JudgeCommand(key, L"QuietUninstallString", exe, wow64, true);
        verdicts.push_back(v);
    }
    return verdicts;
}
