#include "uninstall/DiskSite.h"
#include "platform/Handle.h"
#include "platform/Path.h"
#include "ui/UninstallerDialog.h"
#include "uninstall/LinkGuard.h"

static DWORD ErrorOf(BOOL done)
{
    return done ? ERROR_SUCCESS : ::GetLastError();
}

DWORD CDiskSite::DeleteFile(LPCWSTR pszPath) { return ErrorOf(::DeleteFileW(pszPath)); }
DWORD CDiskSite::RemoveDirectory(LPCWSTR pszPath) { return ErrorOf(::RemoveDirectoryW(pszPath)); }
DWORD CDiskSite::MoveFile(LPCWSTR pszFrom, LPCWSTR pszTo) { return ErrorOf(::MoveFileExW(pszFrom, pszTo, 0)); }
DWORD CDiskSite::DeleteAtRestart(LPCWSTR pszPath)
{
    return ErrorOf(::MoveFileExW(pszPath, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT));
}

// Held open by another program without delete sharing, or locked; or the image of a running
// program or a loaded module, which refuses deletion even where the user's rights allow it: that
// one can still be opened for deletion. A file kept by its read-only attribute or its permissions
// is not in use: a restart would delete it as the system, which this user could not.
bool CDiskSite::IsInUse(LPCWSTR pszPath, DWORD error)
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

CString CDiskSite::LinkInPath(LPCWSTR pszPath) { return ::LinkInPath(pszPath, m_checked); }
CString CDiskSite::Key(LPCWSTR pszPath) { return PathKey(pszPath); }
bool CDiskSite::Exists(LPCWSTR pszPath) { return ::GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES; }

bool CDiskSite::List(LPCWSTR pszFolder, CStringList& keys)
{
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW(CString(pszFolder) + L"\\*", &data));
    if (!find.IsValid()) return false;
    do {
        if (::lstrcmpW(data.cFileName, L".") != 0 && ::lstrcmpW(data.cFileName, L"..") != 0)
            keys.AddTail(PathKey(CString(pszFolder) + L"\\" + data.cFileName));
    } while (::FindNextFileW(find, &data));
    return true;
}

void CDiskSite::Step()
{
    if (m_hwndProgress) ::PostMessageW(m_hwndProgress, WM_UNINST_STEP, 0, 0);
}
