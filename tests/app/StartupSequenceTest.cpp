// The real uninstall dialog and its start-up sequence, run through the modal loop as Uninst.exe
// runs them, one path to a process. The system calls that choose the path are interposed: the
// process list, the message box, the executable's own path and the thread start.
#include "ImportHook.h"
#include "KitMark.h"
#include "app/DesktopRun.h"
#include "app/UninstallerApp.h"
#include "uninstall/DownloadPage.h"
#include <commctrl.h>
#include <objbase.h>
#include <tlhelp32.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace fs = std::filesystem;

IMPORT_SLOT(Process32FirstW, 8);
IMPORT_SLOT(MessageBoxW, 16);
IMPORT_SLOT(GetModuleFileNameW, 12);
IMPORT_SLOT(CreateThread, 24);
IMPORT_SLOT(ShellExecuteW, 24);
IMPORT_SLOT(CoCreateInstance, 20);

namespace {

const wchar_t RUNNING[] = L"\u201CZembrat\u201D网络电话正在运行中\uFF0C请关闭后再卸载\u3002";
const wchar_t CONFIRM[] = L"您确定要从本计算机中删除\u201CZembrat\u201D网络电话吗\uFF1F";

const fs::path ROOT = fs::temp_directory_path() / ("startup-" + std::to_string(::GetCurrentProcessId()));
const fs::path APP = ROOT / "Quorill";
const wchar_t* const FILES[] = {L"Quorill.exe", L"bin\\voice.dll", L"bin\\codec\\g729.dll"};
const wchar_t* const DIRS[] = {L"bin\\codec", L"bin"};

// Where the manifest lies beside the executable, and what it lists.
enum Manifest { NONE, LISTED, EMPTY, BEYOND_REACH };

struct Box {
    HWND owner;
    std::wstring text, caption;
    UINT type;
    bool ownerVisible;
};

struct Thread {
    LPTHREAD_START_ROUTINE proc;
    LPVOID param;
    SIZE_T stack;
    DWORD flags;
    bool manifestThere;
};

// The system as one run finds it, and what the start-up sequence asked of it.
struct System {
    static bool productRunning;
    static int answer;
    static bool threadFails;
    static std::wstring exePath;
    static std::vector<Box> boxes;
    static std::vector<Thread> threads;
    static DWORD mainThread;
    static decltype(&::Process32FirstW) process32First;
    static decltype(&::GetModuleFileNameW) getModuleFileName;
    static decltype(&::CreateThread) createThread;

    static BOOL WINAPI Process32FirstW(HANDLE snapshot, LPPROCESSENTRY32W entry)
    {
        if (!productRunning) return process32First(snapshot, entry);
        entry->th32ProcessID = 4242;
        ::lstrcpyW(entry->szExeFile, L"QUORILL.EXE");
        return TRUE;
    }
    static int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type)
    {
        boxes.push_back({owner, text, caption, type, ::IsWindowVisible(owner) != FALSE});
        return answer;
    }
    // A path that does not fit is cut and terminated, and the call answers with the buffer's size,
    // as on Windows Vista and later.
    static DWORD WINAPI GetModuleFileNameW(HMODULE module, LPWSTR buffer, DWORD size)
    {
        if (module && module != ::GetModuleHandleW(nullptr)) return getModuleFileName(module, buffer, size);
        const DWORD n = static_cast<DWORD>(exePath.copy(buffer, size - 1));
        buffer[n] = L'\0';
        if (exePath.size() < size) return n;
        ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    // The threads that the sequence starts; the worker's own (the download page's) run as they are.
    static HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE proc,
                                      LPVOID param, DWORD flags, LPDWORD id)
    {
        if (::GetCurrentThreadId() != mainThread) return createThread(security, stack, proc, param, flags, id);
        threads.push_back({proc, param, stack, flags, fs::exists(APP / "Uninst.ini")});
        if (!threadFails) return createThread(security, stack, proc, param, flags, id);
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    // The download page is the worker's business; nothing is opened here.
    static HINSTANCE WINAPI ShellExecuteW(HWND, LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, INT)
    {
        return reinterpret_cast<HINSTANCE>(33);
    }
    static HRESULT WINAPI CoCreateInstance(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* out)
    {
        *out = nullptr;
        return REGDB_E_CLASSNOTREG;
    }
};
bool System::productRunning;
int System::answer;
bool System::threadFails;
std::wstring System::exePath;
std::vector<Box> System::boxes;
std::vector<Thread> System::threads;
DWORD System::mainThread = ::GetCurrentThreadId();
decltype(&::Process32FirstW) System::process32First;
decltype(&::GetModuleFileNameW) System::getModuleFileName;
decltype(&::CreateThread) System::createThread;

// The real dialog, with what its start-up sequence leaves behind read the moment it returns, and
// the bar's position after each step.
class StartedDialog : public CRemovalDialog {
    BEGIN_MESSAGE_MAP(StartedDialog, CRemovalDialog)
        ON_MESSAGE(WM_UNINST_STEP, OnStep)
        ON_MESSAGE(WM_WINDOWPOSCHANGED, OnPosChanged)
    END_MESSAGE_MAP()

public:
    using CRemovalDialog::CRemovalDialog;
    BOOL returned = -1;
    HWND hwnd = nullptr;
    bool everShown = false;
    int finalPosition = 0;
    bool visible = false, topmost = false, quitQueued = false;
    RECT rect = {};
    HICON bigIcon = nullptr, smallIcon = nullptr;
    int lower = -1, upper = -1, position = -1;
    std::vector<std::wstring> files, dirs;

