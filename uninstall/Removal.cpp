#include "uninstall/Removal.h"
#include "platform/Handle.h"
#include "platform/Path.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/Manifest.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/UninstallKey.h"

// The keys of what was scheduled for the next restart, and of what goes after exit: Uninst.exe, its
// manifest, and the listed folders that hold nothing else.
struct Later {
    CStringList atRestart, afterExit;
};

static CString ManifestPath()
{
    const CString directory = GetModuleDirectory();
    return directory.IsEmpty() ? directory : directory + L"Uninst.ini";
}

static bool AnyThere(const CStringList& list)
{
    for (INT_PTR i = 0; i < list.GetCount(); ++i)
        if (FileExists(list.GetAt(list.FindIndex(i)))) return true;
    return false;
}

// Whether the executable's folder holds anything besides the executable and its manifest; a
// folder that cannot be listed is not known to hold nothing else.
static bool HoldsMoreThanUninstaller()
{
    const CString directory = GetModuleDirectory(), exe = PathKey(GetModulePath()), manifest = PathKey(ManifestPath());
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW(directory + L"*", &data));
    if (!find.IsValid()) return true;
    do {
        if (::lstrcmpW(data.cFileName, L".") == 0 || ::lstrcmpW(data.cFileName, L"..") == 0) continue;
        const CString child = PathKey(directory + data.cFileName);
        if (::lstrcmpW(child, exe) != 0 && ::lstrcmpW(child, manifest) != 0) return true;
    } while (::FindNextFileW(find, &data));
    return false;
}

// A manifest that lists entries of which not one is there, while the folder still holds more than
// Uninst.exe and the manifest, is not this installation's as it was read: an ANSI manifest read in
// a code page it was not written in names other paths. Removing nothing, the run would delete the
// entry and Uninst.exe and leave the product. After a removal cut short before the entry went,
// nothing else is left in the folder.
static bool NamesNothingHere(LPCWSTR pszManifest)
{
    if ((g_fileList.GetCount() == 0 && g_dirList.GetCount() == 0) || AnyThere(g_fileList) || AnyThere(g_dirList) ||
        !HoldsMoreThanUninstaller())
        return false;
    WCHAR readAs[120] = L"it was read as UTF-16";
    if (!IsUtf16Manifest(pszManifest))
        ::wsprintfW(readAs, L"it was read as ANSI text in code page %u: text written in another reads as other paths",
                    ::GetACP());
    LogLine(L"refused", CString(L"the manifest names nothing that is here: not one of its entries was found, while its "
                                L"folder holds more than Uninst.exe and the manifest; ") + readAs + L"; nothing changed",
            pszManifest);
    return true;
}

Outcome LoadManifest()
{
    const CString manifest = ManifestPath();
    if (!manifest.IsEmpty() && FileExists(manifest)) {
        ReadManifestSection(manifest, L"Files", g_fileList);
        ReadManifestSection(manifest, L"Dirs", g_dirList);
        return NamesNothingHere(manifest) ? NOTHING_LISTED_HERE : REMOVED;
    }
    if (!UninstallKeyExists()) {
        LogLine(L"refused", L"no manifest and no uninstall entry: nothing of Zembrat is there; nothing changed", manifest);
        return NOTHING_INSTALLED;
    }
    // A copy run from elsewhere, as deployment tools run a package from a cache of their own.
    const CString installed = UninstallKeyProgram();
    const bool another = !installed.IsEmpty() && ::lstrcmpW(PathKey(installed), PathKey(GetModulePath())) != 0;
    if (another && FileExists(installed)) {
        LogLine(L"refused", L"no manifest beside this Uninst.exe, which is not the installation's own: nothing changed; "
                            L"run the installation's own, which the uninstall entry names", installed);
        return MANIFEST_MISSING;
    }
    LogLine(L"refused", L"no manifest, though the uninstall entry is there: nothing changed; installing Zembrat again "
                        L"into its folder writes the manifest anew, and then it can be removed",
            another ? DirectoryOfPath(installed) + L"Uninst.ini" : manifest);
    return MANIFEST_MISSING;
}

// Logs an entry that needs nothing more: removed, or not there. False, with the error, otherwise.
static bool IsGone(BOOL removed, LPCWSTR pszKind, LPCWSTR pszPath, DWORD& error)
{
    error = removed ? ERROR_SUCCESS : ::GetLastError();
    if (removed) LogLine(L"removed", pszKind, pszPath);
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) LogLine(L"absent", pszKind, pszPath);
    else return false;
    return true;
}

