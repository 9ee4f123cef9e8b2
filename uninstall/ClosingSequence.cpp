#include "uninstall/ClosingSequence.h"
#include "platform/Handle.h"
#include "uninstall/RemovalLog.h"

static const WCHAR CAPTION[] = L"Zembrat";
static const WCHAR STAYED[] = L"“Zembrat”网络电话已从本计算机中删除，但以下文件或文件夹未能删除，您可以手动删除它们：\n";
static const WCHAR MORE_STAYED[] = L"\n……另有 %d 项。";
static const WCHAR RESTART[] = L"“Zembrat”网络电话已从本计算机中删除。部分文件正在使用中，需要重新启动计算机才能完成卸载。\n\n"
                               L"是否立即重新启动计算机？";

static void ShowWhatStayed(const CStringList& stayed)
{
    CString text(STAYED);
    for (INT_PTR i = 0; i < stayed.GetCount() && i < STAYED_NAMED; ++i) {
        text += L"\n";
        text += stayed.GetAt(stayed.FindIndex(i));
    }
    WCHAR more[40];
    ::wsprintfW(more, MORE_STAYED, static_cast<int>(stayed.GetCount() - STAYED_NAMED));
    if (stayed.GetCount() > STAYED_NAMED) text += more;
    ::MessageBoxW(nullptr, text, CAPTION, MB_OK | MB_ICONEXCLAMATION);
    ::wsprintfW(more, L"%d named", static_cast<int>(stayed.GetCount()));
    LogLine(L"box", L"what stayed", more);
}

// As installers do: the shutdown privilege enabled, and the restart given as planned, for an installation.
static void RestartComputer()
{
    HANDLE hToken;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) {
        const CHandle token(hToken);
        TOKEN_PRIVILEGES privileges = {1, {}};
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
            ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    if (::ExitWindowsEx(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                        SHTDN_REASON_FLAG_PLANNED))
        LogLine(L"restart", L"started");
    else
        LogLine(L"restart", L"not started", CErrorText(::GetLastError()));
}

void EndRemovalAtDesktop(const Leftovers& left)
{
    // The dialog's end leaves quit messages behind, which would end a box's own loop at once.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    if (left.stayed.GetCount()) ShowWhatStayed(left.stayed);
    if (!left.atRestart.GetCount()) return;
    if (::MessageBoxW(nullptr, RESTART, CAPTION, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) != IDYES) {
        LogLine(L"restart", L"asked; answered No: what waits for it goes at the next restart");
        return;
    }
    LogLine(L"restart", L"asked; answered Yes");
    RestartComputer();
}
