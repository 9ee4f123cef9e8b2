#pragma once
#include "uninstall/RemovalPlan.h"

// What one run holds from its start to its exit, passed to whoever needs it. The application owns
// it; the dialog's start-up reads the manifest into it before the worker starts, and nobody changes
// the lists after that; the removal writes the rest before it posts its quit message (or, silent,
// returns), and the exit step reads it after that.
struct RunState {
    RunKind kind = RUN_AT_DESKTOP;
    Outcome outcome = REMOVED;
    RemovalRun removal;
    // Uninst.exe, its manifest and the folders that hold nothing else are to go once the process
    // has ended.
    bool done = false;
    // The person at the desktop asked for the restart now: the exit step's last act.
    bool restartNow = false;
};
