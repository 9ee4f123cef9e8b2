// The removal worker against a real directory tree, the registry and a real window, with the
// lists that one manifest would give; each test builds the tree afresh at the same paths.
#include "ImportHook.h"
#include "app/DesktopRun.h"
#include "platform/Thread.h"
#include "platform/WinApp.h"
#include "uninstall/DiskSite.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/Removal.h"
#include "uninstall/RemovalHarness.h"
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <objbase.h>
#include <shellapi.h>

namespace fs = std::filesystem;

IMPORT_SLOT(CreateThread, 24);
IMPORT_SLOT(DeleteFileW, 4);
IMPORT_SLOT(RemoveDirectoryW, 4);
IMPORT_SLOT(PostMessageW, 16);
IMPORT_SLOT(CreateProcessW, 40);
IMPORT_SLOT(RegDeleteKeyW, 8);

namespace {

const wchar_t* const LISTED_FILES[] = {
    L"app\\Quorill.exe",
    L"app\\readme.txt",
    L"app\\data\\a.dat",
    L"app\\data\\deep\\b.dat",
    L"app\\plugins\\voice\\codec.dll",
    L"app\\readonly.cfg",
    L"app\\held\\locked.dll",
    L"app\\missing.txt",
    L"app\\readme.txt",
};
const wchar_t* const LISTED_DIRS[] = {
    L"app\\data\\deep",
    L"app\\data",
    L"app\\plugins",
    L"app\\plugins\\voice",
    L"app\\logs",
    L"app\\missing-dir",
    L"app\\held",
    L"app",
};
const int ENTRIES = std::size(LISTED_FILES) + std::size(LISTED_DIRS);

// Everything the lists do not name, beside and inside what they do.
const wchar_t* const DECOY_FILES[] = {
    L"app\\keep.txt",
    L"app\\Quorill.exe.bak",
    L"app\\logs\\today.log",
    L"app\\logs\\old\\1.log",
    L"app\\data-backup\\c.dat",
    L"other\\x.txt",
};
const wchar_t* const DECOY_DIRS[] = {L"app\\logs\\old", L"app\\data-backup", L"other"};

const std::wstring SIBLING_KEY = std::wstring(UNINSTALL_KEY) + L" Beta";

fs::path Root()
{
    static const fs::path root = fs::temp_directory_path() / ("uninst-removal-" + std::to_string(::GetCurrentProcessId()));
    return root;
}

// Each file holds its own name and a few bytes that no text editor would keep.
std::string ContentOf(const std::wstring& name)
{
    return fs::path(name).string() + std::string("\0\r\n\xff", 4);
}

void Write(const std::wstring& name)
{
    fs::create_directories((Root() / name).parent_path());
    std::ofstream(Root() / name, std::ios::binary) << ContentOf(name);
}

std::string Read(const std::wstring& name)
{
    std::ifstream file(Root() / name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool Exists(const std::wstring& name)
{
    return ::GetFileAttributesW((Root() / name).c_str()) != INVALID_FILE_ATTRIBUTES;
}

class RemovalWorker : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_TRUE(CreateMarkedFolder(Root())) << Root() << " exists already";
        s_recorder = std::make_unique<PageRecorder>();
    }
    static void TearDownTestSuite()
    {
        s_recorder.reset();
        RemoveMarkedFolder(Root());
    }

    void SetUp() override
    {
        // The machine's own key would go with the first run of the worker.
        ASSERT_FALSE(KeyExists(UNINSTALL_KEY)) << KIT_KEY_TAKEN;
        ASSERT_TRUE(CreateMarkedKey(SIBLING_KEY)) << KIT_KEY_TAKEN;
        ASSERT_TRUE(IsMarkedFolder(Root()));
        for (const wchar_t* name : {L"app", L"other"}) fs::remove_all(Root() / name);
        for (const wchar_t* name : LISTED_FILES)
            if (std::wstring(name) != L"app\\missing.txt") Write(name);
        for (const wchar_t* name : DECOY_FILES) Write(name);
        ::SetFileAttributesW((Root() / L"app\\readonly.cfg").c_str(), FILE_ATTRIBUTE_READONLY);
        // Held open by another program, without delete sharing: it goes at the next restart.
        m_pending = std::make_unique<PendingDeletions>(Root().wstring() + L"\\");
        m_locked = ::CreateFileW((Root() / L"app\\held\\locked.dll").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, m_locked);

        s_recorder->Clear();
        for (const wchar_t* name : LISTED_FILES) m_run.removal.files.AddTail((Root() / name).c_str());
        for (const wchar_t* name : LISTED_DIRS) m_run.removal.dirs.AddTail((Root() / name).c_str());
        m_run.removal.exe = (Root() / L"Uninst.exe").c_str();
        m_run.removal.manifest = (Root() / L"Uninst.ini").c_str();
        Write(L"Uninst.exe");
    }
    void TearDown() override
    {
        ::CloseHandle(m_locked);
        m_pending.reset();
        ::SetFileAttributesW((Root() / L"app\\readonly.cfg").c_str(), FILE_ATTRIBUTE_NORMAL);
        for (const wchar_t* name : {L"app", L"other"}) fs::remove_all(Root() / name);
        for (const wchar_t* key : KIT_KEYS) DeleteMarkedKey(key);
    }

    void ExpectDecoysIntact()
    {
        for (const wchar_t* name : DECOY_FILES) EXPECT_EQ(ContentOf(name), Read(name)) << fs::path(name);
        for (const wchar_t* name : DECOY_DIRS) EXPECT_TRUE(fs::is_directory(Root() / name)) << fs::path(name);
        EXPECT_TRUE(KeyExists(SIBLING_KEY));
    }

    static std::unique_ptr<PageRecorder> s_recorder;
    RunState m_run;
    HANDLE m_locked = INVALID_HANDLE_VALUE;
    std::unique_ptr<PendingDeletions> m_pending;
};

std::unique_ptr<PageRecorder> RemovalWorker::s_recorder;

// The dialog as the start-up sequence leaves it: the worker started from its initialisation, and
// the bar's position after each step it handles.
class WorkerDialog : public CRemovalDialog {
    BEGIN_MESSAGE_MAP(WorkerDialog, CRemovalDialog)
        ON_MESSAGE(WM_UNINST_STEP, OnStep)
    END_MESSAGE_MAP()

public:
    using CRemovalDialog::CRemovalDialog;
    int position = -1;

    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        m_progress.SetRange(0, 1000);
        m_progress.SetPos(0);
        EXPECT_TRUE(AfxBeginThread(UninstallThreadProc, this));
        return TRUE;
    }
    LRESULT OnStep(WPARAM wParam, LPARAM lParam)
    {
        OnUninstStep(wParam, lParam);
        position = m_progress.GetPos();
        return 0;
    }
};

