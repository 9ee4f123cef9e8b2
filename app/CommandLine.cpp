#include "app/CommandLine.h"
#include "uninstall/RemovalLog.h"
#include <shellapi.h>

// NSIS's, Inno Setup's and Windows Installer's words for it, which administrators reach for.
static const LPCWSTR SILENT_WORDS[] = {L"S", L"SILENT", L"VERYSILENT", L"QUIET", L"Q", L"QN"};
static const WCHAR LOG[] = L"/LOG=";

// The invariant locale folds the ASCII letters alike for every user.
static bool SameWord(LPCWSTR a, int n, LPCWSTR b)
{
    return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a, n, b, n < 0 ? -1 : n) == CSTR_EQUAL;
}

static bool IsSilentWord(LPCWSTR pszWord)
{
    if (pszWord[0] != L'/' && pszWord[0] != L'-') return false;
    for (LPCWSTR word : SILENT_WORDS)
        if (SameWord(pszWord + 1, -1, word)) return true;
    return false;
}

bool ReadCommandLine()
{
    const LPCWSTR commandLine = ::GetCommandLineW();
    int count = 0;
    LPWSTR* words = ::CommandLineToArgvW(commandLine, &count);
    if (!words) return false;
    bool silent = false;
    LPCWSTR log = nullptr;
    for (int i = 1; i < count; ++i) {
        if (IsSilentWord(words[i])) silent = true;
        else if (::lstrlenW(words[i]) > 5 && SameWord(words[i], 5, LOG)) log = words[i] + 5;
    }
    if (log) OpenRemovalLog(log);
    ::LocalFree(words);
    LogLine(L"command line", commandLine);
    return silent;
}
