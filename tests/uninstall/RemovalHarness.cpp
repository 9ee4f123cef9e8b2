#include "RemovalHarness.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/RemovalWorker.h"
#include <gtest/gtest.h>

const wchar_t UNINSTALL_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

namespace {

const wchar_t DDE_EXEC_KEY[] = L"http\\shell\\open\\ddeexec";
const wchar_t SERVICE[] = L"UninstTestBrowser";
const wchar_t TOPIC[] = L"WWW_OpenURL";

void SetDefaultValue(HKEY root, const std::wstring& path, const std::wstring& value)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr));
    ::RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                     static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(key);
}

}  // namespace

PageRecorder* PageRecorder::s_instance;

PageRecorder::PageRecorder(std::function<void()> onOpen) : m_onOpen(std::move(onOpen))
{
    s_instance = this;
    const std::wstring exec = DDE_EXEC_KEY;
    SetDefaultValue(HKEY_CLASSES_ROOT, exec, L"%1");
    SetDefaultValue(HKEY_CLASSES_ROOT, exec + L"\\application", SERVICE);
    SetDefaultValue(HKEY_CLASSES_ROOT, exec + L"\\topic", TOPIC);

    HANDLE ready = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_thread = std::thread(&PageRecorder::Serve, this, ready);
    ::WaitForSingleObject(ready, INFINITE);
    ::CloseHandle(ready);
}

PageRecorder::~PageRecorder()
{
    ::PostThreadMessageW(m_threadId, WM_QUIT, 0, 0);
    m_thread.join();
    const std::wstring exec = DDE_EXEC_KEY;
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (exec + L"\\application").c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, (exec + L"\\topic").c_str());
    ::RegDeleteKeyW(HKEY_CLASSES_ROOT, exec.c_str());
    s_instance = nullptr;
}

// DDE conversations belong to the thread that started them, so the server has a thread and a
// message loop of its own and answers whichever thread opens the page.
void PageRecorder::Serve(HANDLE ready)
{
    m_threadId = ::GetCurrentThreadId();
    ::DdeInitializeW(&m_instance, Callback, APPCLASS_STANDARD | CBF_SKIP_ALLNOTIFICATIONS, 0);
    HSZ service = ::DdeCreateStringHandleW(m_instance, SERVICE, CP_WINUNICODE);
    m_topic = ::DdeCreateStringHandleW(m_instance, TOPIC, CP_WINUNICODE);
    ::DdeNameService(m_instance, service, nullptr, DNS_REGISTER);
    ::SetEvent(ready);

    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);

    ::DdeNameService(m_instance, service, nullptr, DNS_UNREGISTER);
    ::DdeFreeStringHandle(m_instance, service);
    ::DdeFreeStringHandle(m_instance, m_topic);
    ::DdeUninitialize(m_instance);
}

HDDEDATA CALLBACK PageRecorder::Callback(UINT type, UINT, HCONV, HSZ hsz1, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR)
{
    PageRecorder* self = s_instance;
    if (type == XTYP_CONNECT)
        return reinterpret_cast<HDDEDATA>(static_cast<INT_PTR>(::DdeCmpStringHandles(hsz1, self->m_topic) == 0));
    if (type != XTYP_EXECUTE) return nullptr;

    std::vector<BYTE> bytes(::DdeGetData(data, nullptr, 0, 0) + sizeof(wchar_t));
    ::DdeGetData(data, bytes.data(), static_cast<DWORD>(bytes.size()), 0);
    {
        std::lock_guard<std::mutex> lock(self->m_mutex);
        self->m_urls.emplace_back(reinterpret_cast<const wchar_t*>(bytes.data()));
    }
    if (self->m_onOpen) self->m_onOpen();
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

std::vector<std::wstring> PageRecorder::Urls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_urls;
}

void PageRecorder::Clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_urls.clear();
}

bool KeyExists(const std::wstring& path)
{
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    ::RegCloseKey(key);
    return true;
}

void CreateKey(const std::wstring& path)
{
    SetDefaultValue(HKEY_LOCAL_MACHINE, path, L"created by the removal tests");
}

void DeleteKey(const std::wstring& path)
{
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
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
