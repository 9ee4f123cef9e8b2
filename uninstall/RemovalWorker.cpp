#include "uninstall/RemovalWorker.h"
#include "DownloadPageUrl.h"
#include "app/RemovalLog.h"
#include "app/UninstallerApp.h"
#include "platform/Handle.h"
#include "platform/Path.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/DownloadPage.h"

static const WCHAR UNINSTALL_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";
static const WCHAR UNINSTALL_KEY_NAME[] = L"HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

// What became of the removal: the exit code of a silent run.
static const DWORD DONE = ERROR_SUCCESS;
static const DWORD DONE_AT_RESTART = ERROR_SUCCESS_REBOOT_REQUIRED;  // 3010
static const DWORD FAILED = ERROR_INSTALL_FAILURE;                  // 1603

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

static bool ScheduleAtRestart(LPCWSTR pszPath)
{
    return ::MoveFileExW(pszPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

enum Remains { REMAINS_OTHER, REMAINS_AFTER_EXIT, REMAINS_AT_RESTART };

// What a listed folder that is not empty still holds: only what goes after exit (Uninst.exe, and
// listed folders that hold nothing else), also something that goes at the next restart, or
// anything else.
static Remains WhatRemains(LPCWSTR pszKey, const CStringList& atRestart, const CStringList& afterExit)
{
    if (!*pszKey) return REMAINS_OTHER;
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW(CString(pszKey) + L"\\*", &data));
    if (!find.IsValid()) return REMAINS_OTHER;
    Remains remains = REMAINS_AFTER_EXIT;
    do {
        if (::lstrcmpW(data.cFileName, L".") == 0 || ::lstrcmpW(data.cFileName, L"..") == 0) continue;
        const CString child = PathKey(CString(pszKey) + L"\\" + data.cFileName);
        if (HasKey(atRestart, child)) remains = REMAINS_AT_RESTART;
        else if (!HasKey(afterExit, child)) return REMAINS_OTHER;
    } while (::FindNextFileW(find, &data));
    return remains;
}

static DWORD RemoveFile(LPCWSTR pszPath, CStringList& atRestart)
{
    DWORD error;
    if (IsGone(::DeleteFileW(pszPath), L"file", pszPath, error)) return DONE;
    if (IsInUse(pszPath, error) && ScheduleAtRestart(pszPath)) {
        atRestart.AddTail(PathKey(pszPath));
        LogLine(L"scheduled at restart", L"file", pszPath);
        return DONE_AT_RESTART;
    }
    LogLine(L"stayed", L"file", CErrorText(error), pszPath);
    return FAILED;
}

// Only empty folders go: nothing here ever descends into one. A folder that still holds what
// goes at the next restart goes after it; one that holds only Uninst.exe is left to the script.
// Neither is a failure, nor is a folder that stays because it holds something unlisted.
static DWORD RemoveFolder(LPCWSTR pszPath, CStringList& atRestart, CStringList& afterExit)
{
    DWORD error;
    if (IsGone(::RemoveDirectoryW(pszPath), L"dir", pszPath, error)) return DONE;
    const CString key = PathKey(pszPath);
    const Remains remains = error == ERROR_DIR_NOT_EMPTY ? WhatRemains(key, atRestart, afterExit) : REMAINS_OTHER;
    if (remains == REMAINS_AT_RESTART && ScheduleAtRestart(pszPath)) {
        atRestart.AddTail(key);
        LogLine(L"scheduled at restart", L"dir", pszPath);
        return DONE_AT_RESTART;
    }
    if (remains == REMAINS_AFTER_EXIT) {
        afterExit.AddTail(key);
        LogLine(L"after exit", L"dir", pszPath);
        return DONE;
    }
    LogLine(L"stayed", L"dir", CErrorText(error), pszPath);
    return DONE;
}

static DWORD DeleteUninstallKey()
{
    HKEY hKey;
    const LONG opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_ALL_ACCESS, &hKey);
    if (opened == ERROR_FILE_NOT_FOUND) {
        LogLine(L"key", L"absent", UNINSTALL_KEY_NAME);
        return DONE;
    }
    LONG deleted = opened;
    if (opened == ERROR_SUCCESS) {
        ::RegCloseKey(hKey);
        deleted = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    }
    if (deleted == ERROR_SUCCESS) {
        LogLine(L"key", L"deleted", UNINSTALL_KEY_NAME);
        return DONE;
    }
    LogLine(L"key", L"stayed", CErrorText(deleted), UNINSTALL_KEY_NAME);
    return FAILED;
}

static DWORD Worse(DWORD a, DWORD b)
{
    return a == FAILED || b == FAILED ? FAILED : a == DONE_AT_RESTART || b == DONE_AT_RESTART ? DONE_AT_RESTART : DONE;
}

DWORD WINAPI UninstallThreadProc(LPVOID pParam)
{
    const CUninstallerDialog* pDlg = static_cast<CUninstallerDialog*>(pParam);

    // A machine cleaned by a deployment tool has nobody to read the page.
    if (g_silent) {
        LogLine(L"page", L"not opened: silent run", DOWNLOAD_PAGE_URL);
    } else {
        OpenDownloadPage();
    }

    CStringList atRestart, afterExit;
    WCHAR exe[MAX_PATH];
    const DWORD nExe = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    if (nExe > 0 && nExe < MAX_PATH) afterExit.AddTail(PathKey(exe));

    DWORD result = DONE;
    for (INT_PTR i = 0; i < g_fileList.GetCount(); ++i) {
        result = Worse(result, RemoveFile(g_fileList.GetAt(g_fileList.FindIndex(i)), atRestart));
        pDlg->PostMessage(WM_UNINST_STEP);
    }
    for (INT_PTR i = 0; i < g_dirList.GetCount(); ++i) {
        result = Worse(result, RemoveFolder(g_dirList.GetAt(g_dirList.FindIndex(i)), atRestart, afterExit));
        pDlg->PostMessage(WM_UNINST_STEP);
    }

    g_uninstallDone = 1;
    result = Worse(result, DeleteUninstallKey());

    // A user's run ends with 0 whatever happened, as it always has.
    pDlg->PostMessage(WM_QUIT, g_silent ? result : 0);
    return 0;
}
