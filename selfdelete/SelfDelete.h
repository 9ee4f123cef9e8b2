#pragma once
#include "platform/StringList.h"

// Writes "_self_del.bat" into the temporary directory, or a name of its own when a file of that name
// is there, and starts it hidden there. The script deletes this executable once the process has
// ended, then the manifest beside it, then removes the folders in order, each if it is empty, and
// then deletes itself. Its path; empty when no script was started: its or the executable's path
// cannot be put into the script exactly, or it could not be written or started.
CString ScheduleSelfDelete(const CStringList& folders);

// Writes the script as a new file at pszScript that deletes pszExe and the manifest beside it, then
// removes the folders in order while each one goes, and then deletes itself. False when no script
// was left there; a file that was there already is left as it was.
bool WriteSelfDeleteScript(LPCWSTR pszScript, LPCWSTR pszExe, const CStringList& folders);