// What any other thread than this one starts and asks of the file system and the message queues,
// in order, every call passed on to the system.
class CallLog {
public:
    explicit CallLog(const RunState& run)
    {
        s_thread = ::GetCurrentThreadId();
        s_calls.clear();
        s_run = &run;
    }

    static std::vector<std::wstring> s_calls;

private:
    static HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE proc,
                                      LPVOID param, DWORD flags, LPDWORD id)
    {
        Add(L"start the page's thread");
        return s_createThread(security, stack, proc, param, flags, id);
    }
    static BOOL WINAPI DeleteFileW(LPCWSTR path)
    {
        Add(std::wstring(L"delete ") + path);
        return s_deleteFile(path);
    }
    static BOOL WINAPI RemoveDirectoryW(LPCWSTR path)
    {
        Add(std::wstring(L"remove ") + path);
        return s_removeDirectory(path);
    }
    static BOOL WINAPI PostMessageW(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        // The flag as the main thread will find it once it has retrieved the quit message.
        Add(message == WM_QUIT ? L"quit, done " + std::to_wstring(s_run->done) : std::wstring(L"post"));
        return s_postMessage(hwnd, message, wParam, lParam);
    }
    static void Add(const std::wstring& call)
    {
        if (::GetCurrentThreadId() != s_thread) s_calls.push_back(call);
    }

    static DWORD s_thread;
    static const RunState* s_run;
    static decltype(&::CreateThread) s_createThread;
    static decltype(&::DeleteFileW) s_deleteFile;
    static decltype(&::RemoveDirectoryW) s_removeDirectory;
    static decltype(&::PostMessageW) s_postMessage;
    ImportHook m_createThread{importCreateThread, CreateThread, &s_createThread};
    ImportHook m_deleteFile{importDeleteFileW, DeleteFileW, &s_deleteFile};
    ImportHook m_removeDirectory{importRemoveDirectoryW, RemoveDirectoryW, &s_removeDirectory};
    ImportHook m_postMessage{importPostMessageW, PostMessageW, &s_postMessage};
};
std::vector<std::wstring> CallLog::s_calls;
DWORD CallLog::s_thread;
const RunState* CallLog::s_run;
decltype(&::CreateThread) CallLog::s_createThread;
decltype(&::DeleteFileW) CallLog::s_deleteFile;
decltype(&::RemoveDirectoryW) CallLog::s_removeDirectory;
decltype(&::PostMessageW) CallLog::s_postMessage;

