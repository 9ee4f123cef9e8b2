// A stand-in for the uninstaller's last moments, for the end-to-end test and the benchmark: it
// runs the real exit step and ends, so the script it starts deletes this program's own file.
//   ExitStep.exe done [TMP]    after a completed removal, with TMP set when given (a user's, which has
//                              no say where the script goes)
//   ExitStep.exe none [TMP]    after a run that removed nothing
//   ExitStep.exe hold FILE MS  keeps FILE open, unshared for deletion, for MS milliseconds; prints "held"
//                              once it does
//   ExitStep.exe endless [TMP] starts the unbounded, unpaused loop of the first design instead,
//                              for the benchmark's comparison
#include "app/UninstallerApp.h"
#include "uninstall/Manifest.h"
#include <cstdio>
#include <shellapi.h>
#include <string>

static void StartEndlessLoop()
{
    wchar_t exe[MAX_PATH], script[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ::GetTempPathW(MAX_PATH, script);
    ::lstrcatW(script, L"_endless_del.bat");
    char e[MAX_PATH], b[MAX_PATH];
    ::WideCharToMultiByte(CP_ACP, 0, exe, -1, e, MAX_PATH, nullptr, nullptr);
    ::WideCharToMultiByte(CP_ACP, 0, script, -1, b, MAX_PATH, nullptr, nullptr);
    // Without the trailing NUL byte, which would make Wine's cmd spin on the last line forever.
    const std::string text = std::string(":Repeat \r\n Del \"") + e + "\" \r\n if exist \"" + e
                             + "\" goto Repeat \r\nDel \"" + b + "\" ";
    HANDLE file = ::CreateFileW(script, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written;
    ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    ::CloseHandle(file);
    ::ShellExecuteW(nullptr, L"open", script, L"", L"", SW_HIDE);
}

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int)
{
    int argc;
    LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    if (mode == L"hold" && argc > 3) {
        HANDLE file = ::CreateFileW(argv[2], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file != INVALID_HANDLE_VALUE) std::printf("held\n");
        std::fflush(stdout);
        ::Sleep(std::stoul(argv[3]));
        ::CloseHandle(file);
        return file == INVALID_HANDLE_VALUE ? 2 : 0;
    }
    if (argc > 2) ::SetEnvironmentVariableW(L"TMP", argv[2]);
    if (mode == L"endless") {
        StartEndlessLoop();
        return 0;
    }
    theApp.m_run.done = mode == L"done";
    theApp.m_run.removal.exe = GetModulePath();
    theApp.m_run.removal.manifest = ManifestPath();
    return theApp.ExitInstance();
}
