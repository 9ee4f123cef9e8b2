#include "app/UninstallerApp.h"
#include "app/CommandLine.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/AfterExit.h"
#include "uninstall/ClosingSequence.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/RunState.h"
#include "uninstall/SilentRemoval.h"

// Constructed in this order, destroyed in the reverse.
CUninstallerApp theApp;
CStringList g_fileList;
CStringList g_dirList;
int g_uninstallDone = 0;
Leftovers g_leftovers;
RunKind g_runKind = RUN_AT_DESKTOP;
Outcome g_outcome = REMOVED;

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

// The dialog's progress bar is a common control. Their DLL is loaded only for a run that shows the
// dialog, from the system folder alone: a silent run never pays for it, nor for the display
// connection that its start opens.
static void InitCommonControlsForDialog()
{
    typedef void(WINAPI * PFNINITCOMMONCONTROLS)();
    const auto init = reinterpret_cast<PFNINITCOMMONCONTROLS>(
        reinterpret_cast<void*>(::GetProcAddress(::LoadLibraryW(L"comctl32.dll"), MAKEINTRESOURCEA(17))));
    if (init) init();
}

BOOL CUninstallerApp::InitInstance()
{
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

    InitCommonControlsForDialog();
    CUninstallerDialog dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    if (g_uninstallDone) EndRemovalAtDesktop(g_leftovers);
    return FALSE;
}

int CUninstallerApp::ExitInstance()
{
    CWinApp::ExitInstance();
    WaitForDownloadPage();
    g_outcome = Worse(g_outcome, HandOverAfterExit(g_leftovers));
    const int code = ExitCode(g_outcome, g_runKind);
    WCHAR text[12];
    ::wsprintfW(text, L"%d", code);
    LogLine(L"exit code", text);
    CloseRemovalLog();
    return code;
}
