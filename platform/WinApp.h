#pragma once
#include "platform/Wnd.h"

// The application object. Its constructor makes it the process's one application; the entry
// calls its start step and then its exit step, whose result is the exit code. A static object,
// never deleted: no virtual destructor, which would bring the runtime's operator delete.
class CWinApp {
public:
    CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    virtual int ExitInstance();

    void SetRegistryKey(LPCWSTR lpszRegistryKey) { m_pszRegistryKey = lpszRegistryKey; }
    HICON LoadIcon(UINT nIDResource) const;

    CWnd* m_pMainWnd = nullptr;
    LPCWSTR m_pszRegistryKey = nullptr;
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetResourceHandle();
// The last message that the main thread's message loop retrieved.
MSG* AfxGetCurrentMessage();
int AfxWinMain();

// No dialog of this program hosts an ActiveX control, so enabling their hosting sets up nothing.
inline void AfxEnableControlContainer() {}
