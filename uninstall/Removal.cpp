#include "uninstall/Removal.h"
#include "platform/Handle.h"
#include "platform/Path.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/LinkGuard.h"
#include "uninstall/Manifest.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/RunState.h"
#include "uninstall/UninstallKey.h"

// Logs an entry that needs nothing more: removed, or not there. A name that no file can have (control
// characters, a \\?\ path with "..") names nothing that is there either. False, with the error, otherwise.
static bool IsGone(BOOL removed, LPCWSTR pszKind, LPCWSTR pszPath, DWORD& error)
{
    error = removed ? ERROR_SUCCESS : ::GetLastError();
    if (removed) LogLine(L"removed", pszKind, pszPath);
    else if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_INVALID_NAME ||
             error == ERROR_BAD_PATHNAME)
        LogLine(L"absent", pszKind, pszPath);
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

Outcome ScheduleAtRestart(LPCWSTR pszKind, LPCWSTR pszPath, Leftovers& left)
{
    if (!::MoveFileExW(pszPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT)) {
        LogLine(L"stayed", pszKind, CString(L"not scheduled at restart: ") + CErrorText(::GetLastError()), pszPath);
        return REMOVAL_FAILED;
    }
    left.atRestart.AddTail(PathKey(pszPath));
    LogLine(L"scheduled at restart", pszKind, pszPath);
    return REMOVED_AT_RESTART;
}

enum Remains { REMAINS_OTHER, REMAINS_AFTER_EXIT, REMAINS_AT_RESTART };

// What a listed folder still holds: nothing but what goes after exit, also something that goes at
// the next restart, or anything else.
static Remains WhatRemains(LPCWSTR pszKey, const Leftovers& left)
{
    if (!*pszKey) return REMAINS_OTHER;
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW(CString(pszKey) + L"\\*", &data));
    if (!find.IsValid()) return REMAINS_OTHER;
    Remains remains = REMAINS_AFTER_EXIT;
    do {
        if (::lstrcmpW(data.cFileName, L".") == 0 || ::lstrcmpW(data.cFileName, L"..") == 0) continue;
        const CString child = PathKey(CString(pszKey) + L"\\" + data.cFileName);
        if (HasKey(left.atRestart, child)) remains = REMAINS_AT_RESTART;
        else if (!HasKey(left.afterExit, child)) return REMAINS_OTHER;
    } while (::FindNextFileW(find, &data));
    return remains;
}

// Uninst.exe and its manifest, which go after exit: a folder that holds nothing else is empty of the
// product.
static void AddOwnFiles(Leftovers& left)
{
    left.afterExit.AddTail(PathKey(GetModulePath()));
    left.afterExit.AddTail(PathKey(ManifestPath()));
}

static bool AnyThere(const CStringList& list)
{
    for (INT_PTR i = 0; i < list.GetCount(); ++i)
        if (FileExists(list.GetAt(list.FindIndex(i)))) return true;
    return false;
}

// A manifest that lists entries of which not one is there, while the folder still holds more than
// Uninst.exe and the manifest, is not this installation's as it was read: an ANSI manifest read in
// a code page it was not written in names other paths. Removing nothing, the run would delete the
// entry and Uninst.exe and leave the product. After a removal cut short before the entry went,
// nothing else is left in the folder.
static bool NamesNothingHere(LPCWSTR pszManifest)
{
    Leftovers own;
    AddOwnFiles(own);
    if ((g_fileList.GetCount() == 0 && g_dirList.GetCount() == 0) || AnyThere(g_fileList) || AnyThere(g_dirList) ||
        WhatRemains(PathKey(GetModuleDirectory()), own) != REMAINS_OTHER)
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

// A file in use goes at the restart under a name of its own beside it, as Windows Installer moves one
// aside, so that an installation made again before the restart keeps its own file of that name.
// Windows and Wine rename a running program or a loaded module, but not a file held open without
// delete sharing: that one goes under its own name. Empty when it was not renamed.
static CString MoveAside(LPCWSTR pszPath)
{
    for (int n = 1; n < 100; ++n) {
        WCHAR suffix[8];
        ::wsprintfW(suffix, L".~%d", n);
        const CString aside = CString(pszPath) + suffix;
        if (::MoveFileExW(pszPath, aside, 0)) return aside;
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) break;
    }
    return CString();
}

