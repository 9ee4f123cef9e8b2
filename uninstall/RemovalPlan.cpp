#include "uninstall/RemovalPlan.h"
#include "platform/Path.h"
#include "uninstall/RemovalLog.h"

static const LPCWSTR KIND[] = {L"file", L"dir"};

// The part of a path before its last separator; empty when it has none.
static CString ParentOf(LPCWSTR pszPath)
{
    int end = 0;
    for (int i = 0; pszPath[i]; ++i)
        if (IsSeparator(pszPath[i])) end = i;
    return CString(pszPath, end);
}

// Not there, or named as no file can be (control characters, ".." after \\?\): nothing to remove.
static bool NamesNothing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
           error == ERROR_BAD_PATHNAME;
}

// Uninst.exe's own folder, and each one above it, is there whatever the manifest was meant to name.
static bool HoldsUninstExe(LPCWSTR pszFolder, const RemovalRun& run, CRemovalSite& site)
{
    const CString key = site.Key(pszFolder), exeKey = site.Key(run.exe);
    const LPCWSTR folder = key, exe = exeKey;
    int n = 0;
    while (folder[n] && folder[n] == exe[n]) ++n;
    return n > 0 && !folder[n] && (IsSeparator(folder[n - 1]) || IsSeparator(exe[n]));
}

static bool AnyThere(const CStringList& list, const RemovalRun& run, CRemovalSite& site)
{
    for (INT_PTR i = 0; i < list.GetCount(); ++i) {
        const CString& path = list.GetAt(list.FindIndex(i));
        if (site.Exists(path) && !HoldsUninstExe(path, run, site)) return true;
    }
    return false;
}

bool NamesNothingHere(const RemovalRun& run, CRemovalSite& site)
{
    if ((run.files.GetCount() == 0 && run.dirs.GetCount() == 0) || AnyThere(run.files, run, site) ||
        AnyThere(run.dirs, run, site))
        return false;
    // A folder that cannot be listed cannot be told to hold nothing else.
    CStringList held;
    if (!site.List(site.Key(ParentOf(run.exe)), held)) return true;
    const CString exe = site.Key(run.exe), manifest = site.Key(run.manifest);
    for (INT_PTR i = 0; i < held.GetCount(); ++i) {
        const CString& key = held.GetAt(held.FindIndex(i));
        if (::lstrcmpW(key, exe) != 0 && ::lstrcmpW(key, manifest) != 0) return true;
    }
    return false;
}

Outcome RefuseWithoutManifest(const RemovalRun& run, bool keyThere, LPCWSTR pszKeyProgram, CRemovalSite& site)
{
    if (!keyThere) {
        LogLine("refused", "no manifest and no uninstall entry: nothing of Zembrat is there; nothing changed",
                run.manifest);
        return NOTHING_INSTALLED;
    }
    // A copy run from elsewhere, as deployment tools run a package from a cache of their own.
    const bool another = *pszKeyProgram && ::lstrcmpW(site.Key(pszKeyProgram), site.Key(run.exe)) != 0;
    if (another && site.Exists(pszKeyProgram)) {
        LogLine("refused", "no manifest beside this Uninst.exe, which is not the installation's own: nothing changed; "
                           "run the installation's own, which the uninstall entry names",
                pszKeyProgram);
        return MANIFEST_MISSING;
    }
    LogLine("refused", "no manifest, though the uninstall entry is there: nothing changed; installing Zembrat again "
                       "into its folder writes the manifest anew, and then it can be removed",
            another ? DirectoryOfPath(pszKeyProgram) + L"Uninst.ini" : run.manifest);
    return MANIFEST_MISSING;
}

static bool HasKeyIn(const CStringList& keys, LPCWSTR pszKey)
{
    return *pszKey && HasKey(keys, pszKey);
}

enum Remains { REMAINS_OTHER, REMAINS_AFTER_EXIT, REMAINS_AT_RESTART };

// What a listed folder still holds: nothing but what goes after exit, also something that goes at
// the next restart, or anything else.
static Remains WhatRemains(LPCWSTR pszFolder, const RemovalRun& run, CRemovalSite& site)
{
    CStringList held;
    const CString key = site.Key(pszFolder);
    if (key.IsEmpty() || !site.List(key, held)) return REMAINS_OTHER;
    Remains remains = REMAINS_AFTER_EXIT;
    for (INT_PTR i = 0; i < held.GetCount(); ++i) {
        const CString& child = held.GetAt(held.FindIndex(i));
        if (HasKeyIn(run.atRestart, child)) remains = REMAINS_AT_RESTART;
        else if (!HasKeyIn(run.afterExit, child)) return REMAINS_OTHER;
    }
    return remains;
}