// The page asked for first, on a thread of its own, then each file and each directory followed by
// its step, then once more each directory that was not empty at its turn, then the quit message
// with the flag already set.
std::vector<std::wstring> WorkerCalls()
{
    std::vector<std::wstring> calls{L"start the page's thread"};
    for (const wchar_t* name : LISTED_FILES) calls.insert(calls.end(), {L"delete " + (Root() / name).wstring(), L"post"});
    for (const wchar_t* name : LISTED_DIRS) calls.insert(calls.end(), {L"remove " + (Root() / name).wstring(), L"post"});
    for (const wchar_t* name : {L"app\\plugins", L"app\\logs", L"app"}) calls.push_back(L"remove " + (Root() / name).wstring());
    calls.push_back(L"quit, done 1");
    return calls;
}

}  // namespace

TEST_F(RemovalWorker, OpensThePageThenRemovesWhatIsListedAndNothingElse)
{
    ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY));
    CallLog log(m_run);
    const std::vector<MSG> messages = RunWorkerBeforeAnyLoop(m_run);
    EXPECT_EQ(WorkerCalls(), CallLog::s_calls);

    EXPECT_EQ(DownloadPageOpened(), s_recorder->Calls());

    for (const wchar_t* name : {L"app\\Quorill.exe", L"app\\readme.txt", L"app\\data\\a.dat", L"app\\data\\deep\\b.dat",
                                L"app\\data\\deep", L"app\\data", L"app\\plugins\\voice\\codec.dll", L"app\\plugins\\voice"})
        EXPECT_FALSE(Exists(name)) << fs::path(name);
    // Listed before the subdirectory that it still held at its turn: tried again at the end.
    EXPECT_FALSE(Exists(L"app\\plugins"));
    EXPECT_TRUE(fs::is_directory(Root() / L"app\\logs"));
    EXPECT_TRUE(fs::is_directory(Root() / L"app"));
    EXPECT_EQ(ContentOf(L"app\\readonly.cfg"), Read(L"app\\readonly.cfg"));
    EXPECT_EQ(ContentOf(L"app\\held\\locked.dll"), Read(L"app\\held\\locked.dll"));
    // The held file, which cannot be renamed, then the folder that holds nothing else; nothing
    // unlisted, nothing read-only, nothing of Uninst.exe's, which no restart started now asked for.
    EXPECT_EQ((std::vector<std::wstring>{(Root() / L"app\\held\\locked.dll").wstring(),
                                         (Root() / L"app\\held").wstring()}),
              m_pending->Under());
    EXPECT_FALSE(Exists(L"app\\missing.txt"));
    ExpectDecoysIntact();

    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(StepsThenQuit(ENTRIES), Describe(messages));
    EXPECT_TRUE(m_run.done);
}

// Another run that deletes the key between this one's opening and deleting it.
static decltype(&::RegDeleteKeyW) s_regDeleteKey;
static LONG WINAPI DeletedFirst(HKEY key, LPCWSTR subkey)
{
    s_regDeleteKey(key, subkey);
    return s_regDeleteKey(key, subkey);
}

