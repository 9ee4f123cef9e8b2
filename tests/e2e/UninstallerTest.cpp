// The real Uninst.exe, beside this program, run on a staged installation and answered with real
// key presses, as a user would; Uninst.exe asks for administrator rights, so this runs elevated.
#include "KitMark.h"
#include "PendingDeletions.h"
#include "StartInJob.h"
#include "e2e/Screen.h"
#include "e2e/StagedInstall.h"
#include "e2e/UninstRun.h"
#include "platform/Handle.h"
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <exdisp.h>
#include <mmsystem.h>

namespace {

const std::wstring CONFIRM_TEXT = L"您确定要从本计算机中删除\u201CZembrat\u201D网络电话吗？";
const std::wstring RUNNING_TEXT = L"\u201CZembrat\u201D网络电话正在运行中，请关闭后再卸载。";
const std::wstring DIALOG_CAPTION = L"卸载\u201CZembrat\u201D";
const std::wstring STAYED_TEXT = L"下面这个文件或文件夹未能删除\uFF0C您可以手动删除它\uFF1A\n\n";
const std::wstring RESTART_TEXT = L"重新启动计算机即可完成\u201CZembrat\u201D网络电话的删除\u3002\n\n是否立即重新启动计算机\uFF1F";
const DWORD ELEVATION_REQUIRED = 740;  // ERROR_ELEVATION_REQUIRED, from Windows Vista on

// Listed: three files and the directories that hold them, deepest first, and a name that no folder
// can have, which is absent; the folder itself last. Kept: what is not listed, and the folders that
// still hold it.
const std::wstring NO_NAME = L"\x01junk|";
const std::vector<std::wstring> LISTED_FILES = {L"Quorill.exe", L"bin\\voice.dll", L"bin\\codec\\g729.dll",
                                                L"语音\\提示音.wav"};
const std::vector<std::wstring> LISTED_DIRS = {L"bin\\codec", L"bin", L"语音", L"data", NO_NAME, L""};
const std::vector<std::wstring> UNLISTED = {L"readme.txt", L"data\\user.cfg", L"bin2\\voice.dll"};

void Stage(StagedInstall& install)
{
    for (const auto& file : LISTED_FILES) install.AddFile(file);
    for (const auto& file : UNLISTED) install.AddFile(file);
}

std::vector<std::wstring> Full(const StagedInstall& install, const std::vector<std::wstring>& relative)
{
    std::vector<std::wstring> paths;
    for (const auto& path : relative) paths.push_back(install.Path(path));
    return paths;
}

// Uninst.exe as installed.
std::unique_ptr<UninstRun> Start(const StagedInstall& install, bool holdWorker = false,
                                 const std::wstring& arguments = L"", const std::wstring& desktop = L"",
                                 int endAtDeletion = 0, const std::wstring& folder = L"")
{
    auto run = std::make_unique<UninstRun>(install.Exe(), holdWorker, arguments, desktop, endAtDeletion, folder);
    EXPECT_NE(ELEVATION_REQUIRED, run->StartError())
        << "Uninst.exe asks for administrator rights: run the tests from an elevated command prompt";
    EXPECT_EQ(0u, run->StartError()) << "Uninst.exe did not start";
    return run;
}

DWORD ExitCode(UninstRun& run, DWORD ms = 30000)
{
    DWORD code = ~0u;
    EXPECT_TRUE(run.Wait(ms, &code)) << "Uninst.exe still runs after " << ms << " ms";
    return code;
}

// When the path was seen gone, by NowMs; 0 when it stays.
double Gone(const std::wstring& path, DWORD ms)
{
    const double start = NowMs();
    for (; ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; ::Sleep(1))
        if (NowMs() - start > ms) return 0;
    return NowMs();
}

// The way to the desktop's shell, which Uninst.exe, elevated, asks to open the download page.
std::vector<std::wstring> DesktopShellAsked()
{
    wchar_t text[40];
    ::StringFromGUID2(CLSID_ShellWindows, text, 40);
    return {text};
}

// The Windows folder's Temp, where only administrators can write and the script goes, and the
// system folder, whose cmd.exe runs it.
std::wstring WindowsTemp()
{
    wchar_t windows[MAX_PATH];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    return windows + std::wstring(L"\\Temp\\");
}
std::wstring SystemFolder()
{
    wchar_t system[MAX_PATH];
    ::GetSystemDirectoryW(system, MAX_PATH);
    return system;
}

// The script that removes Uninst.exe: in the Windows folder's Temp, started hidden, without the
// shell, by the system's cmd.exe named in full, with /d, so that neither a file association, COMSPEC
// nor an AutoRun command of the user's runs; in the system folder, which holds nothing of the
// installation. Its path.
std::wstring ExpectScriptStarted(UninstRun& run)
{
    const std::vector<ProcessCall> calls = run.ProcessCalls();
    EXPECT_EQ(0u, run.ShellCalls().size()) << "the shell was asked to run something";
    if (calls.size() != 1) {
        ADD_FAILURE() << calls.size() << " processes started";
        return L"";
    }
    const ProcessCall& call = calls[0];
    const std::wstring cmd = SystemFolder() + L"\\cmd.exe", prefix = L"\"" + cmd + L"\" /d /c \"\"";
    EXPECT_EQ(cmd, call.application);
    EXPECT_EQ(prefix, call.commandLine.substr(0, prefix.size()));
    const std::wstring script = call.commandLine.substr(prefix.size(), call.commandLine.size() - prefix.size() - 2);
    EXPECT_EQ(L"\"\"", call.commandLine.substr(call.commandLine.size() - 2));
    EXPECT_EQ(WindowsTemp() + L"_self_del", script.substr(0, WindowsTemp().size() + 9));
    EXPECT_EQ(SystemFolder(), call.directory);
    EXPECT_TRUE(call.flags & CREATE_NO_WINDOW);
    return script;
}

// After a removal: the executable goes a moment after the process has ended, and its script too.
// Uninst.exe asked the desktop's shell for the download page, refused by the driver, and never
// opened the page itself.
void ExpectSelfDeleted(UninstRun& run, const StagedInstall& install)
{
    EXPECT_TRUE(Gone(install.Exe(), 5000)) << "Uninst.exe stays";
    EXPECT_TRUE(Gone(ExpectScriptStarted(run), 5000)) << "the script stays";
    EXPECT_EQ(DesktopShellAsked(), run.ClassesAsked());
}

// Yes pressed, and the removal left to run on its own: this machine's figures, written to the log
// as "figure <run>/<what> <N> ms" and asserted on nowhere. The driver holds no thread; as
// Uninst.exe's debugger it stops it only for a moment at each debugging event.
void ReportFigures(const char* name, UninstRun& run, const StagedInstall& install, double boxSeen)
{
    const double yes = LastKeyDownMs();
    double dialogSeen = 0;
    ::timeBeginPeriod(1);
    for (DWORD code; !run.Wait(0, &code) && NowMs() - yes < 30000; ::Sleep(1))
        if (!dialogSeen && IsSeen(FindProcessWindow(run.ProcessId(), DIALOG_CAPTION))) dialogSeen = NowMs();
    const double gone = Gone(install.Exe(), 5000);
    ::timeEndPeriod(1);
    const auto figure = [name](const char* what, double from, double to) {
        if (from && to) std::printf("figure %s/%s %.0f ms\n", name, what, to - from);
        else std::printf("figure %s/%s not measured: %s\n", name, what, to ? "no start" : "never seen");
    };
    figure("launch-to-confirmation-box", run.LaunchedMs(), boxSeen);
    figure("yes-to-progress-dialog", yes, dialogSeen);
    figure("yes-to-exit", yes, run.ExitedMs());
    figure("exit-to-uninst-exe-gone", run.ExitedMs(), gone);
}

// A stand-in for the running product, or a user's program: StandIn.exe copied under the name,
// ended at the end.
class RunningProduct {
public:
    explicit RunningProduct(const std::wstring& exe, const std::wstring& arguments = L"")
    {
        ::CopyFileW((ProgramFolder() + L"StandIn.exe").c_str(), exe.c_str(), FALSE);
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
        if (CreateProcessInJob(exe.c_str(), &commandLine[0], FALSE, 0, nullptr, &startup, &m_info))
            ::CloseHandle(m_info.hThread);
    }
    ~RunningProduct()
    {
        if (!m_info.hProcess) return;
        ::TerminateProcess(m_info.hProcess, 0);
        ::WaitForSingleObject(m_info.hProcess, INFINITE);
        ::CloseHandle(m_info.hProcess);
    }
    RunningProduct(const RunningProduct&) = delete;
    RunningProduct& operator=(const RunningProduct&) = delete;
    bool Runs() const { return m_info.hProcess != nullptr; }

private:
    PROCESS_INFORMATION m_info = {};
};

// Runs each case in a function of its own: a fatal failure ends the case, and what it started
// (Uninst.exe, a held removal, the stand-in) with it, within seconds, and the next case runs.
template <class Cases, class Body>
void EachCase(const Cases& cases, Body body)
{
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        body(c);
    }
}

