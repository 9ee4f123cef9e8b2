#include "uninstall/Manifest.h"
#include "uninstall/RemovalLog.h"

CString GetModulePath()
{
    WCHAR path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? CString() : CString(path);
}

CString GetModuleDirectory()
{
    return DirectoryOfPath(GetModulePath());
}

CString ManifestPath()
{
    const CString directory = GetModuleDirectory();
    return directory.IsEmpty() ? directory : directory + L"Uninst.ini";
}

bool FileExists(LPCWSTR pszPath)
{
    return ::GetFileAttributesW(pszPath) != INVALID_FILE_ATTRIBUTES;
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
