#pragma once
#include "platform/StringList.h"

// Writes "_self_del.bat" into the temporary directory and starts it hidden there. The script
// deletes this executable once the process has ended, then the manifest beside it, then removes
// the folders in order, each if it is empty, and then deletes itself. False when no script was
// started: its or the executable's path cannot be put into the script exactly, or it could not be
// written or started; the executable then stays.
bool ScheduleSelfDelete(const CStringList& folders);

// Writes the script at pszScript that deletes pszExe and the manifest beside it, then removes the
// folders in order while each one goes, and then deletes itself. False when no script was left there.
bool WriteSelfDeleteScript(LPCWSTR pszScript, LPCWSTR pszExe, const CStringList& folders);
