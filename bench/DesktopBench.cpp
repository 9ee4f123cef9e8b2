// Times a run at the desktop from the user's Yes: Uninst.exe started as the user starts it, beside
// a floor program that only asks the same question, reads the same manifest and deletes the same
// entries and the key, and beside NSIS's own uninstaller deleting the same entries, in turns in one
// run. Each question is answered by a key press, and the first and the last listed entry are
// watched as they go.
//   desktop_bench.exe [runs]   the comparison; Uninst.exe and NsisUninst.exe lie beside this program
//   Floor.exe floor            the floor, as the comparison starts it from a staged folder
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

const wchar_t CONFIRM_REMOVAL[] = L"您确定要从本计算机中删除“Zembrat”网络电话吗？";
const fs::path stagedFolder = fs::temp_directory_path() / "uninst-desktop-bench" / "Zembrat";
// Whether the system still reported a peak working set once a process had ended; Wine does not.
bool s_peakReadAtEnd = false;

int Floor()
{
    if (::MessageBoxW(nullptr, CONFIRM_REMOVAL, L"Zembrat", MB_YESNO | MB_ICONQUESTION) != IDYES) return 1;
    RemoveListed(ThisProgram().parent_path() / "Uninst.ini");
    return 0;
}

[[noreturn]] void Fail(const std::string& what)
{
    std::fprintf(stderr, "%s\n", what.c_str());
    std::exit(1);
}

struct Program {
    const char* name;
    fs::path source;
    const wchar_t* file;
    const wchar_t* arguments;
    // NSIS's uninstaller copies itself to %TEMP% and starts the copy unless told its folder.
    bool inPlace;
    // What it leaves in its folder once it has ended: its own file and the manifest, or nothing.
    int leaves;
};

struct Figures {
    double first, last, exit, peakMb;
};

// From before the key press until the process has ended, each millisecond.
struct Watch {
    HANDLE process;
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

DWORD WINAPI WatchRun(LPVOID param)
{
    Watch& w = *static_cast<Watch*>(param);
    for (;;) {
        const bool ended = ::WaitForSingleObject(w.process, 1) == WAIT_OBJECT_0;
        const double now = NowMs();
        if (!w.firstGone && !Exists(w.first)) w.firstGone = now;
        if (!w.lastGone && !Exists(w.last)) w.lastGone = now;
        if (ended) {
            w.exited = now;
            return 0;
        }
        // Wine reports nothing of an ended process: there the last figure read while it ran stands.
        w.peak = std::max(w.peak, PeakWorkingSet(w.process));
    }
}

Figures Run(const Program& program, const Staged& staged)
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
    Watch watch = {process, staged.first, staged.last, 0, 0, 0, 0};
    const CHandle thread(::CreateThread(nullptr, 0, WatchRun, &watch, 0, nullptr));
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
    return {watch.firstGone - yes, watch.lastGone - yes, watch.exited - yes, peak / 1048576.0};
}

// Uninst.exe's script deletes it and its manifest once it has ended; nothing else may stay.
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
    const Figures median = {Median(first), Median(last), Median(exit), Median(peak)};
    std::printf("  %-20s %9.0f ms %9.0f ms %9.0f ms %9.1f MB\n", name, median.first, median.last, median.exit,
                median.peakMb);
    return median;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wstring(argv[1]) == L"floor") return Floor();
    const int runs = argc > 1 ? std::stoi(argv[1]) : 7;
    const fs::path self = ThisProgram(), here = self.parent_path();
    // Wine's desktop process quits some seconds after the last window has gone: this one keeps it.
    const HWND keeper = ::CreateWindowExW(0, L"STATIC", L"desktop bench", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ::timeBeginPeriod(1);
    ReportShell();
    DWORD explorer = ExplorerId();
    // What a bench that failed left behind.
    fs::remove_all(stagedFolder.parent_path());

    const Program programs[] = {
        {"floor", self, L"Floor.exe", L" floor", false, 2},
        {"Uninst.exe", here / "Uninst.exe", L"Uninst.exe", L"", false, 0},
        {"NSIS's uninstaller", here / "NsisUninst.exe", L"NsisUninst.exe", L"", true, 2},
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
            const Figures figures = Run(c.program, Stage(stagedFolder, c.program.source, c.program.file, c.tops, c.subs));
            Clear(c.program);
            if (run) c.runs.push_back(figures);
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
                s_peakReadAtEnd ? "read once the process had ended" : "as last read while the process ran, each millisecond "
                                                                       "(it is not reported once a process has ended)");
    std::printf("%-22s %12s %12s %12s %12s\n", "Yes ->", "first gone", "last gone", "exit", "peak WS");
    std::printf("400 entries (200 files in 200 folders)\n");
    const Figures floor = Print("floor", cases[0].runs);
    const Figures uninst = Print("Uninst.exe", cases[1].runs);
    const Figures nsis = Print("NSIS's uninstaller", cases[2].runs);
    std::printf("50 entries (25 files in 25 folders)\n");
    const Figures floor50 = Print("floor", cases[3].runs);
    const Figures uninst50 = Print("Uninst.exe", cases[4].runs);
    std::printf("Yes -> exit, Uninst.exe / floor, 400 entries: %.2f (aim: 1.8 or less)\n", uninst.exit / floor.exit);
    std::printf("Yes -> exit, Uninst.exe / floor, 50 entries:  %.2f\n", uninst50.exit / floor50.exit);
    std::printf("Peak working set, Uninst.exe / NSIS's uninstaller: %.1f MB / %.1f MB (aim: no larger than NSIS's)\n",
                uninst.peakMb, nsis.peakMb);
    return 0;
}
