#include "uninstall/Manifest.h"
#include "app/RemovalLog.h"

static bool IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

CString GetModuleDirectory()
{
    WCHAR path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return CString();
    return DirectoryOfPath(path);
}

CString DirectoryOfPath(LPCWSTR pszPath)
{
    int end = pszPath[0] != L'\0' && pszPath[1] == L':' ? 2 : 0;
    for (int i = 0; pszPath[i]; ++i)
        if (IsSeparator(pszPath[i])) end = i + 1;
    return CString(pszPath, end);
}

bool FileExists(LPCWSTR pszPath)
{
    return ::GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES;
}

bool IsFullyQualifiedPath(LPCWSTR p)
{
    const bool letter = (p[0] >= L'A' && p[0] <= L'Z') || (p[0] >= L'a' && p[0] <= L'z');
    if (letter && p[1] == L':' && IsSeparator(p[2])) return true;
    if (!IsSeparator(p[0]) || !IsSeparator(p[1])) return false;

    int i = 2;
    const int server = i;
    while (p[i] && !IsSeparator(p[i])) ++i;
    if (i == server || !p[i]) return false;
    const int share = ++i;
    while (p[i] && !IsSeparator(p[i])) ++i;
    return i > share;
}

ManifestValue ReadManifestKey(LPCWSTR pszManifest, LPCWSTR pszSection, int index,
                              WCHAR (&value)[MANIFEST_VALUE_SIZE])
{
    WCHAR key[12];
    ::wsprintfW(key, L"%d", index);
    // The reader cuts a long value to fit the buffer and then drops the last character left of a
    // quoted one as its closing mark, so a cut value can come back two characters short of the
    // buffer. With twice a path's room, whatever was cut is still too long to pass for a path.
    const DWORD length = ::GetPrivateProfileStringW(pszSection, key, L"", value, MANIFEST_VALUE_SIZE, pszManifest);
    if (length == 0) return MV_END;
    if (length >= MAX_PATH) return MV_TOO_LONG;
    return IsFullyQualifiedPath(value) ? MV_PATH : MV_NOT_FULLY_QUALIFIED;
}

void ReadManifestSection(LPCWSTR pszManifest, LPCWSTR pszSection, CStringList& list)
{
    for (int index = 0; index < MANIFEST_KEY_LIMIT; ++index) {
        WCHAR value[MANIFEST_VALUE_SIZE];
        const ManifestValue kind = ReadManifestKey(pszManifest, pszSection, index, value);
        if (kind == MV_END) return;
        if (kind == MV_PATH) list.AddTail(value);
        else LogLine(L"skipped", pszSection, kind == MV_TOO_LONG ? L"too long" : L"not fully qualified", value);
    }
}