static EntryFate Decide(Fate fate, DWORD error = ERROR_SUCCESS)
{
    const EntryFate decided = {fate, error};
    return decided;
}

static EntryFate Schedule(LPCWSTR pszKind, LPCWSTR pszPath, RemovalRun& run, CRemovalSite& site)
{
    const DWORD error = site.DeleteAtRestart(pszPath);
    if (error != ERROR_SUCCESS) {
        LogLine(L"stayed", pszKind, CString("not scheduled at restart: ") + CErrorText(error), pszPath);
        return Decide(FATE_STAYED, error);
    }
    run.atRestart.AddTail(site.Key(pszPath));
    LogLine(L"scheduled at restart", pszKind, pszPath);
    return Decide(FATE_AT_RESTART);
}

// A file in use goes at the restart under a name of its own beside it, as Windows Installer moves
// one aside, so that an installation made again before the restart keeps its own file of that name.
// Windows renames a running program or a loaded module, but not a file held open without delete
// sharing: that one goes under its own name. What stays is named as the manifest lists it.
static EntryFate ScheduleInUse(LPCWSTR pszPath, RemovalRun& run, CRemovalSite& site)
{
    for (int n = 1; n < 100; ++n) {
        WCHAR suffix[8];
        ::wsprintfW(suffix, L".~%d", n);
        const CString aside = CString(pszPath) + suffix;
        const DWORD moved = site.MoveFile(pszPath, aside);
        if (moved == ERROR_ALREADY_EXISTS || moved == ERROR_FILE_EXISTS) continue;
        if (moved != ERROR_SUCCESS) break;
        LogLine(L"renamed", L"file", pszPath, aside);
        const EntryFate scheduled = Schedule(L"file", aside, run, site);
        if (scheduled.fate != FATE_AT_RESTART && site.MoveFile(aside, pszPath) == ERROR_SUCCESS)
            LogLine(L"renamed back", L"file", aside, pszPath);
        return scheduled;
    }
    return Schedule(L"file", pszPath, run, site);
}

static EntryFate RemoveFile(LPCWSTR pszPath, RemovalRun& run, CRemovalSite& site)
{
    const DWORD error = site.DeleteFile(pszPath);
    if (error == ERROR_SUCCESS) return Decide(FATE_REMOVED);
    if (NamesNothing(error)) return Decide(FATE_ABSENT);
    if (site.IsInUse(pszPath, error)) return ScheduleInUse(pszPath, run, site);
    LogLine(L"stayed", L"file", CErrorText(error), pszPath);
    return Decide(FATE_STAYED, error);
}

// Only empty folders go: nothing here ever descends into one. A folder that another process holds
// (as its current folder) or that still holds what goes at the next restart goes after the restart;
// one that holds only what goes after exit is left to the script. One that stays for what the user
// put in it is no failure.
static EntryFate RemoveFolder(LPCWSTR pszPath, RemovalRun& run, CRemovalSite& site)
{
    const DWORD error = site.RemoveDirectory(pszPath);
    if (error == ERROR_SUCCESS) return Decide(FATE_REMOVED);
    if (NamesNothing(error)) return Decide(FATE_ABSENT);
    const bool held = error == ERROR_SHARING_VIOLATION;
    const Remains remains = held || error == ERROR_DIR_NOT_EMPTY ? WhatRemains(pszPath, run, site) : REMAINS_OTHER;
    if (remains == REMAINS_AT_RESTART || (held && remains == REMAINS_AFTER_EXIT))
        return Schedule(L"dir", pszPath, run, site);
    if (remains == REMAINS_AFTER_EXIT) {
        run.afterExit.AddTail(site.Key(pszPath));
        return Decide(FATE_AFTER_EXIT);
    }
    return Decide(held || error == ERROR_DIR_NOT_EMPTY ? FATE_KEPT : FATE_STAYED, error);
}

static bool TriedAgain(const EntryFate& fate)
{
    return fate.fate == FATE_KEPT && fate.error == ERROR_DIR_NOT_EMPTY;
}

