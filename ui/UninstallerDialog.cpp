#include "ui/UninstallerDialog.h"
#include "platform/PaintDC.h"
#include "platform/WinApp.h"
#include "res/resource.h"

CUninstallerDialog::CUninstallerDialog()
    : CDialog(IDD_UNINSTALL), m_hIcon(AfxGetApp()->LoadIcon(IDR_MAINFRAME))
{
}

void CUninstallerDialog::DoDataExchange(CDataExchange* pDX)
{
    DDX_Control(pDX, IDC_PROGRESS, m_progress);
}

void CUninstallerDialog::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }

    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(static_cast<HDC>(dc)), 0);

    const int cxIcon = ::GetSystemMetrics(SM_CXICON);
    const int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    const int x = (rect.right - rect.left - cxIcon + 1) / 2;
    const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

HCURSOR CUninstallerDialog::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

// The worker posts faster than the bar paints (each position is drawn at once): the steps already
// waiting are taken with this one, and the bar is drawn once for all of them.
LRESULT CUninstallerDialog::OnUninstStep(WPARAM, LPARAM)
{
    int steps = 1;
    MSG msg;
    while (::PeekMessageW(&msg, m_hWnd, WM_UNINST_STEP, WM_UNINST_STEP, PM_REMOVE)) ++steps;
    m_progress.SetPos(m_progress.GetPos() + steps);
    return 0;
}
