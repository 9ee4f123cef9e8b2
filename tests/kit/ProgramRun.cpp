#include "kit/ProgramRun.h"
#include <cstdlib>
#include <cstring>
#include <functional>

// Where a program's output goes: false when it could not all be kept.
using OutputSink = std::function<bool(const char* bytes, DWORD size)>;

static std::wstring Error(const std::wstring& what)
{
    return what + L" (error " + std::to_wstring(::GetLastError()) + L")";
}

// GoogleTest makes the path of --gtest_output absolute with the current folder as _getcwd spells it,
// in the ANSI code page. The short name of the program's folder is ASCII where the volume keeps 8.3
// names, so that a %TEMP% that the code page cannot spell still takes the results.
static std::wstring ShortName(const std::wstring& path)
{
    wchar_t name[MAX_PATH];
    const DWORD length = ::GetShortPathNameW(path.c_str(), name, MAX_PATH);
    return length && length < MAX_PATH ? std::wstring(name, length) : path;
}

// GoogleTest takes its flags from the environment as well (GTEST_FILTER, GTEST_SHARD_INDEX, ...), and
// Bazel's test settings: a leftover in the prompt would choose which tests run, or none.
static bool IsTestSetting(const wchar_t* entry)
{
    for (const wchar_t* name : {L"GTEST_", L"TESTBRIDGE_", L"TEST_PREMATURE_EXIT_FILE=", L"XML_OUTPUT_FILE="})
        if (::_wcsnicmp(entry, name, ::lstrlenW(name)) == 0) return true;
    return false;
}

// This process's environment without any test setting, with TEMP and TMP naming the program's folder.
static std::wstring ProgramEnvironment(const std::wstring& temp)
{
    std::wstring block;
    bool temps[2] = {};
    const wchar_t* names[2] = {L"TEMP=", L"TMP="};
    wchar_t* const all = ::GetEnvironmentStringsW();
    for (const wchar_t* entry = all; *entry; entry += ::lstrlenW(entry) + 1) {
        if (IsTestSetting(entry)) continue;
        std::wstring line = entry;
        for (int i = 0; i < 2; ++i)
            if (::_wcsnicmp(entry, names[i], ::lstrlenW(names[i])) == 0)
                line = names[i] + temp, temps[i] = true;
        block += line + L'\0';
    }
    ::FreeEnvironmentStringsW(all);
    for (int i = 0; i < 2; ++i)
        if (!temps[i]) block += names[i] + temp + L'\0';
    return block + L'\0';
}

// The tests that a GoogleTest XML file reports, from its opening <testsuites tests="N" ...>.
static int TestsIn(const std::wstring& file)
{
    CHandle xml(::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    char head[4096];
    DWORD read = 0;
    if (!xml.IsValid() || !::ReadFile(xml, head, sizeof head - 1, &read, nullptr)) return 0;
    head[read] = '\0';
    const char* const tests = std::strstr(head, "<testsuites tests=\"");
    return tests ? std::atoi(tests + 19) : 0;
}

// Copies the program's XML files into the results folder and counts the tests they report.
static std::wstring CopyResults(const std::wstring& folder, const std::wstring& results, int& tests)
{
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW((folder + L"\\results\\*.xml").c_str(), &data));
    if (!find.IsValid()) return L"no results";
    std::wstring failure;
    do {
        const std::wstring source = folder + L"\\results\\" + data.cFileName, target = results + L"\\" + data.cFileName;
        tests += TestsIn(source);
        if (!::CopyFileW(source.c_str(), target.c_str(), FALSE) && failure.empty())
            failure = Error(L"no results: " + target + L" could not be written");
    } while (::FindNextFileW(find, &data));
    return failure;
}

// The tests that `--gtest_list_tests` names: each on a line of its own, indented under its suite.
static int ListedTests(const std::string& listing)
{
    int tests = 0;
    for (size_t at = listing.find("\n  "); at != std::string::npos; at = listing.find("\n  ", at + 1)) ++tests;
    return tests;
}

// An exit code that is an exception code (0xC0000005 ...) is a crash: with the job's
// JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION, an unhandled exception ends the process at once
// with its code, with no Windows Error Reporting dialog and no report.
static std::wstring Ended(DWORD code)
{
    if (code < 0xC0000000) return L"exit code " + std::to_wstring(code);
    wchar_t hex[16];
    wsprintfW(hex, L"0x%08lX", code);
    return std::wstring(L"crashed: exception ") + hex;
}

