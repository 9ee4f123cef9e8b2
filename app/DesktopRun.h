#pragma once
#include "app/RunState.h"
#include "ui/UninstallerDialog.h"

// The run of the person at the desktop, from the question to the box that ends it.
void RemoveAtDesktop(RunState& run);

// The dialog of that run: its start-up decides the run, and starts the worker, whose parameter is
// the dialog itself.
class CRemovalDialog : public CUninstallerDialog {
public:
    explicit CRemovalDialog(RunState& run) : m_run(run) {}

    RunState& m_run;

protected:
    BOOL OnInitDialog() override;
};
DWORD WINAPI UninstallThreadProc(LPVOID pParam);

// The box that ends the run once the dialog has closed, when one is due, and the answer to the
// restart it may ask about, logged. Whether the person asked for the restart now.
bool ShowEndBox(const RunState& run);

// Restarts the computer as installers do. The run's last act: Windows may end this process at once.
void RestartComputer();
