#include "platform/WinApp.h"

static CWinApp* afxApp;
static MSG afxMsgCur;

CWinApp::CWinApp()
{
    afxApp = this;
}

int CWinApp::ExitInstance()
{
    return static_cast<int>(afxMsgCur.wParam);
}

HICON CWinApp::LoadIcon(UINT nIDResource) const
{
    return ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIDResource));
}

CWinApp* AfxGetApp() { return afxApp; }
HINSTANCE AfxGetResourceHandle() { return ::GetModuleHandleW(nullptr); }
MSG* AfxGetCurrentMessage() { return &afxMsgCur; }

// The program's start step always returns FALSE, so the framework's own message loop is never
// entered and has no place here: the exit step follows the start step at once.
int AfxWinMain()
{
    CWinApp* pApp = AfxGetApp();
    pApp->InitInstance();
    if (pApp->m_pMainWnd) ::DestroyWindow(pApp->m_pMainWnd->m_hWnd);
    return pApp->ExitInstance();
}
