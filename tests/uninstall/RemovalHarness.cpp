#include "RemovalHarness.h"
#include "DownloadPageUrl.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/RemovalLog.h"
#include "app/DesktopRun.h"
#include <exdisp.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <tuple>

IMPORT_SLOT(ShellExecuteW, 24);
IMPORT_SLOT(CoCreateInstance, 20);
IMPORT_SLOT(GetTokenInformation, 20);

namespace {

PageRecorder* s_recorder;
bool s_elevated;
int s_failAt;
LONG s_references;

std::wstring Text(LPCWSTR s)
{
    return s ? s : L"(null)";
}

HINSTANCE WINAPI RecordShellExecuteW(HWND, LPCWSTR verb, LPCWSTR file, LPCWSTR parameters, LPCWSTR directory, INT show)
{
    s_recorder->Record({L"ShellExecuteW", Text(verb), Text(file), Text(parameters), Text(directory), show});
    return reinterpret_cast<HINSTANCE>(42);  // above 32: a success
}

BOOL WINAPI AnswerTokenElevation(HANDLE, TOKEN_INFORMATION_CLASS kind, LPVOID info, DWORD size, PDWORD needed)
{
    if (kind != TokenElevation || size < sizeof(TOKEN_ELEVATION)) return FALSE;
    static_cast<TOKEN_ELEVATION*>(info)->TokenIsElevated = s_elevated;
    *needed = sizeof(TOKEN_ELEVATION);
    return TRUE;
}

// The desktop's shell as the way through it meets it: each object answers the one call that is
// made of it, at that call's place in its interface's table, with the next object, and every
// QueryInterface with itself.
struct FakeObject {
    void* const* vtbl;
};
const int SHELL_DISPATCH = 5;
FakeObject s_objects[SHELL_DISPATCH + 1];
void* s_tables[SHELL_DISPATCH + 1][32];

HRESULT Next(int step, void** out)
{
    *out = step == s_failAt ? nullptr : &s_objects[step];
    if (!*out) return E_FAIL;
    ::InterlockedIncrement(&s_references);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE QueryInterface(FakeObject* self, REFIID, void** out)
{
    *out = self;
    ::InterlockedIncrement(&s_references);
    return S_OK;
}
ULONG STDMETHODCALLTYPE AddRef(FakeObject*) { return ::InterlockedIncrement(&s_references); }
ULONG STDMETHODCALLTYPE Release(FakeObject*) { return ::InterlockedDecrement(&s_references); }
HRESULT STDMETHODCALLTYPE FindWindowSW(FakeObject*, VARIANT*, VARIANT*, int, long*, int, void** out) { return Next(1, out); }
HRESULT STDMETHODCALLTYPE QueryService(FakeObject*, REFGUID, REFIID, void** out) { return Next(2, out); }
HRESULT STDMETHODCALLTYPE QueryActiveShellView(FakeObject*, void** out) { return Next(3, out); }
HRESULT STDMETHODCALLTYPE GetItemObject(FakeObject*, UINT, REFIID, void** out) { return Next(4, out); }
HRESULT STDMETHODCALLTYPE GetApplication(FakeObject*, void** out) { return Next(SHELL_DISPATCH, out); }
HRESULT STDMETHODCALLTYPE RecordShellDispatchExecute(FakeObject*, BSTR file, VARIANT args, VARIANT dir, VARIANT verb, VARIANT show)
{
    s_recorder->Record({L"desktop's shell", verb.bstrVal, file, args.bstrVal, dir.bstrVal, show.lVal});
    return S_OK;
}

HANDLE s_answer;

HRESULT WINAPI ReachDesktopShell(REFCLSID clsid, LPUNKNOWN, DWORD, REFIID, LPVOID* out)
{
    ::WaitForSingleObject(s_answer, INFINITE);
    if (clsid != CLSID_ShellWindows) return REGDB_E_CLASSNOTREG;
    const struct {
        int object, slot;
        void* method;
    } methods[] = {{0, 15, reinterpret_cast<void*>(FindWindowSW)}, {1, 3, reinterpret_cast<void*>(QueryService)},
                   {2, 15, reinterpret_cast<void*>(QueryActiveShellView)}, {3, 15, reinterpret_cast<void*>(GetItemObject)},
                   {4, 7, reinterpret_cast<void*>(GetApplication)}, {SHELL_DISPATCH, 31, reinterpret_cast<void*>(RecordShellDispatchExecute)}};
    for (const auto& m : methods) {
        void** table = s_tables[m.object];
        table[0] = reinterpret_cast<void*>(QueryInterface);
        table[1] = reinterpret_cast<void*>(AddRef);
        table[2] = reinterpret_cast<void*>(Release);
        table[m.slot] = m.method;
        s_objects[m.object].vtbl = table;
    }
    return Next(0, out);
}

}  // namespace

bool PageRecorder::Call::operator==(const Call& o) const
{
    return std::tie(way, verb, file, parameters, directory, show) == std::tie(o.way, o.verb, o.file, o.parameters, o.directory, o.show);
}

PageRecorder::PageRecorder(std::function<void()> onOpen, bool elevated, int failAt)
    : m_onOpen(std::move(onOpen)), m_answer(::CreateEventW(nullptr, TRUE, TRUE, nullptr)),
      m_shellExecute(importShellExecuteW, RecordShellExecuteW), m_coCreateInstance(importCoCreateInstance, ReachDesktopShell),
      m_tokenInformation(importGetTokenInformation, AnswerTokenElevation)
{
    s_recorder = this;
    s_elevated = elevated;
    s_failAt = failAt;
    s_references = 0;
    s_answer = m_answer;
}

PageRecorder::~PageRecorder()
{
    // A stalled call let go, and its thread ended, before the recorder goes.
    Answer();
    WaitForDownloadPage();
    s_recorder = nullptr;
    ::CloseHandle(m_answer);
}

void PageRecorder::Stall()
{
    ::ResetEvent(m_answer);
}

void PageRecorder::Answer()
{
    ::SetEvent(m_answer);
}

void PageRecorder::Record(const Call& call)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }
    if (m_onOpen) m_onOpen();
}

LONG PageRecorder::References() const
{
    return s_references;
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
    return {{L"desktop's shell", L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOWNORMAL}};
}

void PrintTo(const PageRecorder::Call& call, std::ostream* os)
{
    *os << ::testing::PrintToString(call.way + L": " + call.verb + L" " + call.file + L" [" + call.parameters + L"] [" +
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

std::vector<MSG> RunWorkerBeforeAnyLoop(RunState& run)
{
    std::vector<MSG> messages;
    CRemovalDialog dlg(run);
    dlg.m_hWnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    EXPECT_NE(nullptr, dlg.m_hWnd);

    HANDLE thread = ::CreateThread(nullptr, 0, UninstallThreadProc, &dlg, 0, nullptr);
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread, 30000));
    DWORD result = 1;
    ::GetExitCodeThread(thread, &result);
    EXPECT_EQ(0u, result);
    ::CloseHandle(thread);
    WaitForDownloadPage();

    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
        if (msg.hwnd == dlg.m_hWnd) messages.push_back(msg);
    ::DestroyWindow(dlg.m_hWnd);
    return messages;
}

std::string LogOf(const std::function<void()>& run)
{
    const std::filesystem::path log = std::filesystem::temp_directory_path() / "removal-test.log";
    OpenRemovalLog(log.c_str());
    run();
    OpenRemovalLog(L"");
    std::ifstream file(log, std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(file), {});
    file.close();
    std::filesystem::remove(log);
    return text.substr(3);
}
