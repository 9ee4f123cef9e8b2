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

static const wchar_t SESSION_MANAGER[] = L"System\\CurrentControlSet\\Control\\Session Manager";
static const wchar_t PENDING[] = L"PendingFileRenameOperations";

// The value's strings, empty ones included; none when it is not there.
static std::vector<std::wstring> ReadPending(bool* exists = nullptr)
{
    HKEY key;
    DWORD size = 0;
    std::vector<wchar_t> data;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        if (::RegQueryValueExW(key, PENDING, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
            data.resize(size / sizeof(wchar_t) + 2);
            ::RegQueryValueExW(key, PENDING, nullptr, nullptr, reinterpret_cast<BYTE*>(data.data()), &size);
        }
        ::RegCloseKey(key);
    }
    if (exists) *exists = !data.empty();
    // Pairs of a path and its new name, empty for a deletion; the list's own closing NUL can read
    // as one string more.
    std::vector<std::wstring> strings;
    for (size_t at = 0; at < size / sizeof(wchar_t); at += strings.back().size() + 1) strings.emplace_back(&data[at]);
    if (strings.size() % 2 && strings.back().empty()) strings.pop_back();
    return strings;
}

PendingDeletions::PendingDeletions(const std::wstring& folder) : m_prefix(L"\\??\\" + folder + L"\\")
{
    ReadPending(&m_existed);
}

std::vector<std::wstring> PendingDeletions::Under() const
{
    std::vector<std::wstring> paths;
    const std::vector<std::wstring> strings = ReadPending();
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if (strings[i].compare(0, m_prefix.size(), m_prefix) == 0)
            paths.push_back(strings[i].substr(4) + (strings[i + 1].empty() ? L"" : L" -> " + strings[i + 1]));
    return paths;
}

PendingDeletions::~PendingDeletions()
{
    const std::vector<std::wstring> strings = ReadPending();
    std::wstring kept;
    for (size_t i = 0; i + 1 < strings.size(); i += 2)
        if (strings[i].compare(0, m_prefix.size(), m_prefix) != 0) kept += strings[i] + L'\0' + strings[i + 1] + L'\0';
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, SESSION_MANAGER, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (kept.empty() && !m_existed) ::RegDeleteValueW(key, PENDING);
    else ::RegSetValueExW(key, PENDING, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>((kept + L'\0').c_str()),
                          static_cast<DWORD>((kept.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
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
