#include "platform/Dialog.h"
#include "platform/PaintDC.h"
#include "platform/WinApp.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    rControl.m_hWnd = ::GetDlgItem(pDX->m_pDlgWnd->m_hWnd, nIDC);
}

INT_PTR CDialog::DoModal()
{
    if (!::CreateDialogParamW(AfxGetResourceHandle(), MAKEINTRESOURCEW(m_nIDTemplate), nullptr,
                              DialogProc, reinterpret_cast<LPARAM>(this))) {
        // No window, so no WM_NCDESTROY lets go of the application's reference to this object,
        // which ends with its caller's scope.
        ReleaseMainWnd();
        return -1;
    }

    MSG* pMsg = AfxGetCurrentMessage();
    while (::GetMessageW(pMsg, nullptr, 0, 0) > 0) {
        if (!::IsDialogMessageW(m_hWnd, pMsg)) {
            ::TranslateMessage(pMsg);
            ::DispatchMessageW(pMsg);
        }
    }
    // The quit message ends this loop; pass it on to whatever loop runs next, as the framework does.
    ::PostQuitMessage(0);

    SetWindowPos(nullptr, 0, 0, 0, 0, SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
    ::DestroyWindow(m_hWnd);
    return -1;
}

BOOL CDialog::OnInitDialog()
{
    CDataExchange dx(this);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnWndMsg(UINT message, WPARAM wParam, LPARAM, LRESULT* pResult)
{
    if (message != WM_COMMAND) return FALSE;
    if (LOWORD(wParam) == IDOK) OnOK();
    else if (LOWORD(wParam) == IDCANCEL) OnCancel();
    else return FALSE;
    *pResult = 0;
    return TRUE;
}

// The ordinary painting of a dialog: BeginPaint erases the background with the dialog's brush.
void CDialog::OnPaint()
{
    CPaintDC dc(this);
}

bool CDialog::ReleaseMainWnd()
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp || pApp->m_pMainWnd != this) return false;
    pApp->m_pMainWnd = nullptr;
    return true;
}

void CDialog::OnNcDestroy()
{
    if (ReleaseMainWnd()) ::PostQuitMessage(0);
    m_hWnd = nullptr;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        CDialog* pDlg = reinterpret_cast<CDialog*>(lParam);
        pDlg->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        return pDlg->OnInitDialog();
    }

    CDialog* pDlg = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    if (!pDlg) return FALSE;  // a message that comes before WM_INITDIALOG, such as WM_SETFONT
    if (message == WM_NCDESTROY) {
        pDlg->OnNcDestroy();
        return FALSE;
    }

    LRESULT result = 0;
    if (!pDlg->OnWndMsg(message, wParam, lParam, &result)) return FALSE;
    // A dialog procedure returns the answer to WM_QUERYDRAGICON itself; other results go through DWLP_MSGRESULT.
    if (message == WM_QUERYDRAGICON) return result;
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}
