#pragma once
#include <windows.h>

// The worker thread's procedure; pParam is the uninstall dialog, which receives one
// WM_UNINST_STEP per listed entry and then a quit message.
DWORD WINAPI UninstallThreadProc(LPVOID pParam);
