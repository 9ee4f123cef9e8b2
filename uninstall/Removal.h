#pragma once
#include "uninstall/RemovalPlan.h"

// The removal on the disk, as both kinds of run carry it out.

// Reads the manifest beside the executable into the run's lists; it stays until the removal is
// done, so that a run cut short can be run again. REMOVED when it was read, else, logged and before
// anything has changed: nothing is installed, the uninstall entry lost its manifest or names
// another Uninst.exe, or the manifest names nothing that is here.
Outcome LoadManifest(RemovalRun& run);

// The removal is done: Uninst.exe, its manifest and the folders that go with them are to go once
// the process has ended, whatever their attributes, and are logged as such.
void LeaveAfterExit(RemovalRun& run);
// A silent run that failed keeps them for a retry, and logs it.
void KeepForRetry(RemovalRun& run);
// The exit step's part: starts the script that removes them, and with restartNow schedules them and
// the script for the restart that follows at once, which can cut the script short; where no script
// can run, they go at the next restart. REMOVED, REMOVED_AT_RESTART, or REMOVAL_FAILED when even
// that failed.
Outcome HandOverAfterExit(RemovalRun& run, bool restartNow);
