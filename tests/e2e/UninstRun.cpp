#include "e2e/UninstRun.h"

UninstRun::UninstRun(const std::wstring& exe, bool holdWorker)
    : m_exe(exe), m_holdWorker(holdWorker), m_started(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_held(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    // The thread that starts a process as its debugger is the one that receives its events.
    m_thread = ::CreateThread(nullptr, 0, DebugLoop, this, 0, nullptr);
    ::WaitForSingleObject(m_started, INFINITE);
}

UninstRun::~UninstRun()
{
    if (m_process && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) ::TerminateProcess(m_process, 1);
    ::WaitForSingleObject(m_thread, INFINITE);
    ::CloseHandle(m_thread);
    if (m_process) ::CloseHandle(m_process);
    ::CloseHandle(m_held);
    ::CloseHandle(m_started);
}

DWORD WINAPI UninstRun::DebugLoop(LPVOID self)
{
    static_cast<UninstRun*>(self)->Debug();
    return 0;
}

void UninstRun::Debug()
{
    std::wstring commandLine = L"\"" + m_exe + L"\"";
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    // Started in a folder of the system's: a current folder inside the staged one would hold it.
    if (!::CreateProcessW(m_exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr,
                          system, &startup, &info)) {
        m_startError = ::GetLastError();
        ::SetEvent(m_started);
        return;
    }
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    ::SetEvent(m_started);

    ULONG_PTR imageStart = 0, imageEnd = 0;
    for (;;) {
        DEBUG_EVENT event;
        if (!::WaitForDebugEvent(&event, INFINITE)) return;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            // An open image file would keep the self-deleting script from deleting Uninst.exe.
            ::CloseHandle(event.u.CreateProcessInfo.hFile);
            imageStart = reinterpret_cast<ULONG_PTR>(event.u.CreateProcessInfo.lpBaseOfImage);
            IMAGE_DOS_HEADER dos = {};
            IMAGE_NT_HEADERS32 nt = {};
            ::ReadProcessMemory(m_process, event.u.CreateProcessInfo.lpBaseOfImage, &dos, sizeof dos, nullptr);
            ::ReadProcessMemory(m_process, reinterpret_cast<BYTE*>(imageStart) + dos.e_lfanew, &nt, sizeof nt, nullptr);
            imageEnd = imageStart + nt.OptionalHeader.SizeOfImage;
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            ::CloseHandle(event.u.LoadDll.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT: {
            // The system's own threads start in its libraries; only the removal worker starts in Uninst.exe.
            const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(event.u.CreateThread.lpStartAddress);
            if (m_holdWorker && !m_worker && start >= imageStart && start < imageEnd) {
                m_worker = event.u.CreateThread.hThread;
                ::SuspendThread(m_worker);
                ::SetEvent(m_held);
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT:
            if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
                status = DBG_EXCEPTION_NOT_HANDLED;
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return;
    }
}

bool UninstRun::WaitForHeldWorker(DWORD ms)
{
    return ::WaitForSingleObject(m_held, ms) == WAIT_OBJECT_0;
}

void UninstRun::ReleaseWorker()
{
    if (m_worker) ::ResumeThread(m_worker);
}

bool UninstRun::Wait(DWORD ms, DWORD* exitCode)
{
    if (!m_process || ::WaitForSingleObject(m_process, ms) != WAIT_OBJECT_0) return false;
    ::GetExitCodeProcess(m_process, exitCode);
    return true;
}

std::string RunForOutput(const std::wstring& commandLine, DWORD* exitCode)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE read, write;
    *exitCode = ~0u;
    if (!::CreatePipe(&read, &write, &inherit, 0)) return {};
    ::SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = write;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info;
    std::wstring line = commandLine;
    const bool started =
        ::CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info);
    ::CloseHandle(write);
    std::string output;
    if (started) {
        char buffer[4096];
        DWORD got;
        while (::ReadFile(read, buffer, sizeof buffer, &got, nullptr) && got) output.append(buffer, got);
        ::WaitForSingleObject(info.hProcess, INFINITE);
        ::GetExitCodeProcess(info.hProcess, exitCode);
        ::CloseHandle(info.hProcess);
        ::CloseHandle(info.hThread);
    }
    ::CloseHandle(read);
    return output;
}