// Held open by another program without delete sharing, or locked; or the image of a running
// program or a loaded module, which refuses deletion even where the user's rights allow it. A file
// kept by its read-only attribute or its permissions is not in use: a restart would delete it as
// the system, which this user could not.
static bool IsInUse(LPCWSTR pszPath, DWORD error)
{
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION) return true;
    if (error != ERROR_ACCESS_DENIED) return false;
    const DWORD attributes = ::GetFileAttributesW(pszPath);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    const CHandle file(::CreateFileW(pszPath, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file.IsValid();
}

static Outcome ScheduleAtRestart(LPCWSTR pszKind, LPCWSTR pszPath, CStringList* pAtRestart)
{
    if (!::MoveFileExW(pszPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogLine(L"stayed", pszKind, CString(L"not scheduled at restart: ") + CErrorText(::GetLastError()), pszPath);
        return REMOVAL_FAILED;
    }
    if (pAtRestart) pAtRestart->AddTail(PathKey(pszPath));
    LogLine(L"scheduled at restart", pszKind, pszPath);
    return REMOVED_AT_RESTART;
}

enum Remains { REMAINS_OTHER, REMAINS_AFTER_EXIT, REMAINS_AT_RESTART };

// What a listed folder still holds: nothing but what goes after exit, also something that goes at
// the next restart, or anything else.
static Remains WhatRemains(LPCWSTR pszKey, const Later& later)
{
    if (!*pszKey) return REMAINS_OTHER;
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW(CString(pszKey) + L"\\*", &data));
    if (!find.IsValid()) return REMAINS_OTHER;
    Remains remains = REMAINS_AFTER_EXIT;
    do {
        if (::lstrcmpW(data.cFileName, L".") == 0 || ::lstrcmpW(data.cFileName, L"..") == 0) continue;
        const CString child = PathKey(CString(pszKey) + L"\\" + data.cFileName);
        if (HasKey(later.atRestart, child)) remains = REMAINS_AT_RESTART;
        else if (!HasKey(later.afterExit, child)) return REMAINS_OTHER;
    } while (::FindNextFileW(find, &data));
    return remains;
}

static Outcome RemoveFile(LPCWSTR pszPath, Later& later)
{
    DWORD error;
    if (IsGone(::DeleteFileW(pszPath), L"file", pszPath, error)) return REMOVED;
    if (IsInUse(pszPath, error)) return ScheduleAtRestart(L"file", pszPath, &later.atRestart);
    LogLine(L"stayed", L"file", CErrorText(error), pszPath);
    return REMOVAL_FAILED;
}

// Only empty folders go: nothing here ever descends into one. A folder that another process holds
// (as its current folder) or that still holds what goes at the next restart goes after the restart;
// one that holds only what goes after exit is left to the script. One that stays for what the user
// put in it is no failure.
static Outcome RemoveFolder(LPCWSTR pszPath, Later& later)
{
    DWORD error;
    if (IsGone(::RemoveDirectoryW(pszPath), L"dir", pszPath, error)) return REMOVED;
    const CString key = PathKey(pszPath);
    const bool held = error == ERROR_SHARING_VIOLATION;
    const Remains remains = held || error == ERROR_DIR_NOT_EMPTY ? WhatRemains(key, later) : REMAINS_OTHER;
    if (remains == REMAINS_AT_RESTART || (held && remains == REMAINS_AFTER_EXIT))
        return ScheduleAtRestart(L"dir", pszPath, &later.atRestart);
    if (remains == REMAINS_AFTER_EXIT) {
        later.afterExit.AddTail(key);
        return REMOVED;
    }
    LogLine(L"stayed", L"dir", CErrorText(error), pszPath);
    return held || error == ERROR_DIR_NOT_EMPTY ? REMOVED : REMOVAL_FAILED;
}

// The part of a path before its last separator; empty when it has none.
static CString ParentOf(const CString& path)
{
    const LPCWSTR p = path;
    int end = 0;
    for (int i = 0; p[i]; ++i)
        if (IsSeparator(p[i])) end = i;
    return CString(p, end);
}

Outcome RemoveListed(const CStringList& files, const CStringList& dirs, HWND hwndProgress, CStringList& afterExit)
{
    // A current folder inside the installation would keep it from being removed.
    WCHAR system[MAX_PATH];
    if (::GetSystemDirectoryW(system, MAX_PATH)) ::SetCurrentDirectoryW(system);

    const CString exe = GetModulePath(), manifest = ManifestPath();
    Later later;
    later.afterExit.AddTail(PathKey(exe));
    later.afterExit.AddTail(PathKey(manifest));

    Outcome outcome = REMOVED;
    for (INT_PTR i = 0; i < files.GetCount(); ++i) {
        outcome = Worse(outcome, RemoveFile(files.GetAt(files.FindIndex(i)), later));
        if (hwndProgress) ::PostMessageW(hwndProgress, WM_UNINST_STEP, 0, 0);
    }
    for (INT_PTR i = 0; i < dirs.GetCount(); ++i) {
        outcome = Worse(outcome, RemoveFolder(dirs.GetAt(dirs.FindIndex(i)), later));
        if (hwndProgress) ::PostMessageW(hwndProgress, WM_UNINST_STEP, 0, 0);
    }

    // The script removes them from Uninst.exe's folder up, as long as each one goes; a drive's
    // root is never one.
    for (CString folder = ParentOf(exe); !ParentOf(folder).IsEmpty(); folder = ParentOf(folder)) {
        const CString key = PathKey(folder);
        if (key.IsEmpty() || !HasKey(later.afterExit, key)) break;
        afterExit.AddTail(folder);
    }
    return outcome;
}

static void LogWhatGoesAfterExit(LPCWSTR pszWhat, const CStringList& afterExit)
{
    LogLine(pszWhat, L"file", GetModulePath());
    LogLine(pszWhat, L"file", ManifestPath());
    for (INT_PTR i = 0; i < afterExit.GetCount(); ++i) LogLine(pszWhat, L"dir", afterExit.GetAt(afterExit.FindIndex(i)));
}

void LeaveToScript(const CStringList& afterExit)
{
    LogWhatGoesAfterExit(L"after exit", afterExit);
    g_uninstallDone = 1;
}

void KeepForRetry(const CStringList& afterExit)
{
    LogWhatGoesAfterExit(L"kept for a retry", afterExit);
}

Outcome LeaveToRestart(const CStringList& afterExit)
{
    LogLine(L"script", L"could not be written or started: what it would remove goes at the next restart instead");
    Outcome outcome = ScheduleAtRestart(L"file", GetModulePath(), nullptr);
    if (FileExists(ManifestPath())) outcome = Worse(outcome, ScheduleAtRestart(L"file", ManifestPath(), nullptr));
    for (INT_PTR i = 0; i < afterExit.GetCount(); ++i)
        outcome = Worse(outcome, ScheduleAtRestart(L"dir", afterExit.GetAt(afterExit.FindIndex(i)), nullptr));
    return outcome;
}
