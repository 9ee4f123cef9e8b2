#pragma once
#include "uninstall/Removal.h"

// What one run shares between its steps and threads, defined by the application in the order in
// which it is constructed. The start-up sequence fills the lists before the worker starts, and
// nobody changes them afterwards. The removal writes the rest before it posts its quit message (or,
// in a silent run, returns), and the exit step reads them after that.
extern CStringList g_fileList;
extern CStringList g_dirList;
// Set when Uninst.exe, its manifest and the folders that hold nothing else are to go once the
// process has ended.
extern int g_uninstallDone;
extern Leftovers g_leftovers;
// Whether anyone answers, and what became of the run, which an unattended run's exit code tells.
extern RunKind g_runKind;
extern Outcome g_outcome;
// The person at the desktop asked for the restart now: the exit step's last act.
extern bool g_restartNow;
