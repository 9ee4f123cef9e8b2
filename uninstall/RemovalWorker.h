#pragma once
#include <windows.h>

// The worker thread of a run at the desktop; pParam is the dialog's window, which receives one
// WM_UNINST_STEP per listed entry and then a quit message.
DWORD WINAPI UninstallThreadProc(LPVOID pParam);
