#pragma once
#include "platform/StdioFile.h"
#include "platform/StringList.h"

// Writes a script that deletes this executable once the process has ended, then the manifest beside
// it, then removes the folders in order, each if it is empty, and then deletes itself; and starts it,
// hidden. Its path; empty, with the error, when no script was started: its or the executable's path
// cannot be put into the script exactly, or it could not be written or started.
CString ScheduleSelfDelete(const CStringList& folders, DWORD& error);

// Where the script goes, ending in a separator: the Windows folder's Temp when the process has
// administrator rights, else the user's temporary folder; empty when it does not fit in MAX_PATH.
CString ScriptFolder();
// Creates the script as a new file in pszFolder: "_self_del.bat", or when a file of that name is
// there, a name of this run's own. With administrator rights only SYSTEM and Administrators may
// write it. False when none could be created.
bool CreateScriptFile(LPCWSTR pszFolder, CStdioFile& file, CString& path);
// Writes into file, new at pszScript, the script that deletes pszExe and the manifest beside it,
// then removes the folders in order while each one goes, and then deletes itself. False when
// nothing whole was written.
bool WriteSelfDeleteScript(CStdioFile& file, LPCWSTR pszScript, LPCWSTR pszExe, const CStringList& folders);
