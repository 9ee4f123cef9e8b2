#pragma once
#include "platform/StringList.h"
#include "platform/WinApp.h"
#include "uninstall/Outcome.h"

class CUninstallerApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern CUninstallerApp theApp;

// What the manifest lists for removal, filled before the removal starts and only read after.
extern CStringList g_fileList;
extern CStringList g_dirList;
// Set by the removal when Uninst.exe, its manifest and the folders in g_afterExit (deepest first)
// are to go once the process has ended; read by the exit step. A worker thread writes both before
// it posts its quit message, and the exit step reads them after the loop has retrieved that message.
extern int g_uninstallDone;
extern CStringList g_afterExit;
// Chosen by the start step: whether anyone answers, and for an unattended run what became of it,
// which its exit code tells.
extern RunKind g_runKind;
extern Outcome g_outcome;
