#include "app/UninstallerApp.h"
#include "app/CommandLine.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/AfterExit.h"
#include "uninstall/ClosingSequence.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/RunState.h"
#include "uninstall/SilentRemoval.h"
#include <commctrl.h>

// Constructed in this order, destroyed in the reverse.
CUninstallerApp theApp;
CStringList g_fileList;
CStringList g_dirList;
int g_uninstallDone = 0;
Leftovers g_leftovers;
RunKind g_runKind = RUN_AT_DESKTOP;
Outcome g_outcome = REMOVED;
bool g_restartNow = false;

// A window station without WSF_VISIBLE is a service's (a deployment tool's, in session 0): nobody
// sees a box there, and it would wait for good.
static bool NobodyCanAnswer()
{
    USEROBJECTFLAGS flags;
    DWORD needed;
    return ::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) &&
           !(flags.dwFlags & WSF_VISIBLE);
}

static Outcome RefuseUnanswered()
{
    LogLine(L"refused", L"no visible desktop, nobody to answer: nothing changed");
    return NOBODY_TO_ANSWER;
}

BOOL CUninstallerApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(L"应用程序向导生成的本地应用程序");

    const bool silent = ReadCommandLine();
    if (silent || NobodyCanAnswer()) {
        // A deployment tool's run needs no window and shows nothing, not even a system box.
        g_runKind = RUN_UNATTENDED;
        ::SetErrorMode(SEM_FAILCRITICALERRORS);
        g_outcome = silent ? RemoveSilently() : RefuseUnanswered();
        return FALSE;
    }

    CUninstallerDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    g_restartNow = EndRunAtDesktop(g_outcome, g_leftovers);
    return FALSE;
}

int CUninstallerApp::ExitInstance()
{
    CWinApp::ExitInstance();
    WaitForDownloadPage();
    g_outcome = Worse(g_outcome, HandOverAfterExit(g_leftovers, g_restartNow));
    const int code = ExitCode(g_outcome, g_runKind);
    WCHAR text[12];
    ::wsprintfW(text, L"%d", code);
    LogLine(L"exit code", text);
    CloseRemovalLog();
    // Last: a shutdown under way ends this process, and could catch the script unwritten.
    if (g_restartNow) RestartComputer();
    return code;
}