static Outcome ScheduleInUse(LPCWSTR pszPath, Leftovers& left)
{
    const CString aside = MoveAside(pszPath);
    if (aside.IsEmpty()) return ScheduleAtRestart(L"file", pszPath, left);
    LogLine(L"renamed", L"file", pszPath, aside);
    const Outcome outcome = ScheduleAtRestart(L"file", aside, left);
    // What stays is named as the manifest lists it.
    if (outcome == REMOVAL_FAILED && ::MoveFileExW(aside, pszPath, 0)) LogLine(L"renamed back", L"file", aside, pszPath);
    return outcome;
}

static Outcome RemoveFile(LPCWSTR pszPath, Leftovers& left)
{
    DWORD error;
    if (IsGone(::DeleteFileW(pszPath), L"file", pszPath, error)) return REMOVED;
    if (IsInUse(pszPath, error)) return ScheduleInUse(pszPath, left);
    LogLine(L"stayed", L"file", CErrorText(error), pszPath);
    return REMOVAL_FAILED;
}

// Only empty folders go: nothing here ever descends into one. A folder that another process holds
// (as its current folder) or that still holds what goes at the next restart goes after the restart;
// one that holds only what goes after exit is left to the script. One that stays for what the user
// put in it is no failure.
static Outcome RemoveFolder(LPCWSTR pszPath, Leftovers& left)
{
    DWORD error;
    if (IsGone(::RemoveDirectoryW(pszPath), L"dir", pszPath, error)) return REMOVED;
    const CString key = PathKey(pszPath);
    const bool held = error == ERROR_SHARING_VIOLATION;
    const Remains remains = held || error == ERROR_DIR_NOT_EMPTY ? WhatRemains(key, left) : REMAINS_OTHER;
    if (remains == REMAINS_AT_RESTART || (held && remains == REMAINS_AFTER_EXIT))
        return ScheduleAtRestart(L"dir", pszPath, left);
    if (remains == REMAINS_AFTER_EXIT) {
        left.afterExit.AddTail(key);
        return REMOVED;
    }
    LogLine(L"stayed", L"dir", CErrorText(error), pszPath);
    return held || error == ERROR_DIR_NOT_EMPTY ? REMOVED : REMOVAL_FAILED;
}

// Nothing is deleted, removed or scheduled through a link that a user could have made on the
// path: what it leads to was never listed. The entry stays, as a failure.
static bool LinkInTheWay(LPCWSTR pszKind, LPCWSTR pszPath, CString& checked)
{
    const CString link = LinkInPath(pszPath, checked);
    if (link.IsEmpty()) return false;
    LogLine(L"stayed", pszKind, CString(L"not followed: a link in its path at ") + link, pszPath);
    return true;
}

Outcome RemoveListed(const CStringList& files, const CStringList& dirs, HWND hwndProgress, Leftovers& left)
{
    AddOwnFiles(left);
    Outcome outcome = REMOVED;
    CString checked;
    for (INT_PTR i = 0; i < files.GetCount() + dirs.GetCount(); ++i) {
        const bool file = i < files.GetCount();
        const CString& path = file ? files.GetAt(files.FindIndex(i)) : dirs.GetAt(dirs.FindIndex(i - files.GetCount()));
        const Outcome entry = LinkInTheWay(file ? L"file" : L"dir", path, checked) ? REMOVAL_FAILED
                              : file ? RemoveFile(path, left) : RemoveFolder(path, left);
        if (entry == REMOVAL_FAILED) left.stayed.AddTail(path);
        outcome = Worse(outcome, entry);
        if (hwndProgress) ::PostMessageW(hwndProgress, WM_UNINST_STEP, 0, 0);
    }
    return outcome;
}
