#include "app/UninstallerApp.h"
#include "app/CommandLine.h"
#include "app/DesktopRun.h"
#include "app/SilentRun.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/Removal.h"
#include "uninstall/RemovalLog.h"
#include <commctrl.h>

CUninstallerApp theApp;

// A window station without WSF_VISIBLE is a service's (a deployment tool's, in session 0): nobody
// sees a box there, and it would wait for good.
static bool NobodyCanAnswer()
{
    USEROBJECTFLAGS flags;
    DWORD needed;
    return ::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) &&
           !(flags.dwFlags & WSF_VISIBLE);
}

BOOL CUninstallerApp::InitInstance()
{
    InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey(L"应用程序向导生成的本地应用程序");

    const bool silent = ReadCommandLine();
    if (!silent && !NobodyCanAnswer()) {
        RemoveAtDesktop(m_run);
        return FALSE;
    }
    // A deployment tool's run needs no window and shows nothing, not even a system box.
    m_run.kind = RUN_UNATTENDED;
    ::SetErrorMode(SEM_FAILCRITICALERRORS);
    if (silent) {
        m_run.outcome = RemoveSilently(m_run);
        return FALSE;
    }
    LogLine("refused", "no visible desktop, nobody to answer: nothing changed");
    m_run.outcome = NOBODY_TO_ANSWER;
    return FALSE;
}

int CUninstallerApp::ExitInstance()
{
    CWinApp::ExitInstance();
    WaitForDownloadPage();
    if (m_run.done) m_run.outcome = Worse(m_run.outcome, HandOverAfterExit(m_run.removal, m_run.restartNow));
    const int code = ExitCode(m_run.outcome, m_run.kind);
    WCHAR text[12];
    ::wsprintfW(text, L"%d", code);
    LogLine(L"exit code", text);
    CloseRemovalLog();
    // Last: a shutdown under way ends this process, and could catch the script unwritten.
    if (m_run.restartNow) RestartComputer();
    return code;
}
