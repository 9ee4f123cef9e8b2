// Times a run at the desktop from the user's Yes: Uninst.exe started as the user starts it, beside
// the floor, a program that makes only the calls that every such run must make (Floor.cpp), and
// beside NSIS's own uninstaller deleting the same entries, in turns in one run. Each question is
// answered by a key press. The first and the last listed entry are seen to go by the change
// notifications of their folders, which Wine takes from inotify, so that nothing polls beside the
// run on a machine of two cores; the peak working set, a high-water mark, is read every 10 ms.
//   desktop_bench.exe [runs] [--observed]
// Uninst.exe, floor.exe and NsisUninst.exe lie beside it. Observed by bench/outside.py, it tells that
// script of each run on its output and waits for it on its input.
#include "bench/Staging.h"
#include "e2e/Screen.h"
#include "e2e/UninstRun.h"
#include "platform/Handle.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>
#include <exdisp.h>
#include <mmsystem.h>
#include <psapi.h>
#include <tlhelp32.h>

namespace {

const fs::path stagedFolder = fs::temp_directory_path() / "uninst-desktop-bench" / "Zembrat";
// Whether the system still reported a peak working set once a process had ended; Wine does not.
bool s_peakReadAtEnd = false;

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

struct Program {
    const char* name;
    // How bench/outside.py knows it.
    const char* tag;
    fs::path source;
    const wchar_t* file;
    const wchar_t* arguments;
    // NSIS's uninstaller copies itself to %TEMP% and starts the copy unless told its folder.
    bool inPlace;
    // What it leaves in its folder once it has ended and its script has run: its own file and the
    // manifest, or nothing.
    int leaves;
};

struct Figures {
    double first, last, exit, peakMb;
    // For bench/outside.py: the same moments on the clock of QueryPerformanceCounter, which is
    // Linux's CLOCK_MONOTONIC_RAW under Wine.
    double yesAt, firstAt, lastAt, exitAt;
};

// From before the key press until the process has ended.
struct Watch {
    HANDLE process, ready;
    fs::path first, last;
    double firstGone, lastGone, exited;
    SIZE_T peak;
};

SIZE_T PeakWorkingSet(HANDLE process)
{
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof counters;
    return ::GetProcessMemoryInfo(process, &counters, sizeof counters) ? counters.PeakWorkingSetSize : 0;
}

bool Exists(const fs::path& path)
{
    return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The folder that holds one watched entry, and whether the entry went. Wine reports the changes of a
// folder's tree only one level down, so each entry's own folder is watched; and a folder held open
// stays, once removed, until it is let go, so that its parent cannot be removed: the first entry's
// folder is let go as soon as the entry has gone, long before the run reaches that folder.
struct Watched {
    explicit Watched(const fs::path& entry)
        : name(entry.filename().wstring()),
          folder(::CreateFileW(entry.parent_path().c_str(), FILE_LIST_DIRECTORY,
                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr)),
          changed(::CreateEventW(nullptr, TRUE, FALSE, nullptr))
    {
        overlapped.hEvent = changed;
        watching = folder.IsValid() && Read();
    }
    bool Read()
    {
        ::ResetEvent(changed);
        return ::ReadDirectoryChangesW(folder, changes, sizeof changes, FALSE,
                                       FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME, nullptr, &overlapped,
                                       nullptr);
    }
    // Whether the reported changes, or when they overflowed, the folder itself, show the entry gone.
    bool Gone(const fs::path& entry)
    {
        DWORD size = 0;
        if (!::GetOverlappedResult(folder, &overlapped, &size, FALSE) || !size) return !Exists(entry);
        for (DWORD at = 0;;) {
            const auto* change =
                reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(reinterpret_cast<const BYTE*>(changes) + at);
            if (change->Action == FILE_ACTION_REMOVED &&
                name == std::wstring(change->FileName, change->FileNameLength / sizeof(wchar_t)))
                return true;
            if (!change->NextEntryOffset) return false;
            at += change->NextEntryOffset;
        }
    }
    void Stop()
    {
        DWORD size;
        if (watching && ::CancelIo(folder)) ::GetOverlappedResult(folder, &overlapped, &size, TRUE);
        watching = false;
        folder.Close();
    }

    std::wstring name;
    CHandle folder, changed;
    OVERLAPPED overlapped = {};
    DWORD changes[1024];
    bool watching;
};

// Wakes when a watched folder changes or the process ends, and every 10 ms for the peak working set.
DWORD WINAPI WatchRun(LPVOID param)
{
    Watch& w = *static_cast<Watch*>(param);
    Watched first(w.first), last(w.last);
    ::SetEvent(w.ready);
    for (;;) {
        HANDLE events[3] = {w.process};
        DWORD count = 1;
        if (first.watching) events[count++] = first.changed;
        if (last.watching) events[count++] = last.changed;
        const DWORD woken = ::WaitForMultipleObjects(count, events, FALSE, 10);
        const double now = NowMs();
        if (woken == WAIT_OBJECT_0) {
            // What went just before the end, not yet reported.
            if (!w.firstGone && !Exists(w.first)) w.firstGone = now;
            if (!w.lastGone && !Exists(w.last)) w.lastGone = now;
            w.exited = now;
            first.Stop();
            last.Stop();
            return 0;
        }
        if (woken > WAIT_OBJECT_0 && woken < WAIT_OBJECT_0 + count) {
            const HANDLE event = events[woken - WAIT_OBJECT_0];
            Watched& watched = event == first.changed ? first : last;
            const fs::path& entry = event == first.changed ? w.first : w.last;
            if (watched.Gone(entry)) {
                (event == first.changed ? w.firstGone : w.lastGone) = now;
                watched.Stop();
            } else if (!watched.Read()) {
                watched.Stop();
            }
        }
        // Wine reports nothing of an ended process: there the last figure read while it ran stands.
        w.peak = std::max(w.peak, PeakWorkingSet(w.process));
    }
}

Figures Run(const Program& program, const Staged& staged, bool observed)
{
    std::wstring commandLine = L"\"" + staged.exe.wstring() + L"\"" + program.arguments;
    if (program.inPlace) commandLine += L" _?=" + staged.exe.parent_path().wstring();
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    // Started in a folder of the system's: a current folder in the staged one would hold it.
    if (!::CreateProcessW(staged.exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, system, &startup,
                          &info))
        Fail(std::string("cannot start ") + program.name);
    ::CloseHandle(info.hThread);
    const CHandle process(info.hProcess);
    const ShownBox box = WaitForBox(info.dwProcessId, 30000);
    // The outside observer finds the process while it waits for the answer, and says when it has.
    if (observed) {
        std::printf("ready %ls %ls\n", program.file,
                    stagedFolder.lexically_relative(fs::temp_directory_path()).c_str());
        std::fflush(stdout);
        char line[8];
        std::fgets(line, sizeof line, stdin);
    }
    const CHandle ready(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    Watch watch = {process, ready, staged.first, staged.last, 0, 0, 0, 0};
    const CHandle thread(::CreateThread(nullptr, 0, WatchRun, &watch, 0, nullptr));
    ::WaitForSingleObject(ready, INFINITE);
    const std::string problem = box.hwnd ? AnswerBox(box.hwnd, VK_RETURN) : "no question box";
    if (!problem.empty()) {
        ::TerminateProcess(process, 1);
        Fail(program.name + (": " + problem));
    }
    const double yes = LastKeyDownMs();
    if (::WaitForSingleObject(thread, 120000) != WAIT_OBJECT_0) {
        ::TerminateProcess(process, 1);
        Fail(program.name + std::string(" did not end within 2 minutes"));
    }
    if (Exists(staged.first) || Exists(staged.last) || UninstallKeyExists())
        Fail(program.name + std::string(" left a listed entry or the uninstall entry"));
    const SIZE_T ended = PeakWorkingSet(process);
    if (ended) s_peakReadAtEnd = true;
    const SIZE_T peak = std::max(watch.peak, ended);
    return {watch.firstGone - yes, watch.lastGone - yes, watch.exited - yes, peak / 1048576.0,
            yes, watch.firstGone, watch.lastGone, watch.exited};
}

// The scripts of Uninst.exe and of the floor delete them and their manifests once they have ended; the
// next staging waits for that, which the manifest's name shares.
void Clear(const Program& program)
{
    const auto count = [] { return std::distance(fs::directory_iterator(stagedFolder), fs::directory_iterator()); };
    for (int i = 0; count() > program.leaves; ++i) {
        if (i == 100) Fail(program.name + std::string(" left more behind than it should"));
        ::Sleep(100);
    }
    fs::remove_all(stagedFolder);
}

DWORD ExplorerId()
{
    const CHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        if (::lstrcmpiW(entry.szExeFile, L"explorer.exe") == 0) return entry.th32ProcessID;
    return 0;
}

// Wine's desktop process holds the shell's objects. Once it has quit and started again they stay
// registered to the one that quit, and every call to them waits ~10 s and fails.
void ReportShell()
{
    ::CoInitialize(nullptr);
    IShellWindows* windows = nullptr;
    const double start = NowMs();
    const HRESULT hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                          reinterpret_cast<void**>(&windows));
    std::printf("The desktop's shell (explorer.exe %lu) answered 0x%08lX in %.0f ms%s\n", ExplorerId(), hr,
                NowMs() - start,
                hr == S_OK ? "." : ": it has started again in this session, and each page asked for waits ~10 s.");
    if (windows) windows->Release();
    ::CoUninitialize();
}

Figures Print(const char* name, const std::vector<Figures>& runs)
{
    std::vector<double> first, last, exit, peak;
    for (const Figures& f : runs) {
        first.push_back(f.first);
        last.push_back(f.last);
        exit.push_back(f.exit);
        peak.push_back(f.peakMb);
    }
    const Figures median = {Median(first), Median(last), Median(exit), Median(peak), 0, 0, 0, 0};
    std::printf("  %-20s %9.0f ms %9.0f ms %9.0f ms %9.1f MB\n", name, median.first, median.last, median.exit,
                median.peakMb);
    return median;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::stoi(argv[1]) : 7;
    const bool observed = argc > 2 && std::wstring(argv[2]) == L"--observed";
    const fs::path here = ThisProgram().parent_path();
    // Wine's desktop process quits some seconds after the last window has gone: this one keeps it.
    const HWND keeper = ::CreateWindowExW(0, L"STATIC", L"desktop bench", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ::timeBeginPeriod(1);
    ReportShell();
    DWORD explorer = ExplorerId();
    // What a bench that failed left behind.
    fs::remove_all(stagedFolder.parent_path());

    const Program programs[] = {
        {"floor", "floor", here / "floor.exe", L"Floor.exe", L"", false, 0},
        {"Uninst.exe", "uninst", here / "Uninst.exe", L"Uninst.exe", L"", false, 0},
        {"NSIS's uninstaller", "nsis", here / "NsisUninst.exe", L"NsisUninst.exe", L"", true, 2},
    };
    // 400 entries with all three; 50 with the floor and Uninst.exe.
    struct Case {
        const Program& program;
        int tops, subs;
        std::vector<Figures> runs;
    };
    Case cases[] = {{programs[0], 20, 9, {}}, {programs[1], 20, 9, {}}, {programs[2], 20, 9, {}},
                    {programs[0], 5, 4, {}},  {programs[1], 5, 4, {}}};
    const int count = sizeof cases / sizeof *cases;
    // The first run of each only warms up.
    for (int run = 0; run <= runs; ++run)
        for (int turn = 0; turn < count; ++turn) {
            Case& c = cases[(run + turn) % count];
            const Figures figures =
                Run(c.program, Stage(stagedFolder, c.program.source, c.program.file, c.tops, c.subs), observed);
            Clear(c.program);
            if (run) c.runs.push_back(figures);
            if (observed) {
                std::printf("%s %s %d %.3f %.3f %.3f %.3f %.2f\n", run ? "run" : "warm-up", c.program.tag,
                            (c.subs + 1) * c.tops * 2, figures.yesAt, figures.firstAt, figures.lastAt, figures.exitAt,
                            figures.peakMb);
                std::fflush(stdout);
            }
            const DWORD now = ExplorerId();
            if (now == explorer) continue;
            std::printf("explorer.exe %lu has gone and %lu stands in its place since this run of %s: from here on the "
                        "shell's calls wait ~10 s\n", explorer, now, c.program.name);
            explorer = now;
        }
    fs::remove_all(stagedFolder.parent_path());
    ::timeEndPeriod(1);
    ::DestroyWindow(keeper);

    std::printf("Medians of %d runs each after a warm-up, in turns, from the key press of Yes; Wine's theme off.\n", runs);
    std::printf("Peak working set: PeakWorkingSetSize, %s.\n",
                s_peakReadAtEnd ? "read once the process had ended" : "as last read while the process ran, every 10 ms "
                                                                       "(it is not reported once a process has ended)");
    std::printf("%-22s %12s %12s %12s %12s\n", "Yes ->", "first gone", "last gone", "exit", "peak WS");
    std::printf("400 entries (200 files in 200 folders)\n");
    const Figures floor = Print("floor", cases[0].runs);
    const Figures uninst = Print("Uninst.exe", cases[1].runs);
    const Figures nsis = Print("NSIS's uninstaller", cases[2].runs);
    std::printf("50 entries (25 files in 25 folders)\n");
    const Figures floor50 = Print("floor", cases[3].runs);
    const Figures uninst50 = Print("Uninst.exe", cases[4].runs);
    std::printf("Yes -> exit, Uninst.exe / floor, 400 entries: %.2f (aim: 1.2 or less)\n", uninst.exit / floor.exit);
    std::printf("Yes -> exit, Uninst.exe / floor, 50 entries:  %.2f (aim: 1.2 or less)\n", uninst50.exit / floor50.exit);
    std::printf("Peak working set, Uninst.exe / NSIS's uninstaller: %.1f MB / %.1f MB (aim: no larger than NSIS's)\n",
                uninst.peakMb, nsis.peakMb);
    return 0;
}