// Neither the page nor a self-deleting script was asked for: nothing can act later. Nothing changed.
void ExpectNothingChanged(UninstRun& run, const StagedInstall& install, const std::map<std::wstring, std::wstring>& before,
                          const std::map<std::wstring, std::wstring>& around, bool entry = true)
{
    EXPECT_EQ(0u, run.ShellCalls().size());
    EXPECT_EQ(0u, run.ProcessCalls().size());
    EXPECT_EQ(0u, run.ClassesAsked().size());
    EXPECT_EQ(before, Snapshot(install.Root()));
    EXPECT_EQ(entry, KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(around, install.Surroundings());
}

// The product running, No, and Yes with no manifest beside the executable: the box a user sees,
// then nothing changes, and no other box comes but one that says so of a manifest naming nothing here.
TEST(Uninstaller, ChangesNothingWhenItMustNot)
{
    struct Case {
        const char* what;
        const wchar_t* product;
        bool manifest;
        const std::wstring& text;
        std::vector<int> buttons;
        WORD key;
        UINT codePage = 0;
    };
    const Case cases[] = {
        {"the product runs", L"Quorill.exe", true, RUNNING_TEXT, {IDOK}, VK_RETURN},
        {"the product runs, its name in capitals", L"QUORILL.EXE", true, RUNNING_TEXT, {IDOK}, VK_RETURN},
        {"No", nullptr, true, CONFIRM_TEXT, {IDYES, IDNO}, 'N'},
        {"Yes without a manifest", nullptr, false, CONFIRM_TEXT, {IDYES, IDNO}, VK_RETURN},
        {"Yes, a manifest that names nothing here", nullptr, true, CONFIRM_TEXT, {IDYES, IDNO}, VK_RETURN,
         ::GetACP() == 936 ? 1252u : 936u},
    };
    EachCase(cases, [](const Case& c) {
        StagedInstall install;
        ASSERT_EQ("", install.Problem());
        Stage(install);
        if (c.manifest) install.WriteManifest(Full(install, LISTED_FILES), Full(install, LISTED_DIRS), c.codePage);
        std::unique_ptr<RunningProduct> product;
        if (c.product) {
            product = std::make_unique<RunningProduct>(install.AddDir(L"running") + L"\\" + c.product);
            ASSERT_TRUE(product->Runs());
        }
        const auto before = Snapshot(install.Root());
        const auto around = install.Surroundings();

        const auto run = Start(install);
        const ShownBox box = WaitForBox(run->ProcessId(), 10000);
        ASSERT_EQ("", run->CatchProblem());
        ASSERT_TRUE(box.hwnd) << "no message box";
        EXPECT_EQ(c.text, box.text);
        EXPECT_EQ(c.buttons, box.buttons);
        EXPECT_FALSE(IsSeen(FindProcessWindow(run->ProcessId(), DIALOG_CAPTION)));
        ASSERT_EQ("", AnswerBox(box.hwnd, c.key));
        const ShownBox refused = c.codePage ? WaitForBox(run->ProcessId(), 10000) : ShownBox();
        EXPECT_EQ(c.codePage ? std::vector<int>{IDOK} : std::vector<int>{}, refused.buttons);
        if (refused.hwnd) ASSERT_EQ("", AnswerBox(refused.hwnd, VK_RETURN));
        // Another box would keep the process waiting for an answer.
        EXPECT_EQ(0u, ExitCode(*run, 15000));

        ExpectNothingChanged(*run, install, before, around);
    });
}

// The removal has begun and is held before its first step: the progress dialog is up, above other
// windows, centred in the work area, and Enter or Escape does not close it.
void ExpectDialogWhileHeld(UninstRun& run)
{
    ASSERT_TRUE(run.WaitForHeldWorker(10000)) << "no removal started";
    const HWND dialog = FindProcessWindow(run.ProcessId(), DIALOG_CAPTION);
    ASSERT_TRUE(IsSeen(dialog)) << "no progress dialog";
    EXPECT_TRUE(::GetWindowLongW(dialog, GWL_EXSTYLE) & WS_EX_TOPMOST);
    RECT rect;
    ::GetWindowRect(dialog, &rect);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    ::GetMonitorInfoW(::MonitorFromWindow(dialog, MONITOR_DEFAULTTOPRIMARY), &monitor);
    EXPECT_LE(std::abs(rect.left + rect.right - monitor.rcWork.left - monitor.rcWork.right), 1);
    EXPECT_LE(std::abs(rect.top + rect.bottom - monitor.rcWork.top - monitor.rcWork.bottom), 1);
    EXPECT_EQ("", PressKey(dialog, VK_RETURN));
    EXPECT_EQ("", PressKey(dialog, VK_ESCAPE));
    DWORD code = ~0u;
    ASSERT_FALSE(run.Wait(300, &code)) << "the dialog closed on Enter or Escape";
    EXPECT_TRUE(IsSeen(dialog));
}

// Yes removes what is listed. Where something stays, a box names it once the dialog has closed;
// where something waits for the next restart, the same box offers it last (No is the default), and
// Yes asks for it once the script has started, which the driver answers without restarting anything.
TEST(Uninstaller, YesRemovesWhatTheManifestLists)
{
    // Held, the removal waits with its dialog up while the test looks at it; not held, and with no
    // box to answer, it runs on its own and reports its figures.
    struct Case {
        const char* what;
        bool listed;
        bool holdWorker;
        const wchar_t* inUse;     // a listed file that another program holds open
        const wchar_t* readOnly;  // a listed file that stays
        WORD restartAnswer;
    };
    const Case cases[] = {
        {"listed", true, false, nullptr, nullptr, 0},
        {"empty", false, true, nullptr, nullptr, 0},
        {"in use, restart now", true, false, L"语音\\提示音.wav", nullptr, 'Y'},
        {"in use and read-only, restart later", true, false, L"语音\\提示音.wav", L"Quorill.exe", 'N'},
    };
    EachCase(cases, [](const Case& c) {
        StagedInstall install;
        ASSERT_EQ("", install.Problem());
        Stage(install);
        install.WriteManifest(c.listed ? Full(install, LISTED_FILES) : std::vector<std::wstring>{},
                              c.listed ? Full(install, LISTED_DIRS) : std::vector<std::wstring>{});
        auto expected = Paths(Snapshot(install.Root()));
        for (const auto& path : {install.Exe(), install.Path(L"Uninst.ini")}) expected.erase(path);
        if (c.listed) {
            for (const auto& path : Full(install, LISTED_FILES)) expected.erase(path);
            for (const auto& dir : {L"bin\\codec", L"bin", L"语音"}) expected.erase(install.Path(dir));
        }
        // Its folder goes with it at the restart.
        if (c.inUse) expected.insert({install.Path(c.inUse), install.Path(L"语音")});
        if (c.readOnly) {
            expected.insert(install.Path(c.readOnly));
            ::SetFileAttributesW(install.Path(c.readOnly).c_str(), FILE_ATTRIBUTE_READONLY);
        }
        const CHandle inUse(c.inUse ? ::CreateFileW(install.Path(c.inUse).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                    nullptr, OPEN_EXISTING, 0, nullptr) : nullptr);
        const PendingDeletions pending(install.Root()), script(WindowsTemp() + L"_self_del");
        const auto around = install.Surroundings();

        const auto run = Start(install, c.holdWorker);
        const ShownBox box = WaitForBox(run->ProcessId(), 10000);
        const double boxSeen = NowMs();
        ASSERT_EQ("", run->CatchProblem());
        ASSERT_TRUE(box.hwnd) << "no message box";
        ASSERT_EQ("", AnswerBox(box.hwnd, VK_RETURN));
        if (c.holdWorker) ASSERT_NO_FATAL_FAILURE(ExpectDialogWhileHeld(*run));
        else if (!c.inUse) ReportFigures(c.what, *run, install, boxSeen);
        run->ReleaseWorker();
        if (c.restartAnswer) {
            const ShownBox restart = WaitForBox(run->ProcessId(), 30000);
            ASSERT_TRUE(restart.hwnd) << "no box offers the restart";
            const std::wstring stayed = c.readOnly ? STAYED_TEXT + install.Path(c.readOnly) + L"\n\n" : L"";
            EXPECT_EQ(stayed + RESTART_TEXT, restart.text);
            EXPECT_EQ((std::vector<int>{IDYES, IDNO}), restart.buttons);
            ASSERT_EQ("", AnswerBox(restart.hwnd, c.restartAnswer));
        }
        EXPECT_EQ(0u, ExitCode(*run));

        // After the script's start.
        std::vector<std::tuple<UINT, DWORD, size_t>> restarts;
        if (c.restartAnswer == 'Y')
            restarts.emplace_back(EWX_REBOOT, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_MINOR_INSTALLATION |
                                                  SHTDN_REASON_FLAG_PLANNED, 1);
        EXPECT_EQ(restarts, run->Restarts());
        EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
        ExpectSelfDeleted(*run, install);
        // What waits for the restart; Uninst.exe with its manifest, and the script, only for a restart
        // started now, which can cut the script short.
        std::vector<std::wstring> atRestart;
        if (c.inUse) atRestart = {install.Path(c.inUse), install.Path(L"语音")};
        if (c.restartAnswer == 'Y') atRestart.insert(atRestart.end(), {install.Exe(), install.Path(L"Uninst.ini")});
        EXPECT_EQ(atRestart, pending.Under());
        EXPECT_EQ(c.restartAnswer == 'Y' ? 1u : 0u, script.Under().size());
        EXPECT_EQ(expected, Paths(Snapshot(install.Root())));
        EXPECT_EQ(around, install.Surroundings());
    });
}

// The log's lines, without its byte order mark and line ends.
std::vector<std::wstring> ReadLog(const std::wstring& path)
{
    std::ifstream file(path.c_str(), std::ios::binary);
    const std::string bytes(std::istreambuf_iterator<char>(file), {});
    std::vector<std::wstring> lines;
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) return lines;
    std::wstring text(bytes.size(), L'\0');
    text.resize(::MultiByteToWideChar(CP_UTF8, 0, bytes.data() + 3, static_cast<int>(bytes.size() - 3), &text[0],
                                      static_cast<int>(text.size())));
    for (size_t at = 0, end; (end = text.find(L"\r\n", at)) != std::wstring::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// Runs started by deployment tools: a silent word anywhere on the command line, or no desktop that
// anyone sees. No window is shown at any moment, no box waits, no page opens, and the exit code says
// what happened. A user's run where nobody can answer ends at once. A silent run that fails or is cut
// short leaves the entry, Uninst.exe and its manifest, and the same command, run again once the cause
// is gone, finishes the job. The log goes where the last /LOG= says, its variables expanded and its
// folders made; a run started in the installation folder leaves that folder first.
TEST(Uninstaller, TellsDeploymentToolsByItsExitCode)
{
    enum Then { REMOVED_ALL, NOTHING_CHANGED, RUN_AGAIN };
    // Uninst.exe read-only; an ANSI manifest written in another code page than this machine's; Uninst.exe
    // started with the installation folder as its current folder. The rules of each outcome are the
    // planner's, in its tables.
    enum Setup { AS_STAGED, READ_ONLY_EXE, GARBLED, IN_ITS_FOLDER };
    struct Case {
        const char* what;
        const wchar_t* arguments;
        bool productRuns, manifest, entry, hiddenDesktop;
        int endAtDeletion;
        DWORD code;
        Then then;
        Setup setup = AS_STAGED;
        // The log's place beside the installation, and one that an earlier /LOG= names.
        const wchar_t* log = L"removal log.txt";
        const wchar_t* earlierLog = nullptr;
    };
    const Case cases[] = {
        {"silent removal", L"/S", false, true, true, false, 0, 0, REMOVED_ALL},
        {"/VERYSILENT", L"/VERYSILENT /NORESTART", false, true, true, false, 0, 0, REMOVED_ALL},
        {"-s", L"-s", false, true, true, false, 0, 0, REMOVED_ALL},
        {"silent, the product runs", L"x /s", true, true, true, false, 0, 1618, NOTHING_CHANGED},
        {"silent, no manifest", L"/S", false, false, true, false, 0, 1603, NOTHING_CHANGED},
        {"nobody to answer", L"", false, true, true, true, 0, 1602, NOTHING_CHANGED},
        {"silent, nobody to answer", L"/S", false, true, true, true, 0, 0, REMOVED_ALL},
        {"silent, a manifest that names nothing here", L"/S", false, true, true, false, 0, 1603, NOTHING_CHANGED, GARBLED},
        {"silent, cut short", L"/S", false, true, true, false, 3, 1, RUN_AGAIN},
        {"silent, a read-only Uninst.exe", L"/S", false, true, true, false, 0, 0, REMOVED_ALL, READ_ONLY_EXE},
        {"silent, started in its own folder", L"/S", false, true, true, false, 0, 0, REMOVED_ALL, IN_ITS_FOLDER},
        {"two /LOG=", L"/S", false, true, true, false, 0, 0, REMOVED_ALL, AS_STAGED, L"removal log.txt", L"first log.txt"},
        {"/LOG= in folders yet to be made", L"/S", false, true, true, false, 0, 0, REMOVED_ALL, AS_STAGED,
         L"新 logs\\2\\removal log.txt"},
    };
    EachCase(cases, [](const Case& c) {
        StagedInstall install;
        ASSERT_EQ("", install.Problem());
        Stage(install);
        // Everything listed, the installation folder last: nothing stays.
        std::vector<std::wstring> files = Full(install, LISTED_FILES), dirs = Full(install, LISTED_DIRS);
        for (const auto& file : UNLISTED) files.push_back(install.Path(file));
        dirs.insert(dirs.end() - 1, install.Path(L"bin2"));
        // GBK where the code page is Western, or Western where it is GBK: every path reads as another.
        const UINT other = c.setup != GARBLED ? 0 : ::GetACP() == 936 ? 1252 : 936;
        if (c.manifest) install.WriteManifest(files, dirs, other);
        if (!c.entry) DeleteMarkedKey(UNINSTALL_KEY);
        if (c.setup == READ_ONLY_EXE) ::SetFileAttributesW(install.Exe().c_str(), FILE_ATTRIBUTE_READONLY);
        std::unique_ptr<RunningProduct> product;
        if (c.productRuns) product = std::make_unique<RunningProduct>(install.AddDir(L"running") + L"\\Quorill.exe");
        const auto before = Snapshot(install.Root());
        const auto around = install.Surroundings();
        // Spelt with a variable of the test's own, as deployment tools write %WINDIR%\Logs.
        ::SetEnvironmentVariableW(L"ZEMBRAT_E2E", install.Beside(L"").c_str());
        const std::wstring log = install.Beside(c.log);
        std::wstring arguments = c.arguments;
        for (const wchar_t* name : {c.earlierLog, c.log})
            if (name) arguments += L" \"/LOG=%ZEMBRAT_E2E%" + std::wstring(name) + L"\"";
        std::unique_ptr<HiddenDesktop> hidden;
        if (c.hiddenDesktop) {
            hidden = std::make_unique<HiddenDesktop>();
            ASSERT_NE(L"", hidden->Name()) << "no window station of the test's own";
        }

        ShowWatch watch;
        auto run = Start(install, false, arguments, hidden ? hidden->Name() : L"", c.endAtDeletion,
                         c.setup == IN_ITS_FOLDER ? install.Root() : L"");
        EXPECT_EQ(c.code, ExitCode(*run, 10000));
        if (c.earlierLog) {
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(install.Beside(c.earlierLog).c_str()))
                << "the first /LOG= was taken";
        }
        ASSERT_EQ("", run->CatchProblem());
        EXPECT_EQ(std::vector<std::wstring>{}, watch.ShownBy(run->ProcessId()));

        std::vector<std::wstring> lines = ReadLog(log);
        ASSERT_FALSE(lines.empty()) << "no log";
        if (!c.endAtDeletion) EXPECT_EQ(L"exit code\t" + std::to_wstring(c.code), lines.back());
        // Why: the code page the manifest was read in.
        const std::wstring why =
            L"the manifest names nothing that is here: not one of its entries was found, while its folder holds more than "
            L"Uninst.exe and the manifest; it was read as ANSI text in code page " + std::to_wstring(::GetACP()) +
            L": text written in another reads as other paths; nothing changed\t" + install.Path(L"Uninst.ini");
        if (c.setup == GARBLED) EXPECT_EQ(L"refused\t" + why, lines[lines.size() - 2]);
        if (c.then == NOTHING_CHANGED) return ExpectNothingChanged(*run, install, before, around, c.entry);
        if (c.then == RUN_AGAIN) {
            // Still listed, still removable; a run cut short was ended at its deletion.
            const auto gone = std::count_if(files.begin(), files.end(), [](const std::wstring& f) {
                return ::GetFileAttributesW(f.c_str()) == INVALID_FILE_ATTRIBUTES;
            });
            if (c.endAtDeletion) EXPECT_EQ(c.endAtDeletion - 1, gone);
            EXPECT_TRUE(KeyExists(UNINSTALL_KEY));
            EXPECT_TRUE(install.Exists(L"Uninst.exe"));
            EXPECT_TRUE(install.Exists(L"Uninst.ini"));
            EXPECT_EQ(0u, run->ProcessCalls().size()) << "a script was started";
            run = Start(install, false, arguments);
            EXPECT_EQ(0u, ExitCode(*run, 10000));
            lines = ReadLog(log);
        }
        // The log names every entry with what became of it; what an earlier run removed is absent.
        const auto logged = [&lines](const std::wstring& what, const std::wstring& path) {
            return std::find(lines.begin(), lines.end(), what + path) != lines.end();
        };
        for (const auto& path : files)
            EXPECT_TRUE(logged(L"removed\tfile\t", path) || (c.then == RUN_AGAIN && logged(L"absent\tfile\t", path))) << path;
        for (const auto& path : dirs)
            EXPECT_TRUE(logged(path == install.Root() ? L"after exit\tdir\t" : L"removed\tdir\t", path) ||
                        ((c.then == RUN_AGAIN || path == install.Path(NO_NAME)) && logged(L"absent\tdir\t", path)))
                << path;
        EXPECT_TRUE(Gone(install.Root(), 10000)) << "the installation folder stays";
        EXPECT_TRUE(Gone(ExpectScriptStarted(*run), 10000)) << "the script stays";
        EXPECT_EQ(0u, run->ClassesAsked().size()) << "the desktop's shell was asked for";
        EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
        EXPECT_EQ(around, install.Surroundings());
    });
}

// What a user without administrator rights controls never steers the elevated run, silent as a
// deployment tool starts it: a program of the user's that rewrites any script it can open as soon
// as it can, with COMSPEC and TMP set by the user; a listed folder that the user turned into a link
// to other files of the same names; a log named where the user made a hard link to another file.
TEST(Uninstaller, IsNotSteeredByWhatAUserPlants)
{
    enum Move { REWRITES_SCRIPTS, LINKED_FOLDER, LOG_HARD_LINK };
    struct Case {
        const char* what;
        Move move;
        DWORD code;
    };
    const Case cases[] = {
        {"a program rewrites every script it can open; COMSPEC and TMP are the user's", REWRITES_SCRIPTS, 0},
        {"a listed folder is a link to other files", LINKED_FOLDER, 1603},
        {"/LOG= names a hard link to another file", LOG_HARD_LINK, 0},
    };
    EachCase(cases, [](const Case& c) {
        StagedInstall install;
        ASSERT_EQ("", install.Problem());
        Stage(install);
        install.WriteManifest(Full(install, LISTED_FILES), Full(install, LISTED_DIRS));
        const std::wstring decoys = install.Beside(L"decoys"), mark = install.Beside(L"steered"),
                           comspec = install.Beside(L"comspec.exe"), tmp = install.Beside(L"tmp"),
                           log = install.Beside(L"removal log.txt");
        ::CreateDirectoryW(decoys.c_str(), nullptr);
        ::CreateDirectoryW((decoys + L"\\codec").c_str(), nullptr);
        for (const wchar_t* name : {L"\\voice.dll", L"\\codec\\g729.dll"})
            ::CopyFileW(install.Path(L"readme.txt").c_str(), (decoys + name).c_str(), FALSE);
        const auto decoysBefore = Snapshot(decoys);

        std::unique_ptr<RunningProduct> user;
        if (c.move == REWRITES_SCRIPTS) {
            user = std::make_unique<RunningProduct>(install.Beside(L"user.exe"), L"rewrite \"" + mark + L"\" \"" +
                                                    install.Temp() + L"\" \"" + tmp + L"\" \"" + WindowsTemp() + L".\"");
            ASSERT_TRUE(user->Runs());
            ::CopyFileW((ProgramFolder() + L"StandIn.exe").c_str(), comspec.c_str(), FALSE);
            ::CreateDirectoryW(tmp.c_str(), nullptr);
        }
        const std::wstring bin = install.Path(L"bin");
        if (c.move == LINKED_FOLDER) {
            for (const wchar_t* name : {L"bin\\codec\\g729.dll", L"bin\\voice.dll"}) ::DeleteFileW(install.Path(name).c_str());
            for (const wchar_t* name : {L"bin\\codec", L"bin"}) ::RemoveDirectoryW(install.Path(name).c_str());
            ASSERT_TRUE(MakeUsersDirectoryLink(bin, decoys)) << "no link";
        }
        if (c.move == LOG_HARD_LINK) ASSERT_TRUE(::CreateHardLinkW(log.c_str(), (decoys + L"\\voice.dll").c_str(), nullptr));

        wchar_t saved[3][MAX_PATH] = {};
        const wchar_t* names[] = {L"COMSPEC", L"TMP", L"TEMP"};
        for (int i = 0; i < 3 && c.move == REWRITES_SCRIPTS; ++i) {
            ::GetEnvironmentVariableW(names[i], saved[i], MAX_PATH);
            ::SetEnvironmentVariableW(names[i], i ? tmp.c_str() : comspec.c_str());
        }
        const auto run = Start(install, false, L"/S \"/LOG=" + log + L"\"");
        for (int i = 0; i < 3 && c.move == REWRITES_SCRIPTS; ++i) ::SetEnvironmentVariableW(names[i], saved[i]);
        EXPECT_EQ(c.code, ExitCode(*run));
        ASSERT_EQ("", run->CatchProblem());

        EXPECT_EQ(decoysBefore, Snapshot(decoys));
        const std::vector<std::wstring> lines = ReadLog(log);
        if (c.move == REWRITES_SCRIPTS) {
            EXPECT_TRUE(Gone(ExpectScriptStarted(*run), 10000)) << "the script stays";
            EXPECT_TRUE(Gone(install.Exe(), 10000)) << "Uninst.exe stays";
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW(mark.c_str())) << "the user's lines ran";
            EXPECT_EQ(INVALID_FILE_ATTRIBUTES, ::GetFileAttributesW((comspec + L".ran").c_str())) << "COMSPEC ran";
            EXPECT_EQ(std::set<std::wstring>{tmp}, Paths(Snapshot(tmp))) << "written under TMP";
        }
        if (c.move == LINKED_FOLDER) {
            for (const wchar_t* name : {L"bin\\voice.dll", L"bin\\codec\\g729.dll"}) {
                const std::wstring line = L"stayed\tfile\tnot followed: a link in its path at " + bin + L"\t" + install.Path(name);
                EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), line)) << "not logged: " << install.Path(name);
            }
            EXPECT_TRUE(KeyExists(UNINSTALL_KEY));
            EXPECT_TRUE(install.Exists(L"Uninst.exe"));
            RemoveDirectoryLink(bin);
        }
        if (c.move == LOG_HARD_LINK) EXPECT_EQ(std::vector<std::wstring>{}, lines) << "a log was written";
    });
}

