#pragma once
#include "platform/StringList.h"
#include "uninstall/Outcome.h"

// What the manifest lists for removal, filled before the removal starts and only read after. The
// application's start step owns them, with the rest of the process-wide state.
extern CStringList g_fileList;
extern CStringList g_dirList;
// Set by the removal when Uninst.exe, its manifest and the folders in g_afterExit (deepest first)
// are to go once the process has ended; read by the exit step. A worker thread writes both before
// it posts its quit message, and the exit step reads them after the loop has retrieved that message.
extern int g_uninstallDone;
extern CStringList g_afterExit;

// Reads the manifest beside the executable into g_fileList and g_dirList; it stays until the
// removal is done, so that a run cut short can be run again. REMOVED when it was read, else, logged
// and before anything has changed: nothing is installed, the uninstall entry lost its manifest or
// names another Uninst.exe, or the manifest names nothing that is here.
Outcome LoadManifest();

// Removes every listed file, then every listed folder that is empty, each at its turn, posting
// WM_UNINST_STEP to hwndProgress, when there is one, for each entry; logs what became of each.
// What is in use goes at the next restart. Uninst.exe and its manifest go once this process has
// ended, and so do the listed folders that hold nothing else: afterExit receives those folders,
// deepest first. Returns REMOVED, REMOVED_AT_RESTART or REMOVAL_FAILED.
Outcome RemoveListed(const CStringList& files, const CStringList& dirs, HWND hwndProgress, CStringList& afterExit);

// What goes once this process has ended is handed to the self-deleting script, logged as such.
void LeaveToScript(const CStringList& afterExit);
// A silent run that failed keeps Uninst.exe, its manifest and their folders for a retry.
void KeepForRetry(const CStringList& afterExit);
// When no script can run: Uninst.exe, its manifest and those folders go at the next restart
// instead. REMOVED_AT_RESTART, or REMOVAL_FAILED when they cannot be scheduled.
Outcome LeaveToRestart(const CStringList& afterExit);