    BOOL OnInitDialog() override
    {
        returned = CRemovalDialog::OnInitDialog();
        hwnd = m_hWnd;
        visible = ::IsWindowVisible(m_hWnd);
        topmost = (::GetWindowLongW(m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
        ::GetWindowRect(m_hWnd, &rect);
        bigIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_BIG));
        smallIcon = reinterpret_cast<HICON>(SendMessage(WM_GETICON, ICON_SMALL));
        lower = static_cast<int>(m_progress.SendMessage(PBM_GETRANGE, TRUE));
        upper = static_cast<int>(m_progress.SendMessage(PBM_GETRANGE, FALSE));
        position = m_progress.GetPos();
        const CStringList &fileList = m_run.removal.files, &dirList = m_run.removal.dirs;
        for (INT_PTR i = 0; i < fileList.GetCount(); ++i) files.emplace_back(fileList.GetAt(fileList.FindIndex(i)));
        for (INT_PTR i = 0; i < dirList.GetCount(); ++i) dirs.emplace_back(dirList.GetAt(dirList.FindIndex(i)));

        MSG msg;
        quitQueued = ::PeekMessageW(&msg, m_hWnd, WM_QUIT, WM_QUIT, PM_NOREMOVE) && msg.lParam == 0;
        // A path that neither started the worker nor posted the quit message would never end.
        const bool workerRuns = !System::threads.empty() && !System::threadFails;
        if (!quitQueued && !workerRuns) PostMessage(WM_QUIT, 1);
        return returned;
    }
    LRESULT OnPosChanged(WPARAM, LPARAM lParam)
    {
        everShown = everShown || (reinterpret_cast<WINDOWPOS*>(lParam)->flags & SWP_SHOWWINDOW);
        return 0;
    }
    LRESULT OnStep(WPARAM wParam, LPARAM lParam)
    {
        const LRESULT result = OnUninstStep(wParam, lParam);
        finalPosition = m_progress.GetPos();
        return result;
    }
};

struct Path {
    const char* name;
    // The run's circumstances.
    bool productRunning;
    int answer;
    Manifest manifest;
    bool threadFails;
    // What the user sees and what the sequence leaves.
    const wchar_t* box;
    UINT boxStyle;
    BOOL returns;
    bool shown;          // centred and visible, else hidden and shrunk to nothing at the origin
    bool workerStarted;  // the thread start was asked for
    bool manifestStays;
    int entries;         // the progress range's upper bound, or -1 when no range is set
};

void PrintTo(const Path& path, std::ostream* os) { *os << path.name; }

const Path PATHS[] = {
    {"ProductRunning", true, IDYES, LISTED, false, RUNNING, MB_OK | MB_ICONEXCLAMATION, FALSE, false, false, true, -1},
    {"AnsweredNo", false, IDNO, LISTED, false, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, false, false, true, -1},
    {"BoxCancelled", false, IDCANCEL, LISTED, false, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, false, false, true, -1},
    {"BoxNotShown", false, 0, LISTED, false, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, false, false, true, -1},
    {"NoManifest", false, IDYES, NONE, false, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, true, false, false, -1},
    // The cut path names the directory that holds the manifest, which is not the executable's.
    {"ExecutablePathTooLong", false, IDYES, BEYOND_REACH, false, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, true, false, true, -1},
    {"ThreadCannotStart", false, IDYES, EMPTY, true, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, true, true, true, 0},
    // The manifest stays while the removal runs: a run cut short can be run again.
    {"Removal", false, IDYES, LISTED, false, CONFIRM, MB_YESNO | MB_ICONQUESTION, TRUE, true, true, true, 5},
};

template <size_t N>
std::vector<std::wstring> Listed(const wchar_t* const (&names)[N])
{
    std::vector<std::wstring> paths;
    for (const wchar_t* name : names) paths.push_back((APP / name).wstring());
    return paths;
}

class StartupSequence : public ::testing::TestWithParam<Path> {
protected:
    void SetUp() override
    {
        const Path& p = GetParam();
        // The worker runs for real, and would take the machine's own key with it.
        ASSERT_FALSE(KeyExists(UNINSTALL_KEY)) << KIT_KEY_TAKEN;
        fs::remove_all(ROOT);
        for (const wchar_t* name : FILES) {
            fs::create_directories((APP / name).parent_path());
            std::ofstream(APP / name) << "Zembrat";
        }
        std::ofstream(APP / "user.cfg") << "not listed";

        std::wstring manifest = L"[Files]\r\n";
        for (size_t i = 0; i < std::size(FILES); ++i) manifest += std::to_wstring(i) + L"=" + (APP / FILES[i]).wstring() + L"\r\n";
        manifest += L"[Dirs]\r\n";
        for (size_t i = 0; i < std::size(DIRS); ++i) manifest += std::to_wstring(i) + L"=" + (APP / DIRS[i]).wstring() + L"\r\n";
        if (p.manifest == EMPTY) manifest = L"[Files]\r\n[Dirs]\r\n";
        // In UTF-16: the paths hold the user's name, which the ANSI code page may not spell.
        if (p.manifest != NONE)
            std::ofstream(APP / "Uninst.ini", std::ios::binary).write("\xFF\xFE", 2).write(
                reinterpret_cast<const char*>(manifest.data()), manifest.size() * sizeof(wchar_t));

        System::exePath = (APP / "Uninst.exe").wstring();
        if (p.manifest == BEYOND_REACH) {
            System::exePath = (APP / std::wstring(250, L'd') / "Uninst.exe").wstring();
            // Nor is a manifest in the current directory the executable's.
            fs::copy_file(APP / "Uninst.ini", ROOT / "Uninst.ini");
            fs::current_path(ROOT);
        }
        System::productRunning = p.productRunning;
        System::answer = p.answer;
        System::threadFails = p.threadFails;
    }
    void TearDown() override
    {
        fs::current_path(fs::temp_directory_path());
        fs::remove_all(ROOT);
    }

