#pragma once
#include "platform/StringList.h"
#include "platform/WinApp.h"

class CUninstallerApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern CUninstallerApp theApp;

// What the manifest lists for removal, filled before the worker starts and only read after.
extern CStringList g_fileList;
extern CStringList g_dirList;
// Set by the worker before it posts its quit message; read by the exit step after the loop has
// retrieved that message.
extern int g_uninstallDone;
// Set by the start step when a deployment tool asks for a run that shows nothing and tells by its
// exit code what happened; read by the start-up sequence and the worker.
extern int g_silent;
