#pragma once
#include <windows.h>

// Writes "_self_del.bat" into the temporary directory and starts it hidden. The script deletes
// this executable once the process has ended, then itself. When a path cannot be put into the
// script exactly, nothing is written or started and the executable stays.
void ScheduleSelfDelete();

// Writes the script at pszScript that deletes pszExe and then itself. False when no script was
// left there.
bool WriteSelfDeleteScript(LPCWSTR pszScript, LPCWSTR pszExe);