// Removed silently while the test holds a module of it loaded (3010), installed again into the same
// folder, then restarted: only the module, renamed, goes; the new installation and its entry stay.
TEST(Uninstaller, AnInstallationMadeAgainBeforeTheRestartKeepsEveryFile)
{
    if (!UnderWine())
        GTEST_SKIP() << "it restarts the machine, which only Wine's restart of the test's own prefix makes safe";
    StagedInstall install;
    ASSERT_EQ("", install.Problem());
    Stage(install);
    install.WriteManifest(Full(install, LISTED_FILES), Full(install, LISTED_DIRS));
    const std::wstring module = install.Path(L"bin\\voice.dll");
    ::CopyFileW((ProgramFolder() + L"StandIn.exe").c_str(), module.c_str(), FALSE);
    const HMODULE loaded = ::LoadLibraryExW(module.c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    const PendingDeletions pending(install.Root() + L"\\");
    const auto run = Start(install, false, L"/S");
    EXPECT_EQ(3010u, ExitCode(*run));
    ::FreeLibrary(loaded);
    EXPECT_EQ((std::vector<std::wstring>{module + L".~1", install.Path(L"bin")}), pending.Under());
    ASSERT_TRUE(Gone(ExpectScriptStarted(*run), 10000)) << "the script still runs";

    install.Install();
    Stage(install);
    install.WriteManifest(Full(install, LISTED_FILES), Full(install, LISTED_DIRS));
    auto installed = Paths(Snapshot(install.Root()));
    installed.erase(module + L".~1");
    DWORD code = ~0u;
    pending.RestartAlone([&code] { RunForOutput(L"wineboot.exe -r", &code); });
    EXPECT_EQ(0u, code);
    EXPECT_EQ(installed, Paths(Snapshot(install.Root())));
    EXPECT_TRUE(KeyExists(UNINSTALL_KEY));
}

std::vector<std::vector<std::string>> SplitLines(const std::string& output)
{
    std::vector<std::vector<std::string>> lines;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string line = output.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::vector<std::string> fields;
        for (size_t at = 0;;) {
            const size_t tab = line.find('\t', at);
            fields.push_back(line.substr(at, tab == std::string::npos ? std::string::npos : tab - at));
            if (tab == std::string::npos) break;
            at = tab + 1;
        }
        lines.push_back(fields);
        start = end + 1;
    }
    return lines;
}

