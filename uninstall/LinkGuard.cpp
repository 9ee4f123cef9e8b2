#include "uninstall/LinkGuard.h"
#include "platform/Handle.h"
#include "platform/HeapArray.h"
#include "platform/Path.h"
#include <aclapi.h>

// NT SERVICE\TrustedInstaller: S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464.
static const struct {
    BYTE revision, count;
    SID_IDENTIFIER_AUTHORITY authority;
    DWORD parts[6];
} TRUSTED_INSTALLER = {SID_REVISION, 6, {SECURITY_NT_AUTHORITY}, {80, 956008885, 3418522649, 1831038044, 1853292631, 2271478464}};

bool IsTrustedOwner(PSID owner)
{
    return owner &&
           (::IsWellKnownSid(owner, WinLocalSystemSid) || ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid) ||
            ::EqualSid(owner, const_cast<void*>(static_cast<const void*>(&TRUSTED_INSTALLER))));
}

bool IsLink(DWORD attributes, DWORD tag)
{
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && (tag == 0 || IsReparseTagNameSurrogate(tag));
}

// The link itself is asked, never what it leads to; an owner that cannot be read is not trusted.
static bool IsUntrustedLink(LPCWSTR pszFolder)
{
    // The folder's own attributes, read without opening it, clear most folders at once.
    const DWORD attributes = ::GetFileAttributesW(pszFolder);
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
    WIN32_FIND_DATAW data;
    const CFindHandle find(::FindFirstFileW(pszFolder, &data));
    if (!find.IsValid() || !IsLink(data.dwFileAttributes, data.dwReserved0)) return false;
    const CHandle link(::CreateFileW(pszFolder, READ_CONTROL, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                     nullptr));
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!link.IsValid() || ::GetSecurityInfo(link, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                                             nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    const bool trusted = IsTrustedOwner(owner);
    ::LocalFree(descriptor);
    return !trusted;
}

// Where the folders below a drive's root or a share begin: those are no link a user makes.
static int RootLength(LPCWSTR p)
{
    if (p[0] && p[1] == L':') return IsSeparator(p[2]) ? 3 : 2;
    if (!IsSeparator(p[0]) || !IsSeparator(p[1])) return 0;
    int separators = 2, i = 2;
    for (; p[i] && separators < 4; ++i) separators += IsSeparator(p[i]);
    return i;
}

CString LinkInPath(LPCWSTR pszPath, CString& checked)
{
    const CString folder = DirectoryOfPath(pszPath);
    if (folder.IsEmpty() || ::lstrcmpiW(folder, checked) == 0) return CString();
    CHeapArray<WCHAR> path;
    if (!path.Alloc(folder.GetLength() + 1)) return folder;
    ::lstrcpyW(path, folder);
    // The folders that this path shares with the one checked last were found free then.
    const LPCWSTR last = checked;
    int same = 0;
    while (last[same] && last[same] == path[same]) ++same;
    for (int i = RootLength(path) + 1; path[i]; ++i) {
        if (!IsSeparator(path[i]) || i < same) continue;
        const WCHAR separator = path[i];
        path[i] = L'\0';
        const bool link = IsUntrustedLink(path);
        path[i] = separator;
        if (link) return CString(path, i);
    }
    checked = folder;
    return CString();
}
