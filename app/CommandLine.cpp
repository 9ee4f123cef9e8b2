#include "app/CommandLine.h"
#include "app/RemovalLog.h"
#include "app/UninstallerApp.h"
#include <shellapi.h>

static const WCHAR SILENT[] = L"/S";
static const WCHAR LOG[] = L"/LOG=";

// The invariant locale folds the ASCII letters alike for every user.
static bool StartsWith(LPCWSTR pszWord, LPCWSTR pszPrefix)
{
    const int n = ::lstrlenW(pszPrefix);
    return ::lstrlenW(pszWord) >= n &&
           ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, pszWord, n, pszPrefix, n) == CSTR_EQUAL;
}

void ReadCommandLine()
{
    const LPCWSTR commandLine = ::GetCommandLineW();
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine, &count);
    if (!words) return;
    for (int i = 1; i < count; ++i) {
        if (StartsWith(words[i], SILENT) && !words[i][2]) g_silent = 1;
        else if (StartsWith(words[i], LOG) && words[i][5]) OpenRemovalLog(words[i] + 5);
    }
    ::LocalFree(words);
    LogLine(L"command line", commandLine);
}
