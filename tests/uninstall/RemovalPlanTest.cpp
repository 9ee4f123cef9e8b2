// The removal's rules, a row each: what the disk holds and what its attempts return, the entries a
// manifest lists and the run's kind, and what the rules make of them.
#include "uninstall/RemovalPlan.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// A disk as a listing: folders end in a backslash. An attempt on a path returns the error that the
// row gives it, else what Windows returns for what the listing holds.
class TableSite : public CRemovalSite {
public:
    std::set<std::wstring> listing;
    std::map<std::wstring, DWORD> errors;   // "delete X", "remove X", "move X", "schedule X"
    std::set<std::wstring> running, links;  // running programs; folders that are a user's links
    std::vector<std::wstring> scheduled, moves;

    DWORD DeleteFile(LPCWSTR path) override
    {
        if (DWORD error = Given(L"delete ", path)) return error;
        if (listing.count(path + std::wstring(L"\\"))) return ERROR_ACCESS_DENIED;
        return Take(path);
    }
    DWORD RemoveDirectory(LPCWSTR path) override
    {
        if (DWORD error = Given(L"remove ", path)) return error;
        const std::wstring folder = std::wstring(path) + L"\\";
        if (listing.count(path)) return ERROR_DIRECTORY;
        if (!listing.count(folder)) return ERROR_FILE_NOT_FOUND;
        if (!Children(folder).empty()) return ERROR_DIR_NOT_EMPTY;
        listing.erase(folder);
        return ERROR_SUCCESS;
    }
    DWORD MoveFile(LPCWSTR from, LPCWSTR to) override
    {
        if (DWORD error = Given(L"move ", from)) return error;
        if (listing.count(to)) return ERROR_ALREADY_EXISTS;
        moves.push_back(std::wstring(from) + L" > " + to);
        listing.erase(from);
        listing.insert(to);
        return ERROR_SUCCESS;
    }
    DWORD DeleteAtRestart(LPCWSTR path) override
    {
        if (DWORD error = Given(L"schedule ", path)) return error;
        scheduled.push_back(path);
        return ERROR_SUCCESS;
    }
    bool IsInUse(LPCWSTR path, DWORD error) override
    {
        return error == ERROR_SHARING_VIOLATION || (error == ERROR_ACCESS_DENIED && running.count(path));
    }
    CString LinkInPath(LPCWSTR path) override
    {
        for (const std::wstring& link : links)
            if (std::wstring(path).compare(0, link.size() + 1, link + L"\\") == 0) return link.c_str();
        return CString();
    }
    CString Key(LPCWSTR path) override
    {
        std::wstring key(path);
        std::transform(key.begin(), key.end(), key.begin(), ::towupper);
        return key.c_str();
    }
    bool List(LPCWSTR folder, CStringList& keys) override
    {
        for (const std::wstring& child : Children(Original(folder) + L"\\")) keys.AddTail(Key(child.c_str()));
        return listing.count(Original(folder) + L"\\") > 0;
    }
    bool Exists(LPCWSTR path) override { return listing.count(path) || listing.count(path + std::wstring(L"\\")); }
    void Step() override { ++steps; }

    int steps = 0;

private:
    DWORD Given(LPCWSTR what, LPCWSTR path)
    {
        const auto found = errors.find(what + std::wstring(path));
        return found == errors.end() ? ERROR_SUCCESS : found->second;
    }
    DWORD Take(LPCWSTR path)
    {
        if (!listing.erase(path)) return listing.count(Parent(path) + L"\\") ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
        return ERROR_SUCCESS;
    }
    static std::wstring Parent(const std::wstring& path) { return path.substr(0, path.rfind(L'\\', path.size() - 2)); }
    std::vector<std::wstring> Children(const std::wstring& folder) const
    {
        std::vector<std::wstring> children;
        for (const std::wstring& path : listing) {
            const std::wstring bare = path.back() == L'\\' ? path.substr(0, path.size() - 1) : path;
            if (bare.size() > folder.size() && bare.compare(0, folder.size(), folder) == 0 &&
                bare.find(L'\\', folder.size()) == std::wstring::npos)
                children.push_back(bare);
        }
        return children;
    }
    // The listing's own spelling of a key.
    std::wstring Original(LPCWSTR key)
    {
        for (const std::wstring& path : listing)
            if (std::wstring(Key(path.c_str())) == std::wstring(key) + L"\\") return path.substr(0, path.size() - 1);
        return key;
    }
};

