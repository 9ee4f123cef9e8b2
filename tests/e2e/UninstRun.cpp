#include "e2e/UninstRun.h"
#include "StartInJob.h"
#include "platform/Handle.h"
#include <objbase.h>

double NowMs()
{
    LARGE_INTEGER now, frequency;
    ::QueryPerformanceCounter(&now);
    ::QueryPerformanceFrequency(&frequency);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

namespace {

template <class T>
T ReadRemote(HANDLE process, ULONG_PTR address)
{
    T value = {};
    ::ReadProcessMemory(process, reinterpret_cast<LPCVOID>(address), &value, sizeof value, nullptr);
    return value;
}

std::string RemoteText(HANDLE process, ULONG_PTR address)
{
    std::string text;
    for (char c; address && text.size() < 260 && (c = ReadRemote<char>(process, address + text.size())) != 0;)
        text += c;
    return text;
}

std::wstring RemoteWideText(HANDLE process, ULONG_PTR address)
{
    if (!address) return L"(null)";
    std::wstring text;
    for (wchar_t c; text.size() < 2048 && (c = ReadRemote<wchar_t>(process, address + 2 * text.size())) != 0;)
        text += c;
    return text;
}

// Writes into the process, whatever the page's protection; whether it was written.
bool WriteRemote(HANDLE process, ULONG_PTR address, const void* bytes, SIZE_T size)
{
    LPVOID at = reinterpret_cast<LPVOID>(address);
    DWORD protect;
    if (!::VirtualProtectEx(process, at, size, PAGE_EXECUTE_READWRITE, &protect)) return false;
    const bool written = ::WriteProcessMemory(process, at, bytes, size, nullptr);
    ::VirtualProtectEx(process, at, size, protect, &protect);
    ::FlushInstructionCache(process, at, size);
    return written;
}

// Puts a byte into the code of the process, and returns the byte that was there.
BYTE Patch(HANDLE process, ULONG_PTR address, BYTE byte)
{
    const BYTE old = ReadRemote<BYTE>(process, address);
    WriteRemote(process, address, &byte, 1);
    return old;
}

const BYTE INT3 = 0xCC;

}  // namespace

UninstRun::UninstRun(const std::wstring& exe, bool holdWorker, const std::wstring& arguments,
                     const std::wstring& desktop, int endAtDeletion, const std::wstring& folder)
    : m_exe(exe), m_holdWorker(holdWorker), m_arguments(arguments), m_desktop(desktop), m_folder(folder),
      m_started(::CreateEventW(nullptr, TRUE, FALSE, nullptr)), m_held(::CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_endAtDeletion(endAtDeletion)
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
    std::wstring commandLine = L"\"" + m_exe + L"\"" + (m_arguments.empty() ? L"" : L" " + m_arguments);
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    if (!m_desktop.empty()) startup.lpDesktop = &m_desktop[0];
    PROCESS_INFORMATION info;
    // A process started under a debugger gets the debug heap unless this is set: the figures are to
    // be Uninst.exe's own.
    ::SetEnvironmentVariableW(L"_NO_DEBUG_HEAP", L"1");
    m_launchedMs = NowMs();
    // Started in a folder of the system's unless told: a current folder inside the staged one holds it.
    if (!CreateProcessInJob(m_exe.c_str(), &commandLine[0], FALSE, DEBUG_ONLY_THIS_PROCESS,
                            m_folder.empty() ? system : m_folder.c_str(), &startup, &info)) {
        m_startError = ::GetLastError();
        ::SetEvent(m_started);
        return;
    }
    ::CloseHandle(info.hThread);
    m_process = info.hProcess;
    m_processId = info.dwProcessId;
    ::SetEvent(m_started);

    ULONG_PTR imageEnd = 0;
    for (;;) {
        DEBUG_EVENT event;
        if (!::WaitForDebugEvent(&event, INFINITE)) return;
        DWORD status = DBG_CONTINUE;
        switch (event.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT: {
            // An open image file would keep the self-deleting script from deleting Uninst.exe.
            ::CloseHandle(event.u.CreateProcessInfo.hFile);
            m_image = reinterpret_cast<ULONG_PTR>(event.u.CreateProcessInfo.lpBaseOfImage);
            const auto nt = ReadRemote<IMAGE_NT_HEADERS32>(
                m_process, m_image + ReadRemote<IMAGE_DOS_HEADER>(m_process, m_image).e_lfanew);
            imageEnd = m_image + nt.OptionalHeader.SizeOfImage;
            // Its imports are bound by the time its entry point runs: stop there first.
            m_entry = m_image + nt.OptionalHeader.AddressOfEntryPoint;
            m_entryByte = Patch(m_process, m_entry, INT3);
            break;
        }
        case LOAD_DLL_DEBUG_EVENT:
            ::CloseHandle(event.u.LoadDll.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT: {
            // The system's own threads start in its libraries; only the removal worker starts in Uninst.exe.
            const ULONG_PTR start = reinterpret_cast<ULONG_PTR>(event.u.CreateThread.lpStartAddress);
            if (m_holdWorker && !m_worker && start >= m_image && start < imageEnd) {
                m_worker = event.u.CreateThread.hThread;
                ::SuspendThread(m_worker);
                ::SetEvent(m_held);
            }
            break;
        }
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
            if (record.ExceptionCode != EXCEPTION_BREAKPOINT) status = DBG_EXCEPTION_NOT_HANDLED;
            else OnBreakpoint(event.dwThreadId, reinterpret_cast<ULONG_PTR>(record.ExceptionAddress));
            break;
        }
        case EXIT_PROCESS_DEBUG_EVENT:
            m_exitedMs = NowMs();
            break;
        }
        ::ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
        if (event.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT) return;
    }
}

// Where Uninst.exe's own import of the function is held (its import address table), or 0.
ULONG_PTR UninstRun::ImportSlot(const char* dll, const char* function)
{
    const auto nt = ReadRemote<IMAGE_NT_HEADERS32>(m_process, m_image + ReadRemote<IMAGE_DOS_HEADER>(m_process, m_image).e_lfanew);
    ULONG_PTR at = m_image + nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    for (IMAGE_IMPORT_DESCRIPTOR d; (d = ReadRemote<IMAGE_IMPORT_DESCRIPTOR>(m_process, at)).Name; at += sizeof d) {
        if (::lstrcmpiA(RemoteText(m_process, m_image + d.Name).c_str(), dll) != 0) continue;
        for (DWORD i = 0;; ++i) {
            const DWORD name = ReadRemote<DWORD>(m_process, m_image + d.OriginalFirstThunk + 4 * i);
            if (!name) break;
            if (!(name & IMAGE_ORDINAL_FLAG32) && RemoteText(m_process, m_image + name + 2) == function)
                return m_image + d.FirstThunk + 4 * i;
        }
    }
    return 0;
}

// Uninst.exe calls a system function through its import address table: that entry is led to a
// breakpoint on a page of the driver's own, so that other code's calls of the function (an input
// method, a shell extension) or a hot patch of it cannot disarm the catch. A call the driver did not
// answer would stop Uninst.exe there rather than open a browser. Whether the catch is in place.
bool UninstRun::CatchCalls(const char* dll, const char* function, Catch& c)
{
    const ULONG_PTR slot = ImportSlot(dll, function);
    const auto trap = reinterpret_cast<ULONG_PTR>(
        ::VirtualAllocEx(m_process, nullptr, 1, MEM_COMMIT | MEM_RESERVE, PAGE_EXECUTE_READ));
    if (!slot || !trap || !WriteRemote(m_process, trap, &INT3, 1)) return false;
    const DWORD original = ReadRemote<DWORD>(m_process, slot), target = static_cast<DWORD>(trap);
    if (!WriteRemote(m_process, slot, &target, sizeof target)) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    c = {slot, trap, original};
    return true;
}

std::string UninstRun::CatchProblem()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_shellExecute.slot || !m_coCreateInstance.slot || !m_exitWindows.slot || !m_createProcess.slot)
        return "Uninst.exe's calls of ShellExecuteW, CoCreateInstance and ExitWindowsEx could not be caught: it was ended";
    if (::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0) return "";
    for (const Catch& c : {m_shellExecute, m_coCreateInstance, m_exitWindows})
        if (ReadRemote<DWORD>(m_process, c.slot) != c.trap || ReadRemote<BYTE>(m_process, c.trap) != INT3)
            return "the catch of Uninst.exe's calls of ShellExecuteW, CoCreateInstance or ExitWindowsEx has been "
                   "overwritten: a browser could open, or the machine restart";
    return "";
}

