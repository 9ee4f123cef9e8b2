#include "check/UninstallKey.h"
#include "check/CanonicalPath.h"
#include <windows.h>

static const wchar_t KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";
const wchar_t UNINSTALL_KEY_NAME[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

// Owns an open registry key; cannot be copied.
class CRegKey {
public:
    CRegKey(REGSAM view) { ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, KEY, 0, KEY_READ | view, &m_key); }
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

// The value as the shell reads it, environment variables expanded; whether it is there.
static bool ReadCommand(HKEY key, std::wstring& command)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExW(key, L"UninstallString", nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return false;
    std::wstring value(size / sizeof(WCHAR) + 1, L'\0');
    ::RegQueryValueExW(key, L"UninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(&value[0]), &size);
    value.resize(::lstrlenW(value.c_str()));
    command = value;
    if (type == REG_EXPAND_SZ) {
        std::wstring expanded(::ExpandEnvironmentStringsW(value.c_str(), nullptr, 0), L'\0');
        ::ExpandEnvironmentStringsW(value.c_str(), &expanded[0], static_cast<DWORD>(expanded.size()));
        command = expanded.c_str();
    }
    return true;
}

// The program a command line starts: the first word, or what the first pair of quotes holds. An
// unquoted path with a space is cut there, as the system reads it first.
static std::wstring ProgramOf(const std::wstring& command)
{
    if (!command.empty() && command[0] == L'"') return command.substr(1, command.find(L'"', 1) - 1);
    return command.substr(0, command.find(L' '));
}

static std::wstring CommandFault(const std::wstring& command, const std::wstring& exe)
{
    const std::wstring program = ProgramOf(command);
    const bool full = program.size() > 2 && ((program[1] == L':' && program[2] == L'\\') || program.compare(0, 2, L"\\\\") == 0);
    if (full && Key(RealPath(program, true)) == Key(exe)) return L"";
    return L"names another program than " + exe + L": " + (program.empty() ? L"none" : program);
}

std::vector<UninstallKeyVerdict> JudgeUninstallKey(const std::wstring& exe)
{
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    std::vector<UninstallKeyVerdict> verdicts;
    for (const bool is64 : {false, true}) {
        if (is64 && !wow64) break;  // a 32-bit Windows has one view
        const CRegKey key(is64 ? KEY_WOW64_64KEY : KEY_WOW64_32KEY);
        if (!key) continue;
        UninstallKeyVerdict v = {is64, L"", L"", L""};
        const std::wstring subkeys = Subkeys(key);
        if (is64)
            v.stays = L"Uninst.exe, a 32-bit program, deletes the key only in the 32-bit view";
        else if (!subkeys.empty())
            v.stays = L"it holds subkeys (" + subkeys + L"), and Uninst.exe deletes only a key without any";
        v.wrongCommand = ReadCommand(key, v.command) ? CommandFault(v.command, exe)
                                                     : L"no UninstallString: Apps & features has nothing to start";
        verdicts.push_back(v);
    }
    return verdicts;
}
