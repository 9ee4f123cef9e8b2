#include "RemovalHarness.h"
#include "DownloadPage.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/RemovalWorker.h"
#include <gtest/gtest.h>

IMPORT_SLOT(ShellExecuteW, 24);

PageRecorder* PageRecorder::s_instance;

bool PageRecorder::Call::operator==(const Call& other) const
{
    return verb == other.verb && file == other.file && parameters == other.parameters &&
           directory == other.directory && show == other.show;
}

PageRecorder::PageRecorder(std::function<void()> onOpen)
    : m_onOpen(std::move(onOpen)), m_hook(importShellExecuteW, ShellExecuteW)
{
    s_instance = this;
}

PageRecorder::~PageRecorder()
{
    s_instance = nullptr;
}

static std::wstring Text(LPCWSTR s)
{
    return s ? s : L"(null)";
}

HINSTANCE WINAPI PageRecorder::ShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory,
                                             INT show)
{
    PageRecorder* self = s_instance;
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_calls.push_back({Text(verb), Text(file), Text(parameters), Text(directory), show});
    }
    if (self->m_onOpen) self->m_onOpen();
    return reinterpret_cast<HINSTANCE>(42);  // above 32: a success
}

std::vector<PageRecorder::Call> PageRecorder::Calls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

void PageRecorder::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.clear();
}

std::vector<PageRecorder::Call> DownloadPageOpened()
{
    return {{L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOW}};
}

void PrintTo(const PageRecorder::Call& call, std::ostream* os)
{
    *os << ::testing::PrintToString(call.verb + L" " + call.file + L" [" + call.parameters + L"] [" +
                                    call.directory + L"] show " + std::to_wstring(call.show));
}

std::vector<std::string> Describe(const std::vector<MSG>& messages)
{
    std::vector<std::string> names;
    for (const MSG& msg : messages) {
        if (msg.wParam == 0 && msg.lParam == 0 && msg.message == WM_UNINST_STEP) names.push_back("step");
        else if (msg.wParam == 0 && msg.lParam == 0 && msg.message == WM_QUIT) names.push_back("quit");
        else names.push_back("message " + std::to_string(msg.message) + " (" + std::to_string(msg.wParam) + ", " +
                             std::to_string(msg.lParam) + ")");
    }
    return names;
}

std::vector<std::string> StepsThenQuit(int count)
{
    std::vector<std::string> names(count, "step");
    names.push_back("quit");
    return names;
}

std::vector<MSG> RunWorkerBeforeAnyLoop()
{
    std::vector<MSG> messages;
    HWND hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, hwnd);
    CUninstallerDialog dlg;
    dlg.m_hWnd = hwnd;

    HANDLE thread = ::CreateThread(nullptr, 0, UninstallThreadProc, &dlg, 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 30000));
    DWORD result = 1;
    ::GetExitCodeThread(thread, &result);
    EXPECT_EQ(0u, result);
    ::CloseHandle(thread);

    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.hwnd == hwnd) messages.push_back(msg);
    ::DestroyWindow(hwnd);
    dlg.m_hWnd = nullptr;
    return messages;
}
