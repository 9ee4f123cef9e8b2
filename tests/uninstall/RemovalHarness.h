// What the removal worker's tests share: a stand-in for the browser, the uninstall key, and a run
// of the worker against a window whose queue is read only after the worker has ended.
#pragma once
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <windows.h>
#include <ddeml.h>

extern const wchar_t UNINSTALL_KEY[];

// Registers itself as the DDE server of the http protocol's "open" verb, so that ShellExecuteW
// hands it the URL instead of starting a browser, and waits for its answer: onOpen runs while
// the caller of ShellExecuteW is still inside the call.
class PageRecorder {
public:
    explicit PageRecorder(std::function<void()> onOpen = {});
    ~PageRecorder();
    PageRecorder(const PageRecorder&) = delete;
    PageRecorder& operator=(const PageRecorder&) = delete;

    std::vector<std::wstring> Urls();
    void Clear();

private:
    static HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ hsz1, HSZ, HDDEDATA data, ULONG_PTR, ULONG_PTR);
    void Serve(HANDLE ready);

    static PageRecorder* s_instance;
    std::function<void()> m_onOpen;
    std::mutex m_mutex;
    std::vector<std::wstring> m_urls;
    DWORD m_instance = 0;
    DWORD m_threadId = 0;
    HSZ m_topic = nullptr;
    std::thread m_thread;
};

bool KeyExists(const std::wstring& path);
void CreateKey(const std::wstring& path);
void DeleteKey(const std::wstring& path);

// Readable names of what a window received, "step" and "quit" for the worker's two messages.
std::vector<std::string> Describe(const std::vector<MSG>& messages);
// What the worker posts for a number of list entries: that many steps, then the quit message.
std::vector<std::string> StepsThenQuit(int count);

// Runs UninstallThreadProc on its own thread for a message-only window of the calling thread,
// which reads nothing until the worker has ended, as when the worker starts before the dialog's
// modal loop. Returns every message posted to the window, in order.
std::vector<MSG> RunWorkerBeforeAnyLoop();
