#pragma once
#include "platform/MessageMap.h"
#include "platform/Wnd.h"

class CDataExchange {
public:
    explicit CDataExchange(CWnd* pDlgWnd) : m_pDlgWnd(pDlgWnd) {}
    CWnd* m_pDlgWnd;
};

// Binds a member control to the dialog's control with the given id.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

// A modal dialog built from a template in the executable's resources. Its modal loop runs until
// it retrieves a quit message; then the dialog is hidden and destroyed. It lives on its caller's
// stack and is never deleted: no virtual destructor, which would bring the runtime's operator delete.
class CDialog : public CWnd {
public:
    explicit CDialog(UINT nIDTemplate) : m_nIDTemplate(nIDTemplate) {}
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    INT_PTR DoModal();

protected:
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult);
    virtual void DoDataExchange(CDataExchange*) {}
    virtual BOOL OnInitDialog();
    virtual void OnOK() {}
    virtual void OnCancel() {}
    void OnPaint();

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    // Clears the application's main-window reference when it is this dialog; true when it was.
    bool ReleaseMainWnd();
    void OnNcDestroy();

    UINT m_nIDTemplate;
};
