// The download page opens in the browser of the person at the desktop: asked of the desktop's
// shell by an elevated process, opened by the process itself when it is not elevated, and not at
// all when the desktop's shell cannot be reached. The log says which.
#include "DownloadPageUrl.h"
#include "ImportHook.h"
#include "RemovalHarness.h"
#include "uninstall/DownloadPage.h"
#include <gtest/gtest.h>

TEST(DownloadPage, OpensAsThePersonAtTheDesktop)
{
    struct Case {
        const char* what;
        bool elevated;
        int failAt;
        std::vector<PageRecorder::Call> calls;
        std::string log;
    };
    const Case cases[] = {
        {"elevated", true, -1, DownloadPageOpened(), "page\topened by the desktop's shell\t"},
        {"not elevated", false, -1, {{L"ShellExecuteW", L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOW}},
         "page\topened: not elevated\t"},
        {"no desktop shell", true, PageRecorder::FIND_DESKTOP_WINDOW, {},
         "page\tnot opened: no desktop shell to open it as the desktop's user (FindWindowSW: 0x80004005)\t"},
    };
    const std::wstring url = DOWNLOAD_PAGE_URL;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PageRecorder recorder({}, c.elevated, c.failAt);
        EXPECT_EQ(c.log + std::string(url.begin(), url.end()) + "\r\n", LogOf(OpenDownloadPage));
        EXPECT_EQ(c.calls, recorder.Calls());
        EXPECT_EQ(0, recorder.References()) << "every reference to the desktop's shell is released";
    }
}

IMPORT_SLOT(WaitForSingleObject, 8);
static decltype(&::WaitForSingleObject) s_wait;
static PageRecorder* s_stalled;
static DWORD s_exitThread, s_waited = WAIT_FAILED;

// The shell answers only once the exit step waits for it: without the wait, never.
static DWORD WINAPI AnswerOnceWaitedFor(HANDLE handle, DWORD ms)
{
    if (::GetCurrentThreadId() != s_exitThread) return s_wait(handle, ms);
    s_stalled->Answer();
    return s_waited = s_wait(handle, ms);
}

TEST(DownloadPage, TheExitWaitsForAShellThatAnswersInTime)
{
    PageRecorder recorder;
    recorder.Stall();
    s_stalled = &recorder;
    s_exitThread = ::GetCurrentThreadId();
    StartDownloadPage();
    {
        const ImportHook wait(importWaitForSingleObject, AnswerOnceWaitedFor, &s_wait);
        WaitForDownloadPage();
    }
    EXPECT_EQ(WAIT_OBJECT_0, s_waited) << "the exit went on before the page's thread had ended";
    EXPECT_EQ(DownloadPageOpened(), recorder.Calls());
}