// Windows 7 puts a process in one job only: where the runner is in a job that lets its children
// break away, the program leaves it first. Why it could not be started, or nothing.
static std::wstring StartSuspended(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                                   HANDLE output, PROCESS_INFORMATION& started)
{
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    CHandle input(::CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                0, nullptr));
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = startup.hStdError = output;
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    std::wstring environment = ProgramEnvironment(folder);
    const DWORD flags = CREATE_SUSPENDED | CREATE_UNICODE_ENVIRONMENT;
    for (DWORD breakaway : {DWORD(CREATE_BREAKAWAY_FROM_JOB), DWORD(0)}) {
        if (::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags | breakaway,
                             &environment[0], folder.c_str(), &startup, &started))
            return L"";
        if (::GetLastError() != ERROR_ACCESS_DENIED) break;
    }
    return Error(L"could not be started");
}

// Passes the program's output on to the sink until every process that holds the pipe is gone. The job
// is ended when the program ends or its time is up; a holder outside the job gets a few seconds.
static void Record(HANDLE process, HANDLE job, HANDLE output, const OutputSink& sink, bool& timedOut, bool& recorded)
{
    const DWORD begin = ::GetTickCount(), limit = PROGRAM_TIME_LIMIT_MINUTES * 60 * 1000;
    DWORD endedAt = 0;
    bool ended = false;
    for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(output, nullptr, 0, nullptr, &available, nullptr)) break;
        if (available) {
            char buffer[4096];
            DWORD read = 0;
            if (::ReadFile(output, buffer, sizeof buffer, &read, nullptr))
                recorded = sink(buffer, read) && recorded;
        } else if (!ended) {
            const bool exited = ::WaitForSingleObject(process, 50) == WAIT_OBJECT_0;
            timedOut = !exited && ::GetTickCount() - begin > limit;
            if (exited || timedOut) {
                ::TerminateJobObject(job, 1);
                ended = true;
                endedAt = ::GetTickCount();
            }
        } else if (::GetTickCount() - endedAt > 5000) {
            break;
        } else {
            ::Sleep(50);
        }
    }
    ::WaitForSingleObject(process, 5000);
}

// One start of the program, with the arguments, in its folder and a job object of its own that ends
// whatever it started when it ends. Why it did not run to its end, or nothing; its exit code.
static std::wstring RunOnce(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
                            const OutputSink& sink, DWORD& code)
{
    CHandle job(::CreateJobObjectW(nullptr, nullptr));
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_DIE_ON_UNHANDLED_EXCEPTION;
    if (!job.IsValid() ||
        !::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits))
        return Error(L"no job object could be made for it; not run");
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE readEnd, writeEnd;
    if (!::CreatePipe(&readEnd, &writeEnd, &inherited, 0)) return Error(L"no pipe for its output; not run");
    CHandle output(readEnd), childOutput(writeEnd);
    ::SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);

    PROCESS_INFORMATION started = {};
    const std::wstring failure = StartSuspended(exe, arguments, ShortName(folder), childOutput, started);
    if (!failure.empty()) return failure;
    CHandle process(started.hProcess), thread(started.hThread);
    childOutput.Close();
    // In the job before it runs a single instruction, so that nothing it starts can escape.
    if (!::AssignProcessToJobObject(job, process)) {
        const std::wstring reason = Error(L"could not be put in a job object, so what it starts could outlive it");
        ::TerminateProcess(process, 1);
        return reason + L"; not run";
    }
    ::ResumeThread(thread);
    bool timedOut = false, recorded = true;
    Record(process, job, output, sink, timedOut, recorded);
    code = 1;
    ::GetExitCodeProcess(process, &code);
    if (timedOut)
        return L"did not end within " + std::to_wstring(PROGRAM_TIME_LIMIT_MINUTES) +
               L" minutes; it and all it started were ended";
    if (code != 0) return Ended(code);
    return recorded ? L"" : L"its output could not be recorded";
}

std::wstring RunProgram(const std::wstring& exe, const std::wstring& folder, const std::wstring& results,
                        CRunLog& log)
{
    if (!::CreateDirectoryW(folder.c_str(), nullptr))
        return Error(L"its folder " + folder + L" could not be made");
    // Its own list, taken with every filter given on the command line, is what a complete run reports.
    std::string listing;
    const auto list = [&listing](const char* bytes, DWORD size) { return listing.append(bytes, size), true; };
    DWORD code;
    std::wstring failure = RunOnce(exe, L"--gtest_list_tests --gtest_filter=*", folder, list, code);
    if (!failure.empty()) return L"its tests could not be listed: " + failure;
    failure = RunOnce(exe, L"--gtest_output=xml:results\\", folder,
                      [&log](const char* bytes, DWORD size) { return log.Write(bytes, size); }, code);
    int tests = 0;
    const std::wstring copied = CopyResults(folder, results, tests);
    if (!failure.empty()) return failure;
    if (!copied.empty()) return copied;
    const int listed = ListedTests(listing);
    if (tests == 0) return L"its results hold no test";
    if (tests < listed)
        return L"its results hold " + std::to_wstring(tests) + L" of its " + std::to_wstring(listed) + L" tests";
    return L"";
}
