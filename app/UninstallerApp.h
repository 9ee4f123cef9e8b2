#pragma once
#include "platform/WinApp.h"
#include "uninstall/Outcome.h"

class CUninstallerApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern CUninstallerApp theApp;

// Chosen by the start step: whether anyone answers, and for an unattended run what became of it,
// which its exit code tells.
extern RunKind g_runKind;
extern Outcome g_outcome;