    ImportHook m_process32First{importProcess32FirstW, System::Process32FirstW, &System::process32First};
    ImportHook m_messageBox{importMessageBoxW, System::MessageBoxW};
    ImportHook m_getModuleFileName{importGetModuleFileNameW, System::GetModuleFileNameW, &System::getModuleFileName};
    ImportHook m_createThread{importCreateThread, System::CreateThread, &System::createThread};
    ImportHook m_shellExecute{importShellExecuteW, System::ShellExecuteW};
    ImportHook m_coCreateInstance{importCoCreateInstance, System::CoCreateInstance};
};

}  // namespace

TEST_P(StartupSequence, Path)
{
    const Path& p = GetParam();
    ::InitCommonControls();
    RunState run;
    StartedDialog dlg(run);
    theApp.m_pMainWnd = &dlg;
    dlg.DoModal();
    // As the exit step does: the page's thread asks nothing once the stand-ins are gone.
    WaitForDownloadPage();

    // One box, owned by the dialog, which is not to be seen while it is up.
    ASSERT_EQ(1u, System::boxes.size());
    const Box& box = System::boxes[0];
    EXPECT_EQ(p.box, box.text);
    EXPECT_EQ(L"Zembrat", box.caption);
    EXPECT_EQ(p.boxStyle, box.type);
    EXPECT_FALSE(box.ownerVisible);
    EXPECT_NE(nullptr, box.owner);

    EXPECT_EQ(p.returns, dlg.returned);
    EXPECT_TRUE(dlg.topmost);
    EXPECT_NE(nullptr, dlg.m_hIcon);
    EXPECT_EQ(dlg.m_hIcon, dlg.bigIcon);
    EXPECT_EQ(dlg.m_hIcon, dlg.smallIcon);
    if (p.shown) {
        MONITORINFO monitor = {};
        monitor.cbSize = sizeof monitor;
        ::GetMonitorInfoW(::MonitorFromPoint({0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
        const RECT& work = monitor.rcWork;
        EXPECT_TRUE(dlg.visible);
        EXPECT_GT(dlg.rect.right - dlg.rect.left, 100);
        EXPECT_LE(std::abs(dlg.rect.left + dlg.rect.right - work.left - work.right), 1);
        EXPECT_LE(std::abs(dlg.rect.top + dlg.rect.bottom - work.top - work.bottom), 1);
    } else {
        EXPECT_FALSE(dlg.visible);
        EXPECT_EQ(0, dlg.rect.left | dlg.rect.top | dlg.rect.right | dlg.rect.bottom);
    }
    // Shown at some moment, if only at no size.
    EXPECT_TRUE(dlg.everShown);

    ASSERT_EQ(p.workerStarted ? 1u : 0u, System::threads.size());
    if (p.workerStarted) {
        const Thread& thread = System::threads[0];
        EXPECT_EQ(UninstallThreadProc, thread.proc);
        EXPECT_EQ(static_cast<LPVOID>(&dlg), thread.param);
        EXPECT_EQ(0u, thread.stack);
        EXPECT_EQ(0u, thread.flags);
        EXPECT_TRUE(thread.manifestThere) << "the manifest stays until the removal is done";
    }
    if (!p.workerStarted || p.threadFails) {
        EXPECT_TRUE(dlg.quitQueued) << "the sequence ends the run itself";
    }
    EXPECT_EQ(p.manifestStays, fs::exists(APP / "Uninst.ini"));
    EXPECT_EQ(p.manifest == BEYOND_REACH, fs::exists(ROOT / "Uninst.ini"));

    const bool removal = p.entries > 0;
    EXPECT_EQ(removal ? Listed(FILES) : std::vector<std::wstring>{}, dlg.files);
    EXPECT_EQ(removal ? Listed(DIRS) : std::vector<std::wstring>{}, dlg.dirs);
    if (p.entries >= 0) {
        EXPECT_EQ(0, dlg.lower);
        EXPECT_EQ(p.entries, dlg.upper);
        EXPECT_EQ(0, dlg.position);
    }

    // The run ends on the quit message that the sequence or the worker posted.
    const MSG& last = *AfxGetCurrentMessage();
    EXPECT_EQ(static_cast<UINT>(WM_QUIT), last.message);
    EXPECT_EQ(0u, last.wParam);
    EXPECT_EQ(nullptr, theApp.m_pMainWnd);
    EXPECT_EQ(removal ? p.entries : 0, dlg.finalPosition) << "the bar ends full";
    for (const std::wstring& path : Listed(FILES)) EXPECT_NE(removal, fs::exists(path)) << fs::path(path);
    for (const std::wstring& path : Listed(DIRS)) EXPECT_NE(removal, fs::exists(path)) << fs::path(path);
    EXPECT_TRUE(fs::exists(APP / "user.cfg"));
}

INSTANTIATE_TEST_SUITE_P(Paths, StartupSequence, ::testing::ValuesIn(PATHS),
                         [](const ::testing::TestParamInfo<Path>& info) { return std::string(info.param.name); });
