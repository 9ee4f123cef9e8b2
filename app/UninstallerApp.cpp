#include "app/UninstallerApp.h"
#include "app/CommandLine.h"
#include "app/RemovalLog.h"
#include "selfdelete/SelfDelete.h"
#include "ui/UninstallerDialog.h"
#include <commctrl.h>

// Constructed in this order, destroyed in the reverse.
CUninstallerApp theApp;
CStringList g_fileList;
CStringList g_dirList;
int g_uninstallDone = 0;
int g_silent = 0;

BOOL CUninstallerApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(L"应用程序向导生成的本地应用程序");
    ReadCommandLine();

    CUninstallerDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    return FALSE;
}

int CUninstallerApp::ExitInstance()
{
    const int result = CWinApp::ExitInstance();
    if (g_uninstallDone) ScheduleSelfDelete(g_dirList);
    WCHAR code[12];
    ::wsprintfW(code, L"%d", result);
    LogLine(L"exit code", code);
    return result;
}
