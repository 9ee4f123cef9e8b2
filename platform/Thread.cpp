#include "platform/Thread.h"

bool AfxBeginThread(AFX_THREADPROC pfnThreadProc, LPVOID pParam)
{
    HANDLE hThread = ::CreateThread(nullptr, 0, pfnThreadProc, pParam, 0, nullptr);
    if (!hThread) return false;
    ::CloseHandle(hThread);
    return true;
}
