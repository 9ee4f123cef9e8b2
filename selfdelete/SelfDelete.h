#pragma once
#include "platform/StringList.h"

// Writes "_self_del.bat" into the temporary directory and starts it hidden there. The script
// deletes this executable once the process has ended, then removes the folders that ListedFolders
// gives for the listed directories, each if it is empty, and then deletes itself. When the
// script's or the executable's path cannot be put into the script exactly, nothing is written or
// started and the executable stays.
void ScheduleSelfDelete(const CStringList& dirs);

// The folder of pszExe and each folder above it, deepest first, for as long as dirs lists them,
// as the file system names them (case, short names and a closing separator do not matter).
void ListedFolders(LPCWSTR pszExe, const CStringList& dirs, CStringList& folders);

// Writes the script at pszScript that deletes pszExe, then removes the folders in order while each
// one goes, and then deletes itself. False when no script was left there.
bool WriteSelfDeleteScript(LPCWSTR pszScript, LPCWSTR pszExe, const CStringList& folders);
