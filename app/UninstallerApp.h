#pragma once
#include "app/RunState.h"
#include "platform/WinApp.h"

class CUninstallerApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;

    RunState m_run;
};

extern CUninstallerApp theApp;