void UninstRun::OnBreakpoint(DWORD threadId, ULONG_PTR address)
{
    const bool shellExecute = m_shellExecute.trap && address == m_shellExecute.trap;
    const bool coCreateInstance = m_coCreateInstance.trap && address == m_coCreateInstance.trap;
    const bool exitWindows = m_exitWindows.trap && address == m_exitWindows.trap;
    const bool deleteFile = m_deleteFile.trap && address == m_deleteFile.trap;
    const bool createProcess = m_createProcess.trap && address == m_createProcess.trap;
    if (address != m_entry && !shellExecute && !coCreateInstance && !exitWindows && !deleteFile && !createProcess) return;
    CHandle thread(::OpenThread(THREAD_GET_CONTEXT | THREAD_SET_CONTEXT, FALSE, threadId));
    CONTEXT context = {};
    context.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
    ::GetThreadContext(thread, &context);
    // Whichever way Windows or Wine report the instruction pointer after an INT3, it is set here.
    context.Eip = static_cast<DWORD>(address);
    // Called: the return address, then the arguments.
    const ULONG_PTR esp = context.Esp;
    const auto argument = [this, esp](int i) { return ReadRemote<DWORD>(m_process, esp + 4 + 4 * i); };
    const auto answer = [&context, esp, this](DWORD result, int arguments) {
        context.Eax = result;
        context.Eip = ReadRemote<DWORD>(m_process, esp);
        context.Esp += 4 + 4 * arguments;
    };
    if (address == m_entry) {
        Patch(m_process, m_entry, m_entryByte);
        m_entry = 0;
        if (!CatchCalls("SHELL32.dll", "ShellExecuteW", m_shellExecute) ||
            !CatchCalls("ole32.dll", "CoCreateInstance", m_coCreateInstance) ||
            !CatchCalls("USER32.dll", "ExitWindowsEx", m_exitWindows) ||
            !CatchCalls("KERNEL32.dll", "CreateProcessW", m_createProcess) ||
            (m_endAtDeletion && !CatchCalls("KERNEL32.dll", "DeleteFileW", m_deleteFile)))
            ::TerminateProcess(m_process, 1);
    } else if (deleteFile) {
        if (++m_deletions == m_endAtDeletion) ::TerminateProcess(m_process, 1);
        context.Eip = static_cast<DWORD>(m_deleteFile.function);
    } else if (createProcess) {
        // CreateProcessW(application, command line, 2 x security, inherit, flags, environment, folder, ...).
        ProcessCall call = {RemoteWideText(m_process, argument(0)), RemoteWideText(m_process, argument(1)),
                            RemoteWideText(m_process, argument(7)), argument(5)};
        context.Eip = static_cast<DWORD>(m_createProcess.function);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_processes.push_back(call);
    } else if (exitWindows) {
        // ExitWindowsEx(flags, reason): nothing restarts.
        answer(TRUE, 2);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_restarts.emplace_back(argument(0), argument(1), m_processes.size());
    } else if (coCreateInstance) {
        // CoCreateInstance(class, outer, context, interface, out): refused, nothing handed out.
        const GUID clsid = ReadRemote<GUID>(m_process, argument(0));
        wchar_t text[40];
        ::StringFromGUID2(clsid, text, 40);
        const DWORD none = 0;
        WriteRemote(m_process, argument(4), &none, sizeof none);
        answer(static_cast<DWORD>(REGDB_E_CLASSNOTREG), 5);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_classes.push_back(text);
    } else {
        ShellCall call = {RemoteWideText(m_process, argument(1)), RemoteWideText(m_process, argument(2)),
                          RemoteWideText(m_process, argument(3)), RemoteWideText(m_process, argument(4)),
                          static_cast<int>(argument(5))};
        if (call.file.compare(0, 7, L"http://") == 0 || call.file.compare(0, 8, L"https://") == 0)
            answer(42, 6);  // above 32: a success
        else
            context.Eip = static_cast<DWORD>(m_shellExecute.function);
        std::lock_guard<std::mutex> lock(m_mutex);
        m_calls.push_back(call);
    }
    ::SetThreadContext(thread, &context);
}

bool UninstRun::WaitForHeldWorker(DWORD ms)
{
    return ::WaitForSingleObject(m_held, ms) == WAIT_OBJECT_0;
}

void UninstRun::ReleaseWorker()
{
    // Resuming a thread of a process that has ended can bring Wine 8's wineserver down.
    if (m_worker && ::WaitForSingleObject(m_process, 0) == WAIT_TIMEOUT) ::ResumeThread(m_worker);
}

std::vector<ShellCall> UninstRun::ShellCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
}

std::vector<ProcessCall> UninstRun::ProcessCalls()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_processes;
}

std::vector<std::wstring> UninstRun::ClassesAsked()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_classes;
}

std::vector<std::tuple<UINT, DWORD, size_t>> UninstRun::Restarts()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_restarts;
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
    const bool started = CreateProcessInJob(nullptr, &line[0], TRUE, 0, nullptr, &startup, &info);
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
