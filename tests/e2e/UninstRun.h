#pragma once
#include <windows.h>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

// A call of ShellExecuteW as Uninst.exe made it.
struct ShellCall {
    std::wstring verb, file, parameters, directory;
    int show;
};

// A call of CreateProcessW as Uninst.exe made it.
struct ProcessCall {
    std::wstring application, commandLine, directory;
    DWORD flags;
};

// Milliseconds on a steady clock, for the figures a run reports.
double NowMs();

// One run of Uninst.exe, started as its debugger. The driver sees each thread as it is created and
// can hold the removal worker before its first instruction, so that the progress dialog stays on
// screen for as long as the test looks at it, on a fast Windows as under Wine. It also stops
// Uninst.exe at every call of ShellExecuteW: a web address is recorded and answered as a success
// without starting anything, so that no browser opens; anything else (the self-deleting script) is
// recorded and then carried out by the system. Its calls of CoCreateInstance, the way to the desktop's
// shell, which would open the page for it, are recorded and refused. Its calls of CreateProcessW are
// recorded and carried out. Its calls of ExitWindowsEx, which
// would restart the machine, are recorded and answered as a success. Where its calls cannot be
// caught, Uninst.exe is ended at its entry point. Ending the run ends Uninst.exe.
class UninstRun {
public:
    // arguments follow the quoted path on the command line; a desktop, "station\\desktop", replaces the
    // caller's. With endAtDeletion, Uninst.exe is ended as it asks for that file deletion, as a
    // power cut would end it. Its current folder is the system's, or the folder given.
    UninstRun(const std::wstring& exe, bool holdWorker, const std::wstring& arguments = L"",
              const std::wstring& desktop = L"", int endAtDeletion = 0, const std::wstring& folder = L"");
    ~UninstRun();
    UninstRun(const UninstRun&) = delete;
    UninstRun& operator=(const UninstRun&) = delete;

    // 0 when started, else the error of CreateProcessW (ERROR_ELEVATION_REQUIRED: not elevated).
    DWORD StartError() const { return m_startError; }
    DWORD ProcessId() const { return m_processId; }
    bool WaitForHeldWorker(DWORD ms);
    void ReleaseWorker();
    // Whether the process ended within the time; its exit code.
    bool Wait(DWORD ms, DWORD* exitCode);
    std::vector<ShellCall> ShellCalls();
    std::vector<ProcessCall> ProcessCalls();
    // The classes that Uninst.exe asked CoCreateInstance for, as {XXXXXXXX-...}.
    std::vector<std::wstring> ClassesAsked();
    // The restarts that Uninst.exe asked ExitWindowsEx for: its flags and reason, and how many calls of
    // CreateProcessW came before it.
    std::vector<std::tuple<UINT, DWORD, size_t>> Restarts();
    // Empty while Uninst.exe's calls of ShellExecuteW, CoCreateInstance and ExitWindowsEx are caught or
    // it has ended, else why not.
    std::string CatchProblem();
    // When the process was started and when it ended, by NowMs.
    double LaunchedMs() const { return m_launchedMs; }
    double ExitedMs() const { return m_exitedMs; }

private:
    static DWORD WINAPI DebugLoop(LPVOID self);
    void Debug();
    void OnBreakpoint(DWORD threadId, ULONG_PTR address);
    // A call of Uninst.exe's own import led to a breakpoint on a page of the driver's.
    struct Catch {
        ULONG_PTR slot, trap, function;
    };
    bool CatchCalls(const char* dll, const char* function, Catch& c);
    ULONG_PTR ImportSlot(const char* dll, const char* function);

    std::wstring m_exe;
    bool m_holdWorker;
    std::wstring m_arguments;
    std::wstring m_desktop;
    std::wstring m_folder;
    DWORD m_startError = 0;
    DWORD m_processId = 0;
    HANDLE m_process = nullptr;
    HANDLE m_worker = nullptr;
    HANDLE m_started;
    HANDLE m_held;
    HANDLE m_thread = nullptr;
    ULONG_PTR m_image = 0, m_entry = 0;
    Catch m_shellExecute = {}, m_coCreateInstance = {}, m_exitWindows = {}, m_deleteFile = {}, m_createProcess = {};
    int m_endAtDeletion, m_deletions = 0;
    BYTE m_entryByte = 0;
    double m_launchedMs = 0, m_exitedMs = 0;
    std::mutex m_mutex;
    std::vector<ShellCall> m_calls;
    std::vector<ProcessCall> m_processes;
    std::vector<std::wstring> m_classes;
    std::vector<std::tuple<UINT, DWORD, size_t>> m_restarts;
};

// Starts a program with its standard output on a pipe and returns what it wrote once it has ended.
std::string RunForOutput(const std::wstring& commandLine, DWORD* exitCode);