std::wstring FromUtf8(const std::string& text)
{
    const int size = static_cast<int>(text.size());
    std::wstring wide(::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), size, &wide[0], static_cast<int>(wide.size()));
    return wide;
}

// A messy installation: UninstCheck.exe forecasts what stays, and Uninst.exe leaves exactly that.
TEST(Uninstaller, LeavesWhatTheCheckerForecasts)
{
    StagedInstall install;
    ASSERT_EQ("", install.Problem());
    std::vector<std::wstring> files;
    for (const auto& file : {L"Quorill.exe", L"bin\\voice.dll", L"bin\\codec\\g729.dll", L"bin2\\x.dll",
                             L"语音\\提示音.wav", L"locked.dll"})
        files.push_back(install.AddFile(file));
    ::SetFileAttributesW(install.Path(L"locked.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    install.AddFile(L"readme.txt");
    install.AddFile(L"data\\user.cfg");
    files.push_back(L"relative.dll");
    files.push_back(install.Path(L"gone.dll"));
    std::wstring manifest = L"[Files]\r\n";
    for (size_t i = 0; i < files.size(); ++i) manifest += std::to_wstring(i) + L"=" + files[i] + L"\r\n";
    // A key after a gap, never read.
    manifest += std::to_wstring(files.size() + 1) + L"=" + install.AddFile(L"late.dll") + L"\r\n[Dirs]\r\n";
    const std::vector<std::wstring> dirs = {L"bin", L"bin\\codec", L"bin2", L"data", L"语音", L""};
    for (size_t i = 0; i < dirs.size(); ++i) manifest += std::to_wstring(i) + L"=" + install.Path(dirs[i]) + L"\r\n";
    install.WriteManifestText(manifest);
    const auto around = install.Surroundings();

    DWORD code;
    const std::string output =
        RunForOutput(L"\"" + ProgramFolder() + L"UninstCheck.exe\" \"" + install.Path(L"Uninst.ini") + L"\"", &code);
    EXPECT_EQ(1u, code) << output;
    std::set<std::wstring> forecast;
    for (const auto& line : SplitLines(output))
        if (line.front() == "left" || (line.front() == "expected" && line[1].find("stays") != std::string::npos))
            forecast.insert(FromUtf8(line.back()));
    ASSERT_FALSE(forecast.empty()) << output;

    const auto run = Start(install);
    const ShownBox box = WaitForBox(run->ProcessId(), 10000);
    ASSERT_EQ("", run->CatchProblem());
    ASSERT_TRUE(box.hwnd) << "no message box";
    ASSERT_EQ("", AnswerBox(box.hwnd, VK_RETURN));
    // The read-only file stays, and a box names it.
    const ShownBox stayed = WaitForBox(run->ProcessId(), 30000);
    ASSERT_TRUE(stayed.hwnd) << "no box names what stayed";
    EXPECT_EQ(STAYED_TEXT + install.Path(L"locked.dll"), stayed.text);
    ASSERT_EQ("", AnswerBox(stayed.hwnd, VK_RETURN));
    EXPECT_EQ(0u, ExitCode(*run));
    ExpectSelfDeleted(*run, install);
    EXPECT_EQ(forecast, Paths(Snapshot(install.Root())));
    EXPECT_EQ(around, install.Surroundings());
}

}  // namespace
