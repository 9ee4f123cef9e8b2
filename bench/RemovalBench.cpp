// Times the removal worker against a bare loop of DeleteFileW and RemoveDirectoryW over the same
// paths, each on a freshly built tree of 200 files in 200 nested directories.
#include "DownloadPageUrl.h"
#include "app/DesktopRun.h"
#include <shellapi.h>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

const fs::path root = fs::temp_directory_path() / ("uninst-bench-" + std::to_string(::GetCurrentProcessId()));
std::vector<std::wstring> files, dirs;

// 20 directories of 9 subdirectories each, one file in every directory; directories deepest first.
void ListTree()
{
    for (int top = 0; top < 20; ++top) {
        const fs::path dir = root / ("d" + std::to_string(top));
        for (int sub = 0; sub < 9; ++sub) {
            const fs::path subdir = dir / ("s" + std::to_string(sub));
            files.push_back((subdir / "file.dat").wstring());
            dirs.push_back(subdir.wstring());
        }
        files.push_back((dir / "file.dat").wstring());
        dirs.push_back(dir.wstring());
    }
}

void BuildTree()
{
    for (const std::wstring& dir : dirs) fs::create_directories(dir);
    for (const std::wstring& file : files) std::ofstream(fs::path(file), std::ios::binary) << std::string(4096, 'x');
}

double Now()
{
    LARGE_INTEGER frequency, counter;
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&counter);
    return 1000.0 * counter.QuadPart / frequency.QuadPart;
}

double BareLoop(bool openPageFirst)
{
    const double start = Now();
    if (openPageFirst) ::ShellExecuteW(nullptr, L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOW);
    for (const std::wstring& file : files) ::DeleteFileW(file.c_str());
    for (const std::wstring& dir : dirs) ::RemoveDirectoryW(dir.c_str());
    return Now() - start;
}

// The worker as the dialog starts it, on a thread of its own, until that thread has ended; each
// run's state anew, as each process has it.
double Worker(HWND hwnd)
{
    RunState run;
    for (const std::wstring& file : files) run.removal.files.AddTail(file.c_str());
    for (const std::wstring& dir : dirs) run.removal.dirs.AddTail(dir.c_str());
    run.removal.exe = (root / L"Uninst.exe").c_str();
    run.removal.manifest = (root / L"Uninst.ini").c_str();
    CRemovalDialog dlg(run);
    dlg.m_hWnd = hwnd;
    const double start = Now();
    HANDLE thread = ::CreateThread(nullptr, 0, UninstallThreadProc, &dlg, 0, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    const double elapsed = Now() - start;
    ::CloseHandle(thread);

    MSG msg;
    size_t posted = 0;
    while (::PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE)) ++posted;
    if (posted != files.size() + dirs.size() + 1) {
        std::fprintf(stderr, "the worker posted %zu messages\n", posted);
        std::exit(1);
    }
    return elapsed;
}

// What the worker must do besides removing, each timed alone: start a thread that posts to the
// window, open the page, post one step per entry.
DWORD WINAPI PostOnce(LPVOID hwnd)
{
    ::PostMessageW(static_cast<HWND>(hwnd), WM_UNINST_STEP, 0, 0);
    return 0;
}

double ThreadAlone(HWND hwnd)
{
    const double start = Now();
    HANDLE thread = ::CreateThread(nullptr, 0, PostOnce, hwnd, 0, nullptr);
    ::WaitForSingleObject(thread, INFINITE);
    const double elapsed = Now() - start;
    ::CloseHandle(thread);
    MSG msg;
    while (::PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE)) {}
    return elapsed;
}

double PageAlone()
{
    const double start = Now();
    ::ShellExecuteW(nullptr, L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOW);
    return Now() - start;
}

double PostsAlone(HWND hwnd)
{
    const double start = Now();
    for (size_t i = 0; i < files.size() + dirs.size(); ++i) ::PostMessageW(hwnd, WM_UNINST_STEP, 0, 0);
    const double elapsed = Now() - start;
    MSG msg;
    while (::PeekMessageW(&msg, hwnd, 0, 0, PM_REMOVE)) {}
    return elapsed;
}

// Opening the page starts a browser process that runs on for a while; let it end before the
// next measurement, so that each one pays only for what it started itself.
void Settle()
{
    ::Sleep(700);
}

void ExpectTreeGone()
{
    if (!fs::is_empty(root)) {
        std::fprintf(stderr, "the tree was not removed\n");
        std::exit(1);
    }
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 9;
    ListTree();
    HWND hwnd = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);

    std::vector<double> bare, barePage, worker, thread, page, posts;
    // Rotate which one goes first, so that none always meets a warmer cache.
    for (int run = 0; run < runs; ++run) {
        for (int turn = 0; turn < 3; ++turn) {
            BuildTree();
            Settle();
            switch ((run + turn) % 3) {
            case 0: bare.push_back(BareLoop(false)); break;
            case 1: barePage.push_back(BareLoop(true)); break;
            default: worker.push_back(Worker(hwnd)); break;
            }
            ExpectTreeGone();
        }
        Settle();
        thread.push_back(ThreadAlone(hwnd));
        page.push_back(PageAlone());
        Settle();
        posts.push_back(PostsAlone(hwnd));
    }
    fs::remove_all(root);

    std::printf("%zu files, %zu directories, %d runs each (median)\n", files.size(), dirs.size(), runs);
    std::printf("bare loop: %8.2f ms\n", Median(bare));
    std::printf("worker:    %8.2f ms\n", Median(worker));
    std::printf("ratio:     %8.3f\n", Median(worker) / Median(bare));
    // The page's browser launcher runs on beside the deletions; the same loop after the same call
    // shows what the worker costs beyond that.
    std::printf("bare loop after opening the page: %.2f ms, worker / that: %.3f\n", Median(barePage),
                Median(worker) / Median(barePage));
    std::printf("alone: thread start %.2f ms, opening the page %.2f ms, %zu step posts %.2f ms\n", Median(thread),
                Median(page), files.size() + dirs.size(), Median(posts));
    return 0;
}
