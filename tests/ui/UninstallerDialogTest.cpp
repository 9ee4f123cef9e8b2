// The uninstall dialog built from its template, driven through its own modal loop.
#include "app/UninstallerApp.h"
#include "ui/UninstallerDialog.h"
#include <commctrl.h>
#include <functional>
#include <gtest/gtest.h>

namespace {

// The real dialog with its start-up sequence replaced by a hook, and one more message, WM_APP,
// that runs a probe inside the modal loop once everything posted before it has been handled.
class ProbeDialog : public CUninstallerDialog {
    BEGIN_MESSAGE_MAP(ProbeDialog, CUninstallerDialog)
        ON_MESSAGE(WM_APP, OnProbe)
    END_MESSAGE_MAP()

public:
    std::function<void(ProbeDialog&)> onInit;
    std::function<void(ProbeDialog&)> onProbe;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        if (onInit) onInit(*this);
        return TRUE;
    }
    LRESULT OnProbe(WPARAM, LPARAM)
    {
        if (onProbe) onProbe(*this);
        PostMessage(WM_QUIT);
        return 0;
    }
};

// Whether a window was still visible when its destruction began, before DestroyWindow hides it.
class DestroyWatch {
public:
    DestroyWatch() : m_hook(::SetWindowsHookExW(WH_CBT, Hook, nullptr, ::GetCurrentThreadId())) {}
    ~DestroyWatch() { ::UnhookWindowsHookEx(m_hook); }
    static HWND s_window;
    static bool s_visible;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_DESTROYWND && reinterpret_cast<HWND>(wParam) == s_window) s_visible = ::IsWindowVisible(s_window);
        return ::CallNextHookEx(nullptr, code, wParam, lParam);
    }
    HHOOK m_hook;
};
HWND DestroyWatch::s_window;
bool DestroyWatch::s_visible;

class UninstallerDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ::InitCommonControls(); }
    // DoModal leaves quit requests behind for a loop that never runs here; drop them.
    void TearDown() override
    {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}
    }
};

}  // namespace

TEST_F(UninstallerDialog, EachStepAdvancesTheBarByOneUntilFull)
{
    const int n = 7;
    ProbeDialog dlg;
    int position = -1, upper = -1;
    dlg.onInit = [&](ProbeDialog& d) {
        d.m_progress.SetRange(0, n);
        d.m_progress.SetPos(0);
        for (int i = 0; i < n - 1; ++i) d.PostMessage(WM_UNINST_STEP);
        d.PostMessage(WM_UNINST_STEP, 0x1234, 0x5678);  // parameters are not read
        d.PostMessage(WM_APP);
    };
    dlg.onProbe = [&](ProbeDialog& d) {
        position = d.m_progress.GetPos();
        upper = static_cast<int>(d.m_progress.SendMessage(PBM_GETRANGE, FALSE, 0));
    };
    dlg.DoModal();
    EXPECT_EQ(n, position);
    EXPECT_EQ(n, upper);
}

TEST_F(UninstallerDialog, EnterEscapeAndCloseLeaveItOpen)
{
    ProbeDialog dlg;
    bool open = false, visible = false;
    dlg.onInit = [](ProbeDialog& d) {
        d.PostMessage(WM_KEYDOWN, VK_RETURN, 0);
        d.PostMessage(WM_KEYDOWN, VK_ESCAPE, 0);
        d.PostMessage(WM_COMMAND, IDOK, 0);
        d.PostMessage(WM_COMMAND, IDCANCEL, 0);
        d.PostMessage(WM_CLOSE);
        d.PostMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        d.PostMessage(WM_APP);
    };
    dlg.onProbe = [&](ProbeDialog& d) {
        open = ::IsWindow(d.m_hWnd);
        visible = ::IsWindowVisible(d.m_hWnd);
    };
    theApp.m_pMainWnd = &dlg;  // so that a dialog that did close would still end the loop
    dlg.DoModal();
    EXPECT_TRUE(open);
    EXPECT_TRUE(visible);
}

TEST_F(UninstallerDialog, AQuitMessageEndsTheLoopAndBecomesTheExitResult)
{
    ProbeDialog dlg;
    HWND hwnd = nullptr;
    dlg.onInit = [&](ProbeDialog& d) {
        hwnd = DestroyWatch::s_window = d.m_hWnd;
        d.PostMessage(WM_QUIT, 7, 0);
    };
    theApp.m_pMainWnd = &dlg;
    DestroyWatch watch;
    DestroyWatch::s_visible = true;
    dlg.DoModal();

    EXPECT_FALSE(::IsWindow(hwnd));
    EXPECT_FALSE(DestroyWatch::s_visible) << "hidden before it is destroyed";
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);  // the main window's end clears the reference
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), AfxGetCurrentMessage()->message);
    EXPECT_EQ(7, theApp.CWinApp::ExitInstance());

    // The loop hands a quit request on to whatever loop would come next.
    MSG msg;
    bool quitPending = false;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.message == WM_QUIT) quitPending = true;
    EXPECT_TRUE(quitPending);
}

TEST_F(UninstallerDialog, AnswersTheDragIconQueryWithTheProductIcon)
{
    ProbeDialog dlg;
    LRESULT answer = 0;
    dlg.onInit = [](ProbeDialog& d) { d.PostMessage(WM_APP); };
    dlg.onProbe = [&](ProbeDialog& d) { answer = d.SendMessage(WM_QUERYDRAGICON); };
    dlg.DoModal();
    EXPECT_EQ(reinterpret_cast<LRESULT>(dlg.m_hIcon), answer);
}

TEST_F(UninstallerDialog, ATemplateThatCannotBeFoundLeavesNoMainWindowBehind)
{
    {
        CDialog dlg(0x7FFF);
        theApp.m_pMainWnd = &dlg;
        EXPECT_EQ(-1, dlg.DoModal());
    }
    // The framework's entry would otherwise destroy the window of an object that is gone.
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
}
