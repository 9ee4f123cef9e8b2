// Times Uninst.exe /S against the floor's /S, the least that a silent removal has to do: read the
// same manifest, delete the same files, folders and key, and start the script that deletes it after
// it exits, as Uninst.exe starts its own (Floor.cpp). Both run on 200 files in 200 folders, started
// and waited for as a deployment tool starts them, in turns, in one run.
//   silent_bench.exe [runs] [--observed]
// Uninst.exe and floor.exe lie beside it. Observed by bench/outside.py, as bench/DesktopBench.cpp is.
#include "bench/Staging.h"
#include <cstdio>
#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

const fs::path root = fs::temp_directory_path() / ("uninst-silent-bench-" + std::to_string(::GetCurrentProcessId()));

double Now()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

// Started, waited for and timed; then its script is left to delete it, and the folder goes. Observed,
// it is created suspended, so that bench/outside.py finds it before it runs; the pause is not timed.
double Run(const fs::path& exe, const std::wstring& arguments, const char* tag, bool observed, bool counted)
{
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + arguments;
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info;
    const double start = Now();
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, observed ? CREATE_SUSPENDED : 0,
                          nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start %ls\n", exe.c_str());
        std::exit(1);
    }
    double created = Now(), resumed = created;
    if (observed) {
        std::printf("ready %ls %ls\n", exe.filename().c_str(),
                    exe.parent_path().lexically_relative(fs::temp_directory_path()).c_str());
        std::fflush(stdout);
        char line[8];
        std::fgets(line, sizeof line, stdin);
        resumed = Now();
        ::ResumeThread(info.hThread);
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    const double ended = Now(), elapsed = (created - start) + (ended - resumed);
    if (observed) {
        // As if it had been started without the pause.
        const double from = resumed - (created - start);
        std::printf("%s %s 400 %.3f 0 0 %.3f 0\n", counted ? "run" : "warm-up", tag, from, ended);
        std::fflush(stdout);
    }
    ::CloseHandle(info.hProcess);
    ::CloseHandle(info.hThread);
    for (int i = 0; fs::exists(exe) || fs::exists(exe.parent_path() / "Uninst.ini"); ++i) {
        if (i == 100) {
            std::fprintf(stderr, "%ls stays after its exit\n", exe.filename().c_str());
            std::exit(1);
        }
        ::Sleep(100);
    }
    if (fs::remove_all(exe.parent_path()) != 1) {
        std::fprintf(stderr, "%ls left more than its folder behind\n", exe.filename().c_str());
        std::exit(1);
    }
    return elapsed;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    const int runs = argc > 1 ? std::stoi(argv[1]) : 9;
    const bool observed = argc > 2 && std::wstring(argv[2]) == L"--observed";
    const fs::path here = ThisProgram().parent_path(), uninst = here / "Uninst.exe", floor = here / "floor.exe";
    // What a bench that failed left behind, under a process id that has come round again.
    fs::remove_all(root);

    std::vector<double> silent, floors;
    // The first run of each only warms up.
    for (int run = 0; run <= runs; ++run)
        for (int turn = 0; turn < 2; ++turn) {
            const bool isUninst = (run + turn) % 2;
            const Staged staged =
                Stage(root / "Zembrat", isUninst ? uninst : floor, isUninst ? L"Uninst.exe" : L"Floor.exe", 20, 9);
            const double elapsed = Run(staged.exe, L"/S", isUninst ? "uninst" : "floor", observed, run);
            if (run) (isUninst ? silent : floors).push_back(elapsed);
        }
    fs::remove_all(root);
    std::printf("200 files, 200 folders, %d runs each after a warm-up, in turns (median, from start to exit)\n", runs);
    std::printf("floor /S:        %8.1f ms\n", Median(floors));
    std::printf("Uninst.exe /S:   %8.1f ms\n", Median(silent));
    std::printf("ratio:           %8.2f (aim: 1.05 or less)\n", Median(silent) / Median(floors));
    return 0;
}
