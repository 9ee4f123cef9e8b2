#include "platform/Thread.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/RemovalWorker.h"
#include "uninstall/RunState.h"

static const WCHAR CAPTION[] = L"Zembrat";
static const WCHAR PRODUCT_RUNNING_TEXT[] = L"“Zembrat”网络电话正在运行中，请关闭后再卸载。";
static const WCHAR CONFIRM_REMOVAL[] = L"您确定要从本计算机中删除“Zembrat”网络电话吗？";

// Every path that starts no worker posts the quit message itself. The template shows the dialog
// after this handler has run, even when it was hidden here, so a dialog that is not to be seen is
// also shrunk to nothing.
BOOL CUninstallerDialog::OnInitDialog()
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
        LogLine(L"declined", L"not answered Yes: nothing changed");
        MoveWindow(0, 0, 0, 0, TRUE);
        PostMessage(WM_QUIT);
        return TRUE;
    }

    CenterWindow();
    ShowWindow(SW_SHOW);
    g_outcome = LoadManifest();
    if (g_outcome != REMOVED) {
        PostMessage(WM_QUIT);
        return TRUE;
    }

    m_progress.SetRange(0, static_cast<short>(g_fileList.GetCount() + g_dirList.GetCount()));
    m_progress.SetPos(0);
    // Without a worker nothing would ever post the quit message and the dialog could not be closed.
    if (AfxBeginThread(UninstallThreadProc, m_hWnd)) return TRUE;
    LogLine(L"failed", L"the removal could not start: nothing changed");
    PostMessage(WM_QUIT);
    return TRUE;
}