std::vector<std::wstring> Paths(const CStringList& list)
{
    std::vector<std::wstring> paths;
    for (INT_PTR i = 0; i < list.GetCount(); ++i) paths.emplace_back(list.GetAt(list.FindIndex(i)));
    return paths;
}

const wchar_t EXE[] = L"C:\\Z\\Uninst.exe";
const wchar_t INI[] = L"C:\\Z\\Uninst.ini";

void Prepare(RemovalRun& run, const std::vector<std::wstring>& files, const std::vector<std::wstring>& dirs)
{
    run.exe = EXE;
    run.manifest = INI;
    for (const auto& file : files) run.files.AddTail(file.c_str());
    for (const auto& dir : dirs) run.dirs.AddTail(dir.c_str());
}

}  // namespace

TEST(RemovalPlan, DecidesWhatBecomesOfEachEntry)
{
    const Fate GONE = FATE_REMOVED, ABSENT = FATE_ABSENT, RESTART = FATE_AT_RESTART, EXIT = FATE_AFTER_EXIT,
               KEPT = FATE_KEPT, LINK = FATE_NOT_FOLLOWED, STAYED = FATE_STAYED;
    struct Case {
        const char* what;
        std::set<std::wstring> listing;
        std::map<std::wstring, DWORD> errors;
        std::set<std::wstring> running, links;
        std::vector<std::wstring> files, dirs;
        std::vector<Fate> fates;
        Outcome outcome;
        std::vector<std::wstring> scheduled, stayed;
    };
    const std::set<std::wstring> own = {L"C:\\Z\\", EXE, INI};
    auto with = [&own](std::set<std::wstring> more) {
        more.insert(own.begin(), own.end());
        return more;
    };
    const Case cases[] = {
        {"files, then folders deepest first", with({L"C:\\Z\\a.dll", L"C:\\Z\\b\\", L"C:\\Z\\b\\c.dll"}), {}, {}, {},
         {L"C:\\Z\\a.dll", L"C:\\Z\\b\\c.dll"}, {L"C:\\Z\\b", L"C:\\Z"}, {GONE, GONE, GONE, EXIT}, REMOVED, {}, {}},
        {"entries that name nothing there, or nothing a file can be named",
         with({}), {{L"delete C:\\Z\\x\x01.dll", ERROR_INVALID_NAME}, {L"delete \\\\?\\C:\\Z\\..\\y", ERROR_BAD_PATHNAME}},
         {}, {}, {L"C:\\Z\\gone.dll", L"C:\\Q\\gone.dll", L"C:\\Z\\x\x01.dll", L"\\\\?\\C:\\Z\\..\\y"}, {L"C:\\Z\\d"},
         {ABSENT, ABSENT, ABSENT, ABSENT, ABSENT}, REMOVED, {}, {}},
        {"a read-only file stays", with({L"C:\\Z\\ro.dll"}), {{L"delete C:\\Z\\ro.dll", ERROR_ACCESS_DENIED}}, {}, {},
         {L"C:\\Z\\ro.dll"}, {}, {STAYED}, REMOVAL_FAILED, {}, {L"C:\\Z\\ro.dll"}},
        {"a file in use goes at the restart, renamed beside itself", with({L"C:\\Z\\a.dll"}),
         {{L"delete C:\\Z\\a.dll", ERROR_SHARING_VIOLATION}}, {}, {}, {L"C:\\Z\\a.dll"}, {}, {RESTART}, REMOVED_AT_RESTART,
         {L"C:\\Z\\a.dll.~1"}, {}},
        {"a running program, under the first free name", with({L"C:\\Z\\q.exe", L"C:\\Z\\q.exe.~1"}),
         {{L"delete C:\\Z\\q.exe", ERROR_ACCESS_DENIED}}, {L"C:\\Z\\q.exe"}, {}, {L"C:\\Z\\q.exe"}, {}, {RESTART},
         REMOVED_AT_RESTART, {L"C:\\Z\\q.exe.~2"}, {}},
        {"in use and not renamed: under its own name", with({L"C:\\Z\\a.dll"}),
         {{L"delete C:\\Z\\a.dll", ERROR_SHARING_VIOLATION}, {L"move C:\\Z\\a.dll", ERROR_SHARING_VIOLATION}}, {}, {},
         {L"C:\\Z\\a.dll"}, {}, {RESTART}, REMOVED_AT_RESTART, {L"C:\\Z\\a.dll"}, {}},
        {"in use and not scheduled: it stays, under its own name", with({L"C:\\Z\\a.dll"}),
         {{L"delete C:\\Z\\a.dll", ERROR_SHARING_VIOLATION}, {L"schedule C:\\Z\\a.dll.~1", ERROR_ACCESS_DENIED}},
         {}, {}, {L"C:\\Z\\a.dll"}, {}, {STAYED}, REMOVAL_FAILED, {}, {L"C:\\Z\\a.dll"}},
        {"a folder with the user's own files is kept, as no failure", with({L"C:\\Z\\d\\", L"C:\\Z\\d\\mine.txt"}), {},
         {}, {}, {}, {L"C:\\Z\\d"}, {KEPT}, REMOVED, {}, {}},
        {"a folder listed before what it holds goes once that has gone",
         with({L"C:\\Z\\d\\", L"C:\\Z\\d\\e\\"}), {}, {}, {}, {}, {L"C:\\Z\\d", L"C:\\Z\\d\\e"}, {GONE, GONE}, REMOVED, {},
         {}},
        {"a folder another process holds goes at the restart", with({L"C:\\Z\\d\\"}),
         {{L"remove C:\\Z\\d", ERROR_SHARING_VIOLATION}}, {}, {}, {}, {L"C:\\Z\\d"}, {RESTART}, REMOVED_AT_RESTART,
         {L"C:\\Z\\d"}, {}},
        {"a folder that holds a file in use goes after it", with({L"C:\\Z\\d\\", L"C:\\Z\\d\\a.dll"}),
         {{L"delete C:\\Z\\d\\a.dll", ERROR_SHARING_VIOLATION}, {L"move C:\\Z\\d\\a.dll", ERROR_SHARING_VIOLATION}}, {},
         {}, {L"C:\\Z\\d\\a.dll"}, {L"C:\\Z\\d"}, {RESTART, RESTART}, REMOVED_AT_RESTART,
         {L"C:\\Z\\d\\a.dll", L"C:\\Z\\d"}, {}},
        {"nothing through a link that a user could have made", with({L"C:\\Z\\l\\", L"C:\\Z\\l\\a.dll"}), {}, {},
         {L"C:\\Z\\l"}, {L"C:\\Z\\l\\a.dll"}, {L"C:\\Z\\l\\sub"}, {LINK, LINK}, REMOVAL_FAILED, {},
         {L"C:\\Z\\l\\a.dll", L"C:\\Z\\l\\sub"}},
        {"Uninst.exe and its manifest, listed, go after exit as they always do", with({}),
         {{L"delete C:\\Z\\Uninst.exe", ERROR_ACCESS_DENIED}}, {EXE}, {}, {EXE, INI}, {}, {EXIT, EXIT}, REMOVED, {}, {}},
        {"a folder that cannot be removed for another cause fails", with({L"C:\\Z\\d\\"}),
         {{L"remove C:\\Z\\d", ERROR_ACCESS_DENIED}}, {}, {}, {}, {L"C:\\Z\\d"}, {STAYED}, REMOVAL_FAILED, {},
         {L"C:\\Z\\d"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TableSite site;
        site.listing = c.listing;
        site.errors = c.errors;
        site.running = c.running;
        site.links = c.links;
        RemovalRun run;
        Prepare(run, c.files, c.dirs);
        EXPECT_EQ(c.outcome, RemoveListed(run, site));
        std::vector<Fate> fates;
        for (size_t i = 0; i < c.files.size() + c.dirs.size(); ++i) fates.push_back(run.fates[static_cast<int>(i)].fate);
        EXPECT_EQ(c.fates, fates);
        EXPECT_EQ(c.scheduled, site.scheduled);
        EXPECT_EQ(c.stayed, Paths(run.stayed));
        EXPECT_EQ(static_cast<int>(c.files.size() + c.dirs.size()), site.steps);
    }
}

// A manifest that names nothing here is refused before anything changes; a rerun that finds all it
// lists gone, beside nothing but Uninst.exe and its manifest, finishes the job.
TEST(RemovalPlan, RefusesAManifestThatNamesNothingHere)
{
    const struct {
        const char* what;
        std::set<std::wstring> listing;
        std::vector<std::wstring> files, dirs;
        bool refused;
    } cases[] = {
        {"nothing listed is there, the folder holds more", {L"C:\\Z\\", EXE, INI, L"C:\\Z\\q.exe"},
         {L"C:\\Z\\\xFFFD.exe"}, {}, true},
        {"only the folders that hold Uninst.exe are there", {L"C:\\", L"C:\\Z\\", EXE, INI, L"C:\\Z\\q.exe"},
         {L"C:\\Z\\\xFFFD.exe"}, {L"C:\\Z", L"C:\\"}, true},
        {"a rerun: all gone, but for Uninst.exe and its manifest", {L"C:\\Z\\", EXE, INI}, {L"C:\\Z\\q.exe"},
         {L"C:\\Z\\d"}, false},
        {"one listed folder is there", {L"C:\\Z\\", EXE, INI, L"C:\\Z\\d\\", L"C:\\Z\\mine.txt"}, {L"C:\\Z\\q.exe"},
         {L"C:\\Z\\d"}, false},
        {"a manifest that lists nothing", {L"C:\\Z\\", EXE, INI, L"C:\\Z\\mine.txt"}, {}, {}, false},
    };
    for (const auto& c : cases) {
        TableSite site;
        site.listing = c.listing;
        RemovalRun run;
        Prepare(run, c.files, c.dirs);
        EXPECT_EQ(c.refused, NamesNothingHere(run, site)) << c.what;
    }
}

// Without a manifest nothing changes; the outcome tells why, and a silent run's exit code says it.
TEST(RemovalPlan, RefusesARunWithoutItsManifest)
{
    const struct {
        const char* what;
        bool keyThere;
        const wchar_t* keyProgram;
        Outcome outcome;
        int code;
    } cases[] = {
        {"nothing installed", false, L"", NOTHING_INSTALLED, 1605},
        {"the entry is there", true, EXE, MANIFEST_MISSING, 1603},
        {"a copy run from elsewhere", true, L"C:\\Elsewhere\\Uninst.exe", MANIFEST_MISSING, 1603},
    };
    for (const auto& c : cases) {
        TableSite site;
        site.listing = {L"C:\\Elsewhere\\Uninst.exe"};
        RemovalRun run;
        Prepare(run, {}, {});
        const Outcome outcome = RefuseWithoutManifest(run, c.keyThere, c.keyProgram, site);
        EXPECT_EQ(c.outcome, outcome) << c.what;
        EXPECT_EQ(c.code, ExitCode(outcome, RUN_UNATTENDED)) << c.what;
        EXPECT_EQ(0, ExitCode(outcome, RUN_AT_DESKTOP)) << c.what;
    }
}

// A deployment tool reads the outcome in the exit code, as Windows Installer gives it; a failed
// silent run alone keeps the entry, Uninst.exe and its manifest for the same command to finish.
TEST(RemovalPlan, TellsDeploymentToolsByTheExitCode)
{
    const struct {
        Outcome outcome;
        int code;
        bool kept;
    } cases[] = {
        {REMOVED, 0, false},          {REMOVED_AT_RESTART, 3010, false}, {REMOVAL_FAILED, 1603, true},
        {NOTHING_LISTED_HERE, 1603, false}, {PRODUCT_RUNNING, 1618, false}, {NOBODY_TO_ANSWER, 1602, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.code, ExitCode(c.outcome, RUN_UNATTENDED)) << c.outcome;
        EXPECT_EQ(c.kept, KeepsForARetry(c.outcome, RUN_UNATTENDED)) << c.outcome;
        EXPECT_FALSE(KeepsForARetry(c.outcome, RUN_AT_DESKTOP)) << c.outcome;
    }
}

// One box at most ends a run at the desktop, in front of every window: what stayed first, by
// name, then the restart that something waits for, No being the default.
TEST(RemovalPlan, SaysWhatStayedAndAsksForTheRestartInOneBox)
{
    const std::wstring ONE = L"下面这个文件或文件夹未能删除，您可以手动删除它：\n",
                       MANY = L"下面这些文件或文件夹未能删除，您可以手动删除它们：\n",
                       RESTART = L"重新启动计算机即可完成\u201CZembrat\u201D网络电话的删除。\n\n是否立即重新启动计算机？",
                       NOTHING = L"没有删除任何内容。\u201CZembrat\u201D网络电话的安装可能已损坏，或是从其他位置复制来的。"
                                 L"请重新安装\u201CZembrat\u201D网络电话，然后再删除它。";
    auto paths = [](int n) {
        std::wstring text;
        for (int i = 0; i < n; ++i) text += L"\nC:\\Z\\f" + std::to_wstring(i) + L".dll";
        return text;
    };
    const UINT SEEN = MB_SETFOREGROUND | MB_TOPMOST;
    const struct {
        const char* what;
        Outcome outcome;
        int stayed;
        bool restart;
        std::wstring text;
        UINT type;
        int named;
    } cases[] = {
        {"nothing to say", REMOVED, 0, false, L"", MB_OK | MB_ICONEXCLAMATION | SEEN, 0},
        {"one stayed", REMOVAL_FAILED, 1, false, ONE + paths(1), MB_OK | MB_ICONEXCLAMATION | SEEN, 1},
        {"eleven stayed: all named", REMOVAL_FAILED, 11, false, MANY + paths(11), MB_OK | MB_ICONEXCLAMATION | SEEN, 11},
        {"twelve stayed", REMOVAL_FAILED, 12, false, MANY + paths(10) + L"\n……另有 2 项。", MB_OK | MB_ICONEXCLAMATION | SEEN,
         10},
        {"a restart is needed", REMOVED_AT_RESTART, 0, true, RESTART, MB_YESNO | MB_DEFBUTTON2 | MB_ICONQUESTION | SEEN, 0},
        {"both, the list first", REMOVAL_FAILED, 2, true, MANY + paths(2) + L"\n\n" + RESTART,
         MB_YESNO | MB_DEFBUTTON2 | MB_ICONEXCLAMATION | SEEN, 2},
        {"nothing listed is here", NOTHING_LISTED_HERE, 0, false, NOTHING, MB_OK | MB_ICONEXCLAMATION | SEEN, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RemovalRun run;
        for (int i = 0; i < c.stayed; ++i) run.stayed.AddTail((L"C:\\Z\\f" + std::to_wstring(i) + L".dll").c_str());
        if (c.restart) run.atRestart.AddTail(L"C:\\Z\\A.DLL");
        const EndBox box = ChooseEndBox(c.outcome, run);
        EXPECT_EQ(c.text, std::wstring(box.text));
        EXPECT_EQ(c.type, box.type);
        EXPECT_EQ(c.named, box.named);
    }
}
