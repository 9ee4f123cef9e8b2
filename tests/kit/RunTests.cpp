// RunTests.exe, the test kit's runner, started by run-tests.cmd: RunTests [RESULTS-FOLDER]
// Runs every test program that the kit lists, each in a fresh folder and a job object of its own,
// after making sure this machine may run them, and says what passed. Exit code: 0 when every listed
// program passed, 1 when any failed, 2 when nothing was run.
#include "KitMark.h"
#include "kit/Leftovers.h"
#include "kit/Machine.h"
#include "kit/ProgramList.h"
#include "kit/ProgramRun.h"
#include <shlobj.h>

static int Refuse(const std::wstring& reason)
{
    Say(reason);
    Say(L"Nothing was run.");
    return 2;
}

static std::wstring KitFolder()
{
    wchar_t path[MAX_PATH * 2];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH * 2);
    const std::wstring exe(path, length);
    return exe.substr(0, exe.rfind(L'\\') + 1);
}

// A relative folder is taken from the current folder, as every command takes it.
static std::wstring FullPath(const std::wstring& path)
{
    wchar_t full[MAX_PATH * 2];
    const DWORD length = ::GetFullPathNameW(path.c_str(), MAX_PATH * 2, full, nullptr);
    std::wstring folder(full, length > 0 && length < MAX_PATH * 2 ? length : 0);
    while (folder.size() > 3 && folder.back() == L'\\') folder.pop_back();
    return folder;
}

static std::wstring TempFolder()
{
    wchar_t temp[MAX_PATH + 1];
    std::wstring folder(temp, ::GetTempPathW(MAX_PATH + 1, temp));
    if (!folder.empty() && folder.back() == L'\\') folder.pop_back();
    return folder;
}

static bool IsRunnable(const std::wstring& name)
{
    const std::wstring suffix = L"_tests.exe";
    return name.size() > suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

static void RemoveWorkFolder(const std::wstring& work, CRunLog& log)
{
    // A process of the last program can hold a file for a moment after its job was ended.
    for (int attempt = 0; !RemoveMarkedFolder(work); ++attempt) {
        if (attempt == 10) {
            Tell(log, L"The work folder " + work + L" could not be removed; remove it by hand.");
            return;
        }
        ::Sleep(500);
    }
}

int wmain(int argc, wchar_t** argv)
{
    // Held until this process ends, however it ends: a run that was cut short never locks the kit out.
    const HANDLE mutex = ::CreateMutexW(nullptr, TRUE, L"Global\\QuorillTestKit");
    const DWORD mutexError = ::GetLastError();
    const CHandle running(mutex);
    if (mutexError == ERROR_ALREADY_EXISTS || mutexError == ERROR_ACCESS_DENIED)
        return Refuse(L"Another run of the test kit is going on this machine: wait until it ends. Two runs would\n"
                      L"share the uninstall key and the keyboard.");
    if (!running.IsValid())
        return Refuse(L"Cannot tell whether another run of the test kit is going (error " +
                      std::to_wstring(mutexError) + L").");
    const std::wstring why = WhyNotHere();
    if (!why.empty()) return Refuse(why);

    if (argc > 2) return Refuse(L"Give one results folder at most, in quotes if its name holds spaces.");
    const std::wstring kit = KitFolder();
    const std::wstring given = argc > 1 ? argv[1] : kit + L"results", results = FullPath(given);
    const int made = results.empty() ? ERROR_BAD_PATHNAME : ::SHCreateDirectoryExW(nullptr, results.c_str(), nullptr);
    const DWORD attributes = ::GetFileAttributesW(results.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return Refuse(L"Cannot create the results folder " + (results.empty() ? given : results) + L" (error " +
                      std::to_wstring(made) + L").");
    Say(L"Results folder: " + results);
    CRunLog log(results + L"\\run-tests.log");
    if (!log.IsOpen())
        return Refuse(L"Cannot open the log " + results + L"\\run-tests.log (error " +
                      std::to_wstring(::GetLastError()) + L").");
    log.Line(L"Test kit in " + kit + L" (this log is UTF-8)\nRelease: " UNINST_RELEASE L"\n" + DescribeMachine() +
             L"\nResults in " + results);

    const std::wstring temp = TempFolder();
    for (const std::wstring& line : RemoveLeftovers(temp)) Tell(log, line);

    std::vector<KitProgram> programs;
    std::wstring error;
    if (!ReadProgramList(kit, programs, error)) return Refuse(error);
    int passed = 0, failed = 0;
    std::vector<std::wstring> runnable;
    for (const KitProgram& program : programs) {
        const std::wstring problem = CheckProgram(kit, program);
        if (!problem.empty()) {
            Tell(log, L"FAILED  " + program.name + L": " + problem);
            ++failed;
        } else if (IsRunnable(program.name)) {
            runnable.push_back(program.name);
        }
    }
    if (runnable.empty() && !failed) return Refuse(L"The kit's list names no test program.");

    const std::wstring work = temp + L"\\" + WORK_FOLDER_PREFIX + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                              std::to_wstring(::GetTickCount());
    if (!CreateMarkedFolder(work))
        return Refuse(L"Cannot create a work folder under " + temp + L" (error " + std::to_wstring(::GetLastError()) +
                      L").");
    log.Line(L"Work folder " + work);
    for (const std::wstring& name : runnable) {
        log.Line(L"\n===== " + name);
        const std::wstring failure =
            RunProgram(kit + name, work + L"\\" + name.substr(0, name.size() - 4), results, log);
        Tell(log, failure.empty() ? L"passed  " + name : L"FAILED  " + name + L": " + failure);
        ++(failure.empty() ? passed : failed);
    }
    RemoveWorkFolder(work, log);
    for (const std::wstring& line : RemoveLeftovers(temp)) Tell(log, line);

    Say(L"Results and log (run-tests.log): " + results);
    Tell(log, L"The log's lines that start with \"figure\" are this machine's timings: please send run-tests.log\n"
              L"back with a description of the machine (Windows edition, version and display language, real or\n"
              L"virtual, processor, memory).");
    Tell(log, std::to_wstring(passed) + L" passed, " + std::to_wstring(failed) + L" failed");
    return failed ? 1 : 0;
}