// A key with a subkey Windows refuses as access denied: the log says what an administrator can do
// something about. One that another run deleted first is absent, as if this run had.
TEST_F(RemovalWorker, TellsWhatBecameOfTheKey)
{
    struct Case {
        const char* what;
        bool subkey, deletedFirst;
        const char* line;
    };
    const Case cases[] = {
        {"a subkey", true, false,
         "key\tstayed\tit has subkeys: only a key without subkeys can be deleted\tHKLM\\Software\\"},
        {"deleted by another run first", false, true, "key\tabsent\tHKLM\\Software\\"},
    };
    const std::wstring subkey = std::wstring(UNINSTALL_KEY) + L"\\Sub";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY));
        ASSERT_TRUE(!c.subkey || CreateMarkedKey(subkey));
        std::unique_ptr<ImportHook> hook;
        if (c.deletedFirst) hook = std::make_unique<ImportHook>(importRegDeleteKeyW, DeletedFirst, &s_regDeleteKey);
        std::vector<MSG> messages;
        const std::string log = LogOf([this, &messages] { messages = RunWorkerBeforeAnyLoop(m_run); });
        hook.reset();

        EXPECT_NE(std::string::npos, log.find(c.line)) << log;
        EXPECT_EQ(c.subkey, KeyExists(UNINSTALL_KEY));
        EXPECT_EQ(StepsThenQuit(ENTRIES), Describe(messages));
        ExpectDecoysIntact();
        DeleteMarkedKey(subkey);
        DeleteMarkedKey(UNINSTALL_KEY);
    }
}

TEST_F(RemovalWorker, AMissingKeyChangesNothingAndTheQuitStillComes)
{
    const std::vector<MSG> messages = RunWorkerBeforeAnyLoop(m_run);

    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(StepsThenQuit(ENTRIES), Describe(messages));
    ExpectDecoysIntact();
}

// A hung Explorer may mean no page; it never holds up the removal, nor the exit for longer than the
// wait the exit step allows.
TEST_F(RemovalWorker, AShellThatNeverAnswersHoldsUpNeitherTheRemovalNorTheExit)
{
    ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY));
    s_recorder->Stall();
    std::vector<MSG> messages;
    const std::string log = LogOf([this, &messages] { messages = RunWorkerBeforeAnyLoop(m_run); });
    s_recorder->Answer();

    EXPECT_EQ(StepsThenQuit(ENTRIES), Describe(messages));
    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    EXPECT_FALSE(Exists(L"app\\Quorill.exe"));
    // The exit step's wait gave up.
    EXPECT_NE(std::string::npos, log.find("page\tnot opened: the desktop's shell gave no answer in 3 s;")) << log;
}

TEST_F(RemovalWorker, TheDialogHandlesEveryStepBeforeTheQuitEndsItsLoop)
{
    ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY));
    WorkerDialog dlg(m_run);
    dlg.DoModal();
    const bool doneAtQuit = m_run.done;

    EXPECT_EQ(static_cast<UINT>(WM_QUIT), AfxGetCurrentMessage()->message);
    EXPECT_TRUE(doneAtQuit);
    EXPECT_EQ(ENTRIES, dlg.position);
    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    WaitForDownloadPage();

    // DoModal hands a quit request on to a loop that never runs here.
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {}
}

