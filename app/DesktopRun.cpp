#include "app/DesktopRun.h"
#include "platform/Handle.h"
#include "platform/Thread.h"
#include "platform/WinApp.h"
#include "uninstall/DiskSite.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/Removal.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/UninstallKey.h"

static const WCHAR CAPTION[] = L"Zembrat";
static const WCHAR PRODUCT_RUNNING_TEXT[] = L"“Zembrat”网络电话正在运行中，请关闭后再卸载。";
static const WCHAR CONFIRM_REMOVAL[] = L"您确定要从本计算机中删除“Zembrat”网络电话吗？";

bool ShowEndBox(const RunState& run)
{
    const EndBox box = ChooseEndBox(run.outcome, run.removal);
    if (box.text.IsEmpty()) return false;
    // The dialog's end leaves quit messages behind, which would end a box's own loop at once.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {}
    const bool yes = ::MessageBoxW(nullptr, box.text, CAPTION, box.type) == IDYES;

    if (run.outcome == NOTHING_LISTED_HERE) LogLine("box", "nothing removed: install again, then remove");
    if (box.named) {
        WCHAR named[40];
        ::wsprintfW(named, L"%d named of %d", box.named, static_cast<int>(run.removal.stayed.GetCount()));
        LogLine("box", "what stayed", named);
    }
    if (!(box.type & MB_YESNO)) return false;
    LogLine("restart", yes ? "asked; answered Yes: Windows is asked for it once the script has started and this log "
                             "is closed"
                           : "asked; answered No: what waits for it goes at the next restart");
    return yes;
}

void RemoveAtDesktop(RunState& run)
{
    CRemovalDialog dlg(run);
    AfxGetApp()->m_pMainWnd = &dlg;
    dlg.DoModal();
    run.restartNow = ShowEndBox(run);
}

// Every path that starts no worker posts the quit message itself. The template shows the dialog
// after this handler has run, even when it was hidden here, so a dialog that is not to be seen is
// also shrunk to nothing.
BOOL CRemovalDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);

    if (ProductIsRunning()) {
        MoveWindow(0, 0, 0, 0, TRUE);
        ShowWindow(SW_HIDE);
        MessageBox(PRODUCT_RUNNING_TEXT, CAPTION, MB_OK | MB_ICONEXCLAMATION);
        PostMessage(WM_QUIT);
        return FALSE;
    }

    ShowWindow(SW_HIDE);
    if (MessageBox(CONFIRM_REMOVAL, CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        LogLine("declined", "not answered Yes: nothing changed");
        MoveWindow(0, 0, 0, 0, TRUE);
        PostMessage(WM_QUIT);
        return TRUE;
    }

    CenterWindow();
    ShowWindow(SW_SHOW);
    m_run.outcome = LoadManifest(m_run.removal);
    if (m_run.outcome != REMOVED) {
        PostMessage(WM_QUIT);
        return TRUE;
    }

    m_progress.SetRange(0, static_cast<short>(m_run.removal.files.GetCount() + m_run.removal.dirs.GetCount()));
    m_progress.SetPos(0);
    // Without a worker nothing would ever post the quit message and the dialog could not be closed.
    if (AfxBeginThread(UninstallThreadProc, this)) return TRUE;
    LogLine("failed", "the removal could not start: nothing changed");
    PostMessage(WM_QUIT);
    return TRUE;
}

// A user's run removes the entry and Uninst.exe whatever stays, as it always has.
DWORD WINAPI UninstallThreadProc(LPVOID pParam)
{
    CRemovalDialog& dlg = *static_cast<CRemovalDialog*>(pParam);
    StartDownloadPage();
    CDiskSite disk(dlg.m_hWnd);
    dlg.m_run.outcome = RemoveListed(dlg.m_run.removal, disk);
    LeaveAfterExit(dlg.m_run.removal);
    dlg.m_run.done = true;
    DeleteUninstallKey();
    ::PostMessageW(dlg.m_hWnd, WM_QUIT, 0, 0);
    return 0;
}

// The shutdown privilege enabled, without which Windows refuses, and the restart given as planned,
// for an installation.
void RestartComputer()
{
    HANDLE hToken;
    if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &hToken)) {
        const CHandle token(hToken);
        TOKEN_PRIVILEGES privileges = {1, {}};
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
            ::AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    ::ExitWindowsEx(EWX_REBOOT,
                    SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION | SHTDN_REASON_FLAG_PLANNED);
}
