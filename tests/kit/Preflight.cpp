// Preflight.exe: tells whether the test kit may run on this machine, and if not, why. Exit code 0:
// it may; 1: the prompt is not elevated, the product is installed, or it runs.
#include "platform/Handle.h"
#include "uninstall/ProcessCheck.h"
#include <cstdio>
#include <windows.h>

static const wchar_t UNINSTALL_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

// Uninst.exe asks for administrator rights, and input from a program that is not elevated cannot
// reach an elevated window: the end-to-end tests would hang at its first box.
static bool IsElevated()
{
    HANDLE opened;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    CHandle token(opened);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
}

static bool KeyExists(REGSAM view)
{
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

int wmain()
{
    if (!IsElevated()) {
        std::printf("This prompt is not elevated. Open a command prompt with \"Run as administrator\"\n"
                    "and start run-tests.cmd from there: Uninst.exe runs elevated, and the tests must\n"
                    "be able to answer its boxes.\n");
        return 1;
    }
    const REGSAM views[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    for (REGSAM view : views) {
        if (!KeyExists(view)) continue;
        std::printf("Quorill is installed on this machine: HKLM\\%ls exists in the %s registry view.\n"
                    "The tests create and delete that key; run them on a machine without Quorill.\n",
                    UNINSTALL_KEY, view == KEY_WOW64_32KEY ? "32-bit" : "64-bit");
        return 1;
    }
    if (const DWORD id = FindProcessByName(L"Quorill.exe")) {
        std::printf("Quorill.exe is running (process %lu). Close it, or better, run the tests on a\n"
                    "machine without Quorill.\n", id);
        return 1;
    }
    std::printf("Elevated; Quorill is neither installed nor running.\n");
    return 0;
}
