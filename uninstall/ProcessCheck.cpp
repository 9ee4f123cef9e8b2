#include "uninstall/ProcessCheck.h"
#include "platform/Handle.h"
#include "uninstall/RemovalLog.h"
#include <tlhelp32.h>

// The program sets no locale, so only A to Z are folded.
static WCHAR FoldAscii(WCHAR c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<WCHAR>(c - L'A' + L'a') : c;
}

static bool SameName(LPCWSTR a, LPCWSTR b)
{
    for (; FoldAscii(*a) == FoldAscii(*b); ++a, ++b)
        if (*a == L'\0') return true;
    return false;
}

DWORD FindProcessByName(LPCWSTR pszName)
{
    if (!pszName) return 0;
    CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.IsValid()) return 0;

    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        if (SameName(entry.szExeFile, pszName)) return entry.th32ProcessID;
    return 0;
}

bool ProductIsRunning()
{
    if (FindProcessByName(L"Quorill.exe") == 0) return false;
    LogLine("refused", "Quorill.exe is running: nothing changed");
    return true;
}
