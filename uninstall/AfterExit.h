#pragma once
#include "uninstall/Removal.h"

// Uninst.exe, its manifest and the listed folders above it that hold nothing else go once this
// process has ended, through the self-deleting script; where no script can run, at the next
// restart. Both kinds of run leave them here.

// The removal is done: they are to go, whatever their attributes, and are logged as such. Sets
// g_uninstallDone.
void LeaveAfterExit(Leftovers& left);
// A silent run that failed keeps them for a retry, and logs it.
void KeepForRetry(const Leftovers& left);
// The exit step's part: once the removal is done, starts the script, or schedules them at the next
// restart when no script can run. With restartNow, a restart follows at once: they and the script
// are scheduled for it as well. REMOVED, REMOVED_AT_RESTART, or REMOVAL_FAILED when even that failed.
Outcome HandOverAfterExit(Leftovers& left, bool restartNow);
