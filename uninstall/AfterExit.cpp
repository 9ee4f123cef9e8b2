#include "uninstall/AfterExit.h"
#include "platform/Path.h"
#include "selfdelete/SelfDelete.h"
#include "uninstall/Manifest.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/RunState.h"

// The part of a path before its last separator; empty when it has none.
static CString ParentOf(const CString& path)
{
    const LPCWSTR p = path;
    int end = 0;
    for (int i = 0; p[i]; ++i)
        if (IsSeparator(p[i])) end = i;
    return CString(p, end);
}

// Uninst.exe's folder and each one above it, deepest first, as long as it goes after exit (or, with
// atRestart, at the next restart); a drive's root is never one.
static void FoldersAbove(const Leftovers& left, bool atRestart, CStringList& folders)
{
    for (CString folder = ParentOf(GetModulePath()); !ParentOf(folder).IsEmpty(); folder = ParentOf(folder)) {
        const CString key = PathKey(folder);
        if (key.IsEmpty() || !(HasKey(left.afterExit, key) || (atRestart && HasKey(left.atRestart, key)))) return;
        folders.AddTail(folder);
    }
}

static void LogWhatGoesAfterExit(LPCWSTR pszWhat, const Leftovers& left)
{
    LogLine(pszWhat, L"file", GetModulePath());
    LogLine(pszWhat, L"file", ManifestPath());
    CStringList folders;
    FoldersAbove(left, false, folders);
    for (INT_PTR i = 0; i < folders.GetCount(); ++i) LogLine(pszWhat, L"dir", folders.GetAt(folders.FindIndex(i)));
}

// Del leaves a read-only file, and so may a restart's deletion; the program's own files are meant
// to go whatever their attributes. A folder named as one of them is not theirs.
static void AllowDeletion(LPCWSTR pszPath)
{
    const DWORD attributes = ::GetFileAttributesW(pszPath);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        ::SetFileAttributesW(pszPath, attributes & ~FILE_ATTRIBUTE_READONLY);
}

// Uninst.exe, its manifest when it is there, and the folders above it, deepest first.
static Outcome ScheduleOwnFilesAtRestart(Leftovers& left)
{
    Outcome outcome = ScheduleAtRestart(L"file", GetModulePath(), left);
    if (FileExists(ManifestPath())) outcome = Worse(outcome, ScheduleAtRestart(L"file", ManifestPath(), left));
    CStringList folders;
    FoldersAbove(left, true, folders);
    for (INT_PTR i = 0; i < folders.GetCount(); ++i)
        outcome = Worse(outcome, ScheduleAtRestart(L"dir", folders.GetAt(folders.FindIndex(i)), left));
    return outcome;
}

void LeaveAfterExit(Leftovers& left)
{
    AllowDeletion(GetModulePath());
    AllowDeletion(ManifestPath());
    LogWhatGoesAfterExit(L"after exit", left);
    g_uninstallDone = 1;
}

void KeepForRetry(const Leftovers& left)
{
    LogWhatGoesAfterExit(L"kept for a retry", left);
}

Outcome HandOverAfterExit(Leftovers& left, bool restartNow)
{
    if (!g_uninstallDone) return REMOVED;
    // The folders left to the restart stay the script's too: where the restart comes first (Wine
    // carries one out at once), they hold nothing by the time the script reaches them.
    CStringList folders;
    FoldersAbove(left, true, folders);
    DWORD error;
    const CString script = ScheduleSelfDelete(folders, error);
    if (script.IsEmpty()) {
        LogLine(L"script", L"could not be written or started: what it would remove goes at the next restart instead",
                CErrorText(error));
        return ScheduleOwnFilesAtRestart(left);
    }
    LogLine(L"script", L"started: it removes what goes after exit", script);
    // Only a restart that follows at once can cut the script short. Scheduled for a later one, they
    // would take what an installation made again before it puts under the same names.
    if (restartNow) {
        ScheduleOwnFilesAtRestart(left);
        ScheduleAtRestart(L"file", script, left);
    }
    return REMOVED;
}
