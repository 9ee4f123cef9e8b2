#pragma once
#include "platform/StringList.h"
#include "uninstall/Outcome.h"

// What a removal leaves for later: the keys (PathKey) of what goes once this process has ended
// (Uninst.exe, its manifest, and the listed folders that hold nothing else) and of what goes at the
// next restart, and the listed paths that stayed for good.
struct Leftovers {
    CStringList afterExit, atRestart, stayed;
};

// Reads the manifest beside the executable into g_fileList and g_dirList; it stays until the
// removal is done, so that a run cut short can be run again. REMOVED when it was read, else, logged
// and before anything has changed: nothing is installed, the uninstall entry lost its manifest or
// names another Uninst.exe, or the manifest names nothing that is here.
Outcome LoadManifest();

// Removes every listed file, then every listed folder that is empty, each at its turn, posting
// WM_UNINST_STEP to hwndProgress, when there is one, for each entry; logs what became of each and
// notes in left what goes later and what stayed. What is in use goes at the next restart.
// Returns REMOVED, REMOVED_AT_RESTART or REMOVAL_FAILED.
Outcome RemoveListed(const CStringList& files, const CStringList& dirs, HWND hwndProgress, Leftovers& left);

// Deletes the path at the next restart, noted in left, and logs it; REMOVED_AT_RESTART, or
// REMOVAL_FAILED when the system refused.
Outcome ScheduleAtRestart(LPCWSTR pszKind, LPCWSTR pszPath, Leftovers& left);
