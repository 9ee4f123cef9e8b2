#include "check/PictureSite.h"
#include "check/CanonicalPath.h"
#include "uninstall/LinkGuard.h"

int CPictureSite::Locate(const std::wstring& path, DWORD& error)
{
    // Windows' own answers: "?" and "*" and ".." after \\?\ make no name; "/" after \\?\ and a
    // trailing dot or space name what is not there.
    switch (FaultOf(path)) {
    case PathFault::Unspellable:
    case PathFault::RelativePart: error = ERROR_INVALID_NAME; return -1;
    case PathFault::Slash:
    case PathFault::TrailingDotOrSpace: error = ERROR_FILE_NOT_FOUND; return -1;
    case PathFault::UnknownRoot: error = ERROR_NOT_SUPPORTED; return -1;
    case PathFault::None: break;
    }
    const std::wstring real = RealPath(path, false);
    int n = m_picture.Find(real);
    if (n < 0 && !m_picture.Contains(real)) n = m_picture.Attach(real);
    if (n >= 0 && m_picture.nodes[n].present) return n;
    const int holder = m_picture.Holder(real), parent = m_picture.Find(real.substr(0, real.rfind(L'\\')));
    if (holder >= 0 && m_picture.nodes[holder].unreadable) error = ERROR_NOT_SUPPORTED;
    else error = parent >= 0 && m_picture.nodes[parent].present ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    return -1;
}

DWORD CPictureSite::DeleteFile(LPCWSTR pszPath)
{
    DWORD error;
    const std::wstring path = pszPath;
    const int n = Locate(path, error);
    if (n < 0) return error;
    const Node& node = m_picture.nodes[n];
    if (node.IsDir()) return ERROR_ACCESS_DENIED;
    if (path.back() == L'\\' || path.back() == L'/') return ERROR_INVALID_NAME;
    if (node.IsReadOnly()) return ERROR_ACCESS_DENIED;
    if (m_picture.InUse(n)) return ERROR_SHARING_VIOLATION;
    m_picture.Take(n);
    return ERROR_SUCCESS;
}

// A junction or link goes as itself, whatever its target holds; a directory with the read-only
// attribute stays on Windows, though Wine removes it.
DWORD CPictureSite::RemoveDirectory(LPCWSTR pszPath)
{
    DWORD error;
    const int n = Locate(pszPath, error);
    if (n < 0) return error;
    const Node& node = m_picture.nodes[n];
    if (!node.IsDir()) return ERROR_DIRECTORY;
    if (!(node.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        if (node.unreadable) return ERROR_NOT_SUPPORTED;
        if (node.children > 0) return ERROR_DIR_NOT_EMPTY;
        if (node.IsReadOnly()) return ERROR_ACCESS_DENIED;
    }
    m_picture.Take(n);
    return ERROR_SUCCESS;
}

// Only a file in use is ever moved aside, and the checker sees one in use only as held open without
// delete sharing, which Windows does not rename.
DWORD CPictureSite::MoveFile(LPCWSTR, LPCWSTR)
{
    return ERROR_SHARING_VIOLATION;
}

DWORD CPictureSite::DeleteAtRestart(LPCWSTR pszPath)
{
    DWORD error;
    const int n = Locate(pszPath, error);
    if (n < 0) return error;
    scheduled.push_back(n);
    return ERROR_SUCCESS;
}

bool CPictureSite::IsInUse(LPCWSTR, DWORD error)
{
    return error == ERROR_SHARING_VIOLATION;
}

CString CPictureSite::LinkInPath(LPCWSTR pszPath)
{
    return ::LinkInPath(pszPath, m_checked);
}

CString CPictureSite::Key(LPCWSTR pszPath)
{
    return ::Key(RealPath(pszPath, false)).c_str();
}

bool CPictureSite::List(LPCWSTR pszFolder, CStringList& keys)
{
    DWORD error;
    const int n = Locate(pszFolder, error);
    if (n < 0 || m_picture.nodes[n].unreadable) return false;
    for (size_t c = 0; c < m_picture.nodes.size(); ++c)
        if (m_picture.nodes[c].parent == n && m_picture.nodes[c].present)
            keys.AddTail(::Key(m_picture.nodes[c].path).c_str());
    return true;
}

bool CPictureSite::Exists(LPCWSTR pszPath)
{
    DWORD error;
    return Locate(pszPath, error) >= 0;
}