static void LogFate(const EntryFate& fate, LPCWSTR pszKind, LPCWSTR pszPath, const CString& link)
{
    switch (fate.fate) {
    case FATE_REMOVED: LogLine(L"removed", pszKind, pszPath); break;
    case FATE_ABSENT: LogLine(L"absent", pszKind, pszPath); break;
    case FATE_NOT_FOLLOWED:
        LogLine(L"stayed", pszKind, CString("not followed: a link in its path at ") + link, pszPath);
        break;
    case FATE_KEPT: LogLine(L"stayed", pszKind, CErrorText(fate.error), pszPath); break;
    default: break;  // logged as it was decided
    }
}

// The last part of a path.
static LPCWSTR NameOf(LPCWSTR pszPath)
{
    LPCWSTR name = pszPath;
    for (; *pszPath; ++pszPath)
        if (IsSeparator(*pszPath)) name = pszPath + 1;
    return name;
}

// Whether two names are alike but for the case of ASCII letters.
static bool SameName(LPCWSTR a, LPCWSTR b)
{
    const auto fold = [](WCHAR c) { return c >= L'a' && c <= L'z' ? static_cast<WCHAR>(c - 32) : c; };
    for (; *a && fold(*a) == fold(*b); ++a, ++b) {}
    return fold(*a) == fold(*b);
}

// Uninst.exe and its manifest, listed or not, go after exit: Uninst.exe runs until then. Their names
// are compared first: a key costs Windows a walk of the whole path.
static bool IsOwnFile(LPCWSTR pszPath, const RemovalRun& run, CRemovalSite& site)
{
    const LPCWSTR name = NameOf(pszPath);
    const bool exe = SameName(name, NameOf(run.exe));
    if (!exe && !SameName(name, NameOf(run.manifest))) return false;
    const CString key = site.Key(pszPath);
    return !key.IsEmpty() && ::lstrcmpW(key, site.Key(exe ? run.exe : run.manifest)) == 0;
}

// Nothing is deleted, removed or scheduled through a link that a user could have made on the path:
// what it leads to was never listed. A folder that is tried again is logged at its last turn.
static EntryFate RemoveEntry(bool dir, LPCWSTR pszPath, bool last, RemovalRun& run, CRemovalSite& site)
{
    const CString link = site.LinkInPath(pszPath);
    const EntryFate fate = !link.IsEmpty()                   ? Decide(FATE_NOT_FOLLOWED)
                           : !dir && IsOwnFile(pszPath, run, site) ? Decide(FATE_AFTER_EXIT)
                           : dir                             ? RemoveFolder(pszPath, run, site)
                                                             : RemoveFile(pszPath, run, site);
    if (last || !TriedAgain(fate)) LogFate(fate, KIND[dir], pszPath, link);
    return fate;
}

static bool IsFailure(Fate fate)
{
    return fate == FATE_STAYED || fate == FATE_NOT_FOLLOWED;
}

// The run's i-th entry: the listed files first, then the listed folders.
static const CString& EntryAt(const RemovalRun& run, int i)
{
    const int files = static_cast<int>(run.files.GetCount());
    const CStringList& list = i < files ? run.files : run.dirs;
    return list.GetAt(list.FindIndex(i < files ? i : i - files));
}

Outcome RemoveListed(RemovalRun& run, CRemovalSite& site)
{
    // Uninst.exe and its manifest go after exit: a folder that holds nothing else is empty of the product.
    run.afterExit.AddTail(site.Key(run.exe));
    run.afterExit.AddTail(site.Key(run.manifest));
    const int files = static_cast<int>(run.files.GetCount()), count = files + static_cast<int>(run.dirs.GetCount());
    if (!run.fates.Alloc(count ? count : 1)) return REMOVAL_FAILED;
    for (int i = 0; i < count; ++i) {
        run.fates[i] = RemoveEntry(i >= files, EntryAt(run, i), false, run, site);
        site.Step();
    }
    // A folder listed before what it holds, the commonest slip, is tried again once all else is done.
    for (int i = files; i < count; ++i)
        if (TriedAgain(run.fates[i])) run.fates[i] = RemoveEntry(true, EntryAt(run, i), true, run, site);

    Outcome outcome = REMOVED;
    for (int i = 0; i < count; ++i) {
        if (run.fates[i].fate == FATE_AT_RESTART) outcome = Worse(outcome, REMOVED_AT_RESTART);
        if (!IsFailure(run.fates[i].fate)) continue;
        run.stayed.AddTail(EntryAt(run, i));
        outcome = Worse(outcome, REMOVAL_FAILED);
    }
    return outcome;
}

