#pragma once
#include "uninstall/Removal.h"

// The end of a run at the desktop, once the progress dialog has closed: at most one box, which comes
// to the front and stays above other windows. A manifest that names nothing here is said to have
// removed nothing. A removal names what stayed, and when something waits for the next restart, asks
// last whether to restart now. An ordinary removal, a declined run and a missing manifest show none.
// Logged. Whether the person asked for the restart now.
bool EndRunAtDesktop(Outcome outcome, const Leftovers& left);

// Restarts the computer as installers do. The run's last act: Windows may end this process at once.
void RestartComputer();
