#include "StartInJob.h"
#include <initializer_list>

// One job for everything this program starts; its handle is never closed, so it goes, and ends
// what is in it, when this program ends.
static HANDLE StartersJob()
{
    static const HANDLE job = [] {
        const HANDLE made = ::CreateJobObjectW(nullptr, nullptr);
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        return made && ::SetInformationJobObject(made, JobObjectExtendedLimitInformation, &limits, sizeof limits)
                   ? made
                   : nullptr;
    }();
    return job;
}

// Windows 7 puts a process in one job only. A child that this program's own job keeps (it lets no
// child break away) cannot join another there, and needs not: where that job ends what is in it
// when it closes, as the test kit's runner's does, the child ends with it.
static bool KeptByOwnJob(HANDLE process)
{
    BOOL inJob = FALSE;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION own = {};
    return ::IsProcessInJob(process, nullptr, &inJob) && inJob &&
           ::QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &own, sizeof own, nullptr) &&
           (own.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE);
}

BOOL CreateProcessInJob(LPCWSTR exe, LPWSTR commandLine, BOOL inheritHandles, DWORD flags, LPCWSTR folder,
                        STARTUPINFOW* startup, PROCESS_INFORMATION* started)
{
    const HANDLE job = StartersJob();
    if (!job) return FALSE;
    // A job that lets children break away (as Windows 7 gives programs started from Explorer) is left.
    BOOL created = FALSE;
    for (DWORD breakaway : {DWORD(CREATE_BREAKAWAY_FROM_JOB), DWORD(0)}) {
        created = ::CreateProcessW(exe, commandLine, nullptr, nullptr, inheritHandles,
                                   flags | CREATE_SUSPENDED | breakaway, nullptr, folder, startup, started);
        if (created || ::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    if (!created) return FALSE;
    const DWORD error = ::AssignProcessToJobObject(job, started->hProcess) ? 0 : ::GetLastError();
    if (error && !KeptByOwnJob(started->hProcess)) {
        ::TerminateProcess(started->hProcess, 1);
        ::CloseHandle(started->hThread);
        ::CloseHandle(started->hProcess);
        ::SetLastError(error);
        return FALSE;
    }
    ::ResumeThread(started->hThread);
    return TRUE;
}
