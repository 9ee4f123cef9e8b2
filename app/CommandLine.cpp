#include "app/CommandLine.h"
#include "app/RemovalLog.h"
#include "app/UninstallerApp.h"
#include <shellapi.h>

static const WCHAR SILENT[] = L"/S";
static const WCHAR LOG[] = L"/LOG=";

// The invariant locale folds the ASCII letters alike for every user.
static bool StartsWith(LPCWSTR pszWord, LPCWSTR pszPrefix, int nWord)
{
    const int n = ::lstrlenW(pszPrefix);
    return nWord >= n && ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, pszWord, n, pszPrefix, n) == CSTR_EQUAL;
}

void ReadCommandLine()
{
    const LPCWSTR commandLine = ::GetCommandLineW();
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine, &count);
    if (!words) return;
    for (int i = 1; i < count; ++i) {
        const int n = ::lstrlenW(words[i]);
        if (n == 2 && StartsWith(words[i], SILENT, n)) g_silent = 1;
        else if (n > 5 && StartsWith(words[i], LOG, n)) OpenRemovalLog(words[i] + 5);
    }
    ::LocalFree(words);
    LogLine(L"command line", commandLine);
}
