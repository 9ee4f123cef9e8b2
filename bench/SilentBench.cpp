// Times Uninst.exe /S against the least that a silent removal has to do: a program that reads the
// same manifest, deletes the same files, folders and key, and starts a batch file that deletes it
// after it exits. Both run on 200 files in 200 folders, started and waited for as a deployment
// tool starts them, in turns, in one run.
//   silent_bench.exe [runs]   the comparison; Uninst.exe lies beside this program
//   Least.exe least           the least removal, as the comparison starts it from a staged folder
#include "bench/Staging.h"
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <windows.h>
#include <shellapi.h>

namespace {

const fs::path root = fs::temp_directory_path() / ("uninst-silent-bench-" + std::to_string(::GetCurrentProcessId()));

int Least()
{
    const fs::path exe = ThisProgram(), manifest = exe.parent_path() / "Uninst.ini";
    RemoveListed(manifest);
    const fs::path script = fs::temp_directory_path() / "_least_del.bat";
    std::ofstream(script, std::ios::binary) << ":Repeat\r\nDel \"" << exe.string() << "\"\r\nif exist \""
                                            << exe.string() << "\" goto Repeat\r\nDel \"" << manifest.string()
                                            << "\"\r\nDel \"%~f0\"\r\n";
    ::ShellExecuteW(nullptr, L"open", script.c_str(), L"", fs::temp_directory_path().c_str(), SW_HIDE);
    return 0;
}

double Now()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

// Started, waited for and timed; then its script is left to delete it, and the folder goes.
double Run(const fs::path& exe, const std::wstring& arguments)
{
    std::wstring commandLine = L"\"" + exe.wstring() + L"\" " + arguments;
    STARTUPINFOW startup = {sizeof startup};
    PROCESS_INFORMATION info;
    const double start = Now();
    if (!::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        std::fprintf(stderr, "cannot start %ls\n", exe.c_str());
        std::exit(1);
    }
    ::WaitForSingleObject(info.hProcess, INFINITE);
    const double elapsed = Now() - start;
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
    if (argc > 1 && std::wstring(argv[1]) == L"least") return Least();
    const int runs = argc > 1 ? std::stoi(argv[1]) : 9;
    const fs::path self = ThisProgram(), uninst = self.parent_path() / "Uninst.exe";

    std::vector<double> silent, least;
    for (int run = 0; run < runs; ++run)
        for (int turn = 0; turn < 2; ++turn) {
            if ((run + turn) % 2) silent.push_back(Run(Stage(root / "Zembrat", uninst, L"Uninst.exe", 20, 9).exe, L"/S"));
            else least.push_back(Run(Stage(root / "Zembrat", self, L"Least.exe", 20, 9).exe, L"least"));
        }
    fs::remove_all(root);
    std::printf("200 files, 200 folders, %d runs each (median, from start to exit)\n", runs);
    std::printf("least removal:   %8.1f ms\n", Median(least));
    std::printf("Uninst.exe /S:   %8.1f ms\n", Median(silent));
    std::printf("ratio:           %8.2f (aim: 1.3 or less)\n", Median(silent) / Median(least));
    return 0;
}
