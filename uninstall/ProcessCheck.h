#pragma once
#include <windows.h>

// The id of the first running process whose image name equals pszName, ASCII letters compared
// without regard to case; 0 when there is none or the processes cannot be listed.
DWORD FindProcessByName(LPCWSTR pszName);

// Whether Quorill.exe runs, in which case a run changes nothing; logged as the run's refusal.
bool ProductIsRunning();