static BOOL WINAPI RefuseToStart(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD, LPVOID,
                                  LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    ::SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

// What the removal on a real disk makes of what it finds, the disk answering as Windows does: its
// outcome, what it leaves for the next restart and what stayed, where Uninst.exe is
// root\\app\\Uninst.exe beside its manifest; and, once it is done without a script, what goes at
// the next restart besides.
TEST(Removal, TellsWhatBecameOfTheListed)
{
    // A file held open without delete sharing, a module loaded from a file, a name no file can have.
    enum Kind { PLAIN, READ_ONLY, HELD, LOADED, NO_NAME };
    struct Entry {
        const wchar_t* name;
        Kind kind;
    };
    struct Case {
        const char* what;
        std::vector<Entry> files, dirs;
        bool noScript;
        Outcome outcome;
        std::vector<std::wstring> atRestart, stayed;
    };
    const Case cases[] = {
        {"a folder that another process holds", {}, {{L"held", HELD}}, false, REMOVED_AT_RESTART, {L"held"}, {}},
        {"a read-only file beside one in use", {{L"ro.txt", READ_ONLY}, {L"busy.dll", HELD}}, {}, false, REMOVAL_FAILED,
         {L"busy.dll"}, {L"ro.txt"}},
        {"Uninst.exe's folder, no script", {}, {{L"app", PLAIN}}, true, REMOVED_AT_RESTART,
         {L"app\\Uninst.exe", L"app\\Uninst.ini", L"app"}, {}},
        // Renamed, so that an installation made again before the restart keeps its own file.
        {"a module in use", {{L"voice.dll", LOADED}, {L"voice.dll.~1", PLAIN}}, {}, false, REMOVED_AT_RESTART,
         {L"voice.dll.~2"}, {}},
        {"names that no file can have", {{L"junk\x01.dll", NO_NAME}}, {{L"c|d", NO_NAME}}, false, REMOVED, {}, {}},
    };
    const fs::path root = Root() / "outcomes";
    ASSERT_TRUE(CreateMarkedFolder(Root()));
    wchar_t module[MAX_PATH];
    ::GetModuleFileNameW(::GetModuleHandleW(L"kernel32.dll"), module, MAX_PATH);
    const ImportHook noScript(importCreateProcessW, RefuseToStart);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::create_directories(root / "app");
        for (const char* name : {"app\\Uninst.exe", "app\\Uninst.ini"}) std::ofstream(root / name) << "x";
        RemovalRun run;
        run.exe = (root / "app\\Uninst.exe").c_str();
        run.manifest = (root / "app\\Uninst.ini").c_str();
        std::vector<HANDLE> held;
        std::vector<HMODULE> loaded;
        for (const Entry& e : c.files) {
            if (e.kind != NO_NAME) std::ofstream(root / e.name) << "x";
            if (e.kind == LOADED && ::CopyFileW(module, (root / e.name).c_str(), FALSE))
                loaded.push_back(::LoadLibraryExW((root / e.name).c_str(), nullptr, LOAD_LIBRARY_AS_IMAGE_RESOURCE));
            if (e.kind == READ_ONLY) ::SetFileAttributesW((root / e.name).c_str(), FILE_ATTRIBUTE_READONLY);
            run.files.AddTail((root / e.name).c_str());
        }
        for (const Entry& e : c.dirs) {
            if (e.kind != NO_NAME) fs::create_directories(root / e.name);
            run.dirs.AddTail((root / e.name).c_str());
        }
        // Held as another process holds its current folder or a file it has open: without delete sharing.
        for (const auto& entries : {c.files, c.dirs})
            for (const Entry& e : entries)
                if (e.kind == HELD)
                    held.push_back(::CreateFileW((root / e.name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        const PendingDeletions pending(root.wstring() + L"\\");

        CDiskSite disk;
        Outcome outcome = RemoveListed(run, disk);
        if (c.noScript) outcome = Worse(outcome, HandOverAfterExit(run, false));
        EXPECT_EQ(c.outcome, outcome);
        std::vector<std::wstring> expected, stayed;
        for (const std::wstring& name : c.atRestart) expected.push_back((root / name).wstring());
        EXPECT_EQ(expected, pending.Under());
        expected.clear();
        for (const std::wstring& name : c.stayed) expected.push_back((root / name).wstring());
        for (INT_PTR i = 0; i < run.stayed.GetCount(); ++i) stayed.emplace_back(run.stayed.GetAt(run.stayed.FindIndex(i)));
        EXPECT_EQ(expected, stayed);

        for (HANDLE h : held) ::CloseHandle(h);
        for (HMODULE m : loaded) ::FreeLibrary(m);
        for (const Entry& e : c.files) ::SetFileAttributesW((root / e.name).c_str(), FILE_ATTRIBUTE_NORMAL);
        fs::remove_all(root);
    }
    RemoveMarkedFolder(Root());
}

// A manifest that lists nothing: no step, but the page, the key and the quit all the same.
TEST(RemovalWorkerWithEmptyLists, OpensThePageDeletesTheKeyAndQuitsWithoutSteps)
{
    PageRecorder recorder;
    ASSERT_TRUE(CreateMarkedKey(UNINSTALL_KEY)) << KIT_KEY_TAKEN;
    RunState run;
    EXPECT_EQ(StepsThenQuit(0), Describe(RunWorkerBeforeAnyLoop(run)));
    EXPECT_TRUE(run.done);
    EXPECT_FALSE(KeyExists(UNINSTALL_KEY));
    EXPECT_EQ(DownloadPageOpened(), recorder.Calls());
    DeleteMarkedKey(UNINSTALL_KEY);
}