Outcome ScheduleAtRestart(LPCWSTR pszKind, LPCWSTR pszPath, RemovalRun& run, CRemovalSite& site)
{
    return Schedule(pszKind, pszPath, run, site).fate == FATE_AT_RESTART ? REMOVED_AT_RESTART : REMOVAL_FAILED;
}

void FoldersAbove(const RemovalRun& run, CRemovalSite& site, bool atRestart, CStringList& folders)
{
    for (CString folder = ParentOf(run.exe); !ParentOf(folder).IsEmpty(); folder = ParentOf(folder)) {
        const CString key = site.Key(folder);
        if (key.IsEmpty() || !(HasKey(run.afterExit, key) || (atRestart && HasKey(run.atRestart, key)))) return;
        folders.AddTail(folder);
    }
}

int ExitCode(Outcome outcome, RunKind kind)
{
    static const int CODES[] = {
        ERROR_SUCCESS,                  // REMOVED
        ERROR_SUCCESS_REBOOT_REQUIRED,  // REMOVED_AT_RESTART: 3010
        ERROR_INSTALL_FAILURE,          // REMOVAL_FAILED: 1603
        ERROR_UNKNOWN_PRODUCT,          // NOTHING_INSTALLED: 1605
        ERROR_INSTALL_FAILURE,          // MANIFEST_MISSING: 1603
        ERROR_INSTALL_FAILURE,          // NOTHING_LISTED_HERE: 1603
        ERROR_INSTALL_ALREADY_RUNNING,  // PRODUCT_RUNNING: 1618
        ERROR_INSTALL_USEREXIT,         // NOBODY_TO_ANSWER: 1602
    };
    return kind == RUN_AT_DESKTOP ? 0 : CODES[outcome];
}

bool KeepsForARetry(Outcome outcome, RunKind kind)
{
    return kind == RUN_UNATTENDED && outcome == REMOVAL_FAILED;
}

static const WCHAR STAYED_ONE[] = L"下面这个文件或文件夹未能删除，您可以手动删除它：\n";
static const WCHAR STAYED_MANY[] = L"下面这些文件或文件夹未能删除，您可以手动删除它们：\n";
static const WCHAR MORE_STAYED[] = L"\n……另有 %d 项。";
static const WCHAR RESTART[] = L"重新启动计算机即可完成“Zembrat”网络电话的删除。\n\n是否立即重新启动计算机？";
static const WCHAR NOTHING_REMOVED[] = L"没有删除任何内容。“Zembrat”网络电话的安装可能已损坏，或是从其他位置复制来的。"
                                       L"请重新安装“Zembrat”网络电话，然后再删除它。";
static const int NAMED = 10;
// The page that the worker opened a moment earlier has the foreground, and an ownerless box would
// open behind it, where the run would wait unseen.
static const UINT SEEN = MB_SETFOREGROUND | MB_TOPMOST;

// The paths of what stayed, one to a line, after the sentence that fits their number; an eleventh
// takes the place that "one more" would. How many were named.
static int NameWhatStayed(const CStringList& stayed, CString& text)
{
    const int count = static_cast<int>(stayed.GetCount());
    const int named = count <= NAMED + 1 ? count : NAMED;
    text += count == 1 ? STAYED_ONE : STAYED_MANY;
    for (int i = 0; i < named; ++i) {
        text += L"\n";
        text += stayed.GetAt(stayed.FindIndex(i));
    }
    WCHAR more[40];
    ::wsprintfW(more, MORE_STAYED, count - named);
    if (named < count) text += more;
    return named;
}

EndBox ChooseEndBox(Outcome outcome, const RemovalRun& run)
{
    EndBox box = {CString(), MB_OK | MB_ICONEXCLAMATION | SEEN, 0};
    if (outcome == NOTHING_LISTED_HERE) {
        box.text = NOTHING_REMOVED;
        return box;
    }
    if (run.stayed.GetCount()) box.named = NameWhatStayed(run.stayed, box.text);
    if (!run.atRestart.GetCount()) return box;
    if (!box.text.IsEmpty()) box.text += L"\n\n";
    box.text += RESTART;
    box.type = MB_YESNO | MB_DEFBUTTON2 | (box.named ? MB_ICONEXCLAMATION : MB_ICONQUESTION) | SEEN;
    return box;
}
