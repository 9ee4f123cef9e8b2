// Everything a test program starts ends when that program ends, however it ends: the program it
// starts is in a job object of the starter's, which ends what is in it when its last handle goes,
// before it runs a single instruction, so that nothing it starts in turn is ever outside.
#pragma once
#include <windows.h>

// CreateProcessW, its process created suspended, put in this program's job and only then resumed;
// the same arguments and result. Where it cannot be put in that job, it is ended and the call fails.
BOOL CreateProcessInJob(LPCWSTR exe, LPWSTR commandLine, BOOL inheritHandles, DWORD flags, LPCWSTR folder,
                        STARTUPINFOW* startup, PROCESS_INFORMATION* started);
