#include "app/RemovalLog.h"
#include "app/UninstallerApp.h"
#include "platform/Thread.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/Manifest.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/RemovalWorker.h"

static const WCHAR CAPTION[] = L"Zembrat";
static const WCHAR PRODUCT_RUNNING[] = L"“Zembrat”网络电话正在运行中，请关闭后再卸载。";
static const WCHAR CONFIRM_REMOVAL[] = L"您确定要从本计算机中删除“Zembrat”网络电话吗？";

// A window station without WSF_VISIBLE is a service's (a deployment tool's, in session 0): nobody
// sees a box there, and it would wait for good.
static bool NobodyCanAnswer()
{
    USEROBJECTFLAGS flags;
    DWORD needed;
    return ::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) &&
           !(flags.dwFlags & WSF_VISIBLE);
}

// Every path that starts no worker posts the quit message itself, with a silent run's exit code.
// The template shows the dialog after this handler has run, even when it was hidden here, so a
// dialog that is not to be seen is also shrunk to nothing.
BOOL CUninstallerDialog::OnInitDialog()
{
    CDialog::OnInitDialog();
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    SetWindowPos(HWND_TOPMOST, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE);

    if (!g_silent && NobodyCanAnswer()) {
        LogLine(L"refused", L"no visible desktop, nobody to answer: nothing changed");
        MoveWindow(0, 0, 0, 0, TRUE);
        ShowWindow(SW_HIDE);
        PostMessage(WM_QUIT, ERROR_INSTALL_USEREXIT);
        return FALSE;
    }

    if (FindProcessByName(L"Quorill.exe") != 0) {
        LogLine(L"refused", L"Quorill.exe is running: nothing changed");
        MoveWindow(0, 0, 0, 0, TRUE);
        ShowWindow(SW_HIDE);
        if (!g_silent) MessageBox(PRODUCT_RUNNING, CAPTION, MB_OK | MB_ICONEXCLAMATION);
        PostMessage(WM_QUIT, g_silent ? ERROR_INSTALL_ALREADY_RUNNING : 0);
        return FALSE;
    }

    ShowWindow(SW_HIDE);
    if (!g_silent && MessageBox(CONFIRM_REMOVAL, CAPTION, MB_YESNO | MB_ICONQUESTION) != IDYES) {
        LogLine(L"declined", L"not answered Yes: nothing changed");
        MoveWindow(0, 0, 0, 0, TRUE);
        PostMessage(WM_QUIT);
        return TRUE;
    }

    if (!g_silent) {
        CenterWindow();
        ShowWindow(SW_SHOW);
    }
    const CString directory = GetModuleDirectory();
    const CString manifest = directory + L"Uninst.ini";
    if (directory.IsEmpty() || !FileExists(manifest)) {
        LogLine(L"refused", L"no manifest: nothing changed", manifest);
        PostMessage(WM_QUIT, g_silent ? ERROR_UNKNOWN_PRODUCT : 0);
        return TRUE;
    }

    ReadManifestSection(manifest, L"Files", g_fileList);
    ReadManifestSection(manifest, L"Dirs", g_dirList);
    ::DeleteFileW(manifest);

    m_progress.SetRange(0, static_cast<short>(g_fileList.GetCount() + g_dirList.GetCount()));
    m_progress.SetPos(0);
    // Without a worker nothing would ever post the quit message and the dialog could not be closed.
    if (AfxBeginThread(UninstallThreadProc, this)) return TRUE;
    LogLine(L"failed", L"the removal could not start", manifest);
    PostMessage(WM_QUIT, g_silent ? ERROR_INSTALL_FAILURE : 0);
    return TRUE;
}

// A silent run keeps the dialog hidden, also when the system shows it after its initialisation.
void CUninstallerDialog::OnWindowPosChanging(WINDOWPOS* lpwndpos)
{
    if (!g_silent) return;
    lpwndpos->flags &= ~SWP_SHOWWINDOW;
}
