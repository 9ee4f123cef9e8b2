// What the removal worker's tests share: a stand-in for the browser, and a run
// of the worker against a window whose queue is read only after the worker has ended.
#pragma once
#include "ImportHook.h"
#include "KitMark.h"
#include "PendingDeletions.h"
#include "app/RunState.h"
#include <functional>
#include <mutex>
#include <string>
#include <vector>
#include <windows.h>

// Takes the place of the ways to a browser in this program for the life of the object: its own
// ShellExecuteW, and the desktop's shell, which it reaches through CoCreateInstance. Records each
// call and answers it as a success without starting anything, so that no browser opens; the
// process counts as elevated, or not. onOpen runs while the caller is still inside the call. With
// failAt, that step on the way through the desktop's shell fails (0: the shell's windows). Stalled,
// the desktop's shell gives no answer, as a hung Explorer does, until it is told to answer.
class PageRecorder {
public:
    struct Call {
        std::wstring way, verb, file, parameters, directory;
        INT show;
        bool operator==(const Call& other) const;
    };
    enum { FIND_DESKTOP_WINDOW = 1 };

    explicit PageRecorder(std::function<void()> onOpen = {}, bool elevated = true, int failAt = -1);
    ~PageRecorder();
    PageRecorder(const PageRecorder&) = delete;
    PageRecorder& operator=(const PageRecorder&) = delete;

    std::vector<Call> Calls();
    void Clear();
    void Stall();
    void Answer();
    // References to the desktop's shell that the program holds.
    LONG References() const;

    void Record(const Call& call);

private:
    std::function<void()> m_onOpen;
    std::mutex m_mutex;
    std::vector<Call> m_calls;
    HANDLE m_answer;
    ImportHook m_shellExecute, m_coCreateInstance, m_tokenInformation;
};

// What the worker asks for: the download page, opened by the desktop's shell, as a user's browser
// would show it.
std::vector<PageRecorder::Call> DownloadPageOpened();
void PrintTo(const PageRecorder::Call& call, std::ostream* os);

// Readable names of what a window received, "step" and "quit" for the worker's two messages.
std::vector<std::string> Describe(const std::vector<MSG>& messages);
// What the worker posts for a number of list entries: that many steps, then the quit message.
std::vector<std::string> StepsThenQuit(int count);

// The removal log that run writes, without its byte order mark.
std::string LogOf(const std::function<void()>& run);

// Runs UninstallThreadProc on its own thread for the run, with a dialog whose window is a
// message-only window of the calling thread, which reads nothing until the worker has ended, as
// when the worker starts before the dialog's modal loop; then waits for the download page as the
// exit step does. Returns every message posted to the window, in order.
std::vector<MSG> RunWorkerBeforeAnyLoop(RunState& run);
