#pragma once
#include "platform/Dialog.h"
#include "platform/ProgressCtrl.h"

// Posted by the worker once per removed entry: advance the bar by one.
constexpr UINT WM_UNINST_STEP = WM_USER + 1;

class CUninstallerDialog : public CDialog {
    BEGIN_MESSAGE_MAP(CUninstallerDialog, CDialog)
        ON_WM_PAINT()
        ON_WM_QUERYDRAGICON()
        ON_MESSAGE(WM_UNINST_STEP, OnUninstStep)
    END_MESSAGE_MAP()

public:
    CUninstallerDialog();

    HICON m_hIcon;
    CProgressCtrl m_progress;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    // Enter, Escape and a close request leave the dialog open: only a quit message ends it.
    void OnOK() override {}
    void OnCancel() override {}

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    LRESULT OnUninstStep(WPARAM wParam, LPARAM lParam);
};
