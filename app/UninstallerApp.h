#pragma once
#include "platform/WinApp.h"

class CUninstallerApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern CUninstallerApp theApp;
