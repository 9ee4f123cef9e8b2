#include "uninstall/Removal.h"
#include "selfdelete/SelfDelete.h"
#include "uninstall/DiskSite.h"
#include "uninstall/Manifest.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/UninstallKey.h"

Outcome LoadManifest(RemovalRun& run)
{
    CDiskSite disk;
    run.exe = GetModulePath();
    run.manifest = ManifestPath();
    if (run.manifest.IsEmpty() || !FileExists(run.manifest))
        return RefuseWithoutManifest(run, UninstallKeyExists(), UninstallKeyProgram(), disk);
    ReadManifestSection(run.manifest, L"Files", run.files);
    ReadManifestSection(run.manifest, L"Dirs", run.dirs);
    if (!NamesNothingHere(run, disk)) return REMOVED;
    WCHAR readAs[120] = L"it was read as UTF-16";
    if (!IsUtf16Manifest(run.manifest))
        ::wsprintfW(readAs, L"it was read as ANSI text in code page %u: text written in another reads as other paths",
                    ::GetACP());
    LogLine(L"refused", CString("the manifest names nothing that is here: not one of its entries was found, while its "
                                "folder holds more than Uninst.exe and the manifest; ") + readAs + L"; nothing changed",
            run.manifest);
    return NOTHING_LISTED_HERE;
}

static void LogWhatGoesAfterExit(LPCWSTR pszWhat, RemovalRun& run)
{
    CDiskSite disk;
    LogLine(pszWhat, L"file", run.exe);
    LogLine(pszWhat, L"file", run.manifest);
    CStringList folders;
    FoldersAbove(run, disk, false, folders);
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

void LeaveAfterExit(RemovalRun& run)
{
    AllowDeletion(run.exe);
    AllowDeletion(run.manifest);
    LogWhatGoesAfterExit(L"after exit", run);
}

void KeepForRetry(RemovalRun& run)
{
    LogWhatGoesAfterExit(L"kept for a retry", run);
}

// Uninst.exe, its manifest when it is there, and the folders above it, deepest first.
static Outcome ScheduleOwnFilesAtRestart(RemovalRun& run, CRemovalSite& site)
{
    Outcome outcome = ScheduleAtRestart(L"file", run.exe, run, site);
    if (site.Exists(run.manifest)) outcome = Worse(outcome, ScheduleAtRestart(L"file", run.manifest, run, site));
    CStringList folders;
    FoldersAbove(run, site, true, folders);
    for (INT_PTR i = 0; i < folders.GetCount(); ++i)
        outcome = Worse(outcome, ScheduleAtRestart(L"dir", folders.GetAt(folders.FindIndex(i)), run, site));
    return outcome;
}

Outcome HandOverAfterExit(RemovalRun& run, bool restartNow)
{
    CDiskSite disk;
    // The folders left to the restart stay the script's too: where the restart comes first (Wine
    // carries one out at once), they hold nothing by the time the script reaches them.
    CStringList folders;
    FoldersAbove(run, disk, true, folders);
    DWORD error;
    const CString script = ScheduleSelfDelete(folders, error);
    if (script.IsEmpty()) {
        LogLine("script", "could not be written or started: what it would remove goes at the next restart instead",
                CErrorText(error));
        return ScheduleOwnFilesAtRestart(run, disk);
    }
    LogLine("script", "started: it removes what goes after exit", script);
    // Only a restart that follows at once can cut the script short. Scheduled for a later one, they
    // would take what an installation made again before it puts under the same names.
    if (restartNow) {
        ScheduleOwnFilesAtRestart(run, disk);
        ScheduleAtRestart(L"file", script, run, disk);
    }
    return REMOVED;
}
