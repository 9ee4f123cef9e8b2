// A helper for the checker's tests, run in the same Wine prefix:
//   probe console  runs the rest of its command line on a console of its own, with the output code
//                  page 437, and prints the console's lines once the program has ended
//   probe volume X:\  prints the \\?\Volume{…}\ name of the drive
//   probe hold FILE  holds the file open without delete sharing, prints "held", until its input ends
//   probe winget     starts the uninstall entry's QuietUninstallString as winget does: the program
//                    and its arguments apart through ShellExecuteEx, waited for; prints its whole
//                    exit code, which Unix would cut to 8 bits
#include "StartInJob.h"
#include <shellapi.h>
#include <string>

static void Print(const std::wstring& text)
{
    std::string utf8(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], static_cast<int>(utf8.size()), nullptr, nullptr);
    utf8.back() = '\n';
    DWORD written;
    ::WriteFile(::GetStdHandle(STD_OUTPUT_HANDLE), utf8.data(), static_cast<DWORD>(utf8.size()), &written, nullptr);
}

static int Console(LPWSTR commandLine)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    ::FreeConsole();
    if (!::AllocConsole()) return 3;
    ::SetStdHandle(STD_OUTPUT_HANDLE, out);
    ::SetConsoleOutputCP(437);
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    const HANDLE screen = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        &inherit, OPEN_EXISTING, 0, nullptr);
    const COORD size = {400, 200};
    ::SetConsoleScreenBufferSize(screen, size);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = screen;
    PROCESS_INFORMATION process;
    if (!CreateProcessInJob(nullptr, commandLine, TRUE, 0, nullptr, &startup, &process))
        return 3;
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 3;
    ::GetExitCodeProcess(process.hProcess, &code);

    CONSOLE_SCREEN_BUFFER_INFO info;
    ::GetConsoleScreenBufferInfo(screen, &info);
    for (SHORT y = 0; y < info.dwCursorPosition.Y; ++y) {
        std::wstring line(info.dwSize.X, L' ');
        DWORD read = 0;
        ::ReadConsoleOutputCharacterW(screen, &line[0], info.dwSize.X, {0, y}, &read);
        line.resize(line.find_last_not_of(L' ') + 1);
        Print(line);
    }
    return static_cast<int>(code);
}

static int StartQuietUninstall()
{
    HKEY key;
    WCHAR value[1024] = {};
    DWORD size = sizeof value - sizeof(WCHAR);
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010", 0,
                        KEY_READ | KEY_WOW64_32KEY, &key) != ERROR_SUCCESS)
        return 3;
    const LONG read = ::RegQueryValueExW(key, L"QuietUninstallString", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
    ::RegCloseKey(key);
    const std::wstring command = value;
    if (read != ERROR_SUCCESS || command.empty()) return 3;
    const size_t end = command[0] == L'"' ? command.find(L'"', 1) : command.find(L' ');
    const std::wstring file = command[0] == L'"' ? command.substr(1, end - 1) : command.substr(0, end);
    const std::wstring arguments = end == std::wstring::npos ? L"" : command.substr(command.find_first_not_of(L" \"", end));
    SHELLEXECUTEINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    info.lpVerb = L"open";
    info.lpFile = file.c_str();
    info.lpParameters = arguments.c_str();
    info.nShow = SW_SHOWNORMAL;
    if (!::ShellExecuteExW(&info) || !info.hProcess) return 3;
    ::WaitForSingleObject(info.hProcess, INFINITE);
    DWORD code = 3;
    ::GetExitCodeProcess(info.hProcess, &code);
    ::CloseHandle(info.hProcess);
    Print(L"exit " + std::to_wstring(code));
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    const std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"console") return Console(::wcsstr(::GetCommandLineW(), L" console ") + 9);
    if (command == L"winget") return StartQuietUninstall();
    if (command == L"hold" && argc > 2) {
        const HANDLE file = ::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return 3;
        Print(L"held");
        char c;
        DWORD read;
        while (::ReadFile(::GetStdHandle(STD_INPUT_HANDLE), &c, 1, &read, nullptr) && read > 0) continue;
        ::CloseHandle(file);
        return 0;
    }
    WCHAR volume[MAX_PATH];
    if (command == L"volume" && argc > 2 && ::GetVolumeNameForVolumeMountPointW(argv[2], volume, MAX_PATH)) {
        Print(volume);
        return 0;
    }
    return 2;
}
