#pragma once
#include <windows.h>
#include <string>

// One run of Uninst.exe, started as its debugger: the driver sees each thread as it is created and
// can hold the removal worker before its first instruction, so that the progress dialog stays on
// screen for as long as the test looks at it, on a fast Windows as under Wine.
class UninstRun {
public:
    UninstRun(const std::wstring& exe, bool holdWorker);
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

private:
    static DWORD WINAPI DebugLoop(LPVOID self);
    void Debug();

    std::wstring m_exe;
    bool m_holdWorker;
    DWORD m_startError = 0;
    DWORD m_processId = 0;
    HANDLE m_process = nullptr;
    HANDLE m_worker = nullptr;
    HANDLE m_started;
    HANDLE m_held;
    HANDLE m_thread = nullptr;
};

// Starts a program with its standard output on a pipe and returns what it wrote once it has ended.
std::string RunForOutput(const std::wstring& commandLine, DWORD* exitCode);
