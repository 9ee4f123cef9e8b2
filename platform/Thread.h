#pragma once
#include <windows.h>

typedef DWORD (WINAPI* AFX_THREADPROC)(LPVOID);

// Starts a worker thread at once, at normal priority, on the default stack. Nobody waits for it.
bool AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam);
