#include "uninstall/Manifest.h"
#include "platform/Handle.h"
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
    for (int index = 0;; ++index) {
        WCHAR value[MANIFEST_VALUE_SIZE];
        const ManifestValue kind = ReadManifestKey(pszManifest, pszSection, index, value);
        if (kind == MV_END) return;
        if (index >= MANIFEST_KEY_LIMIT) {
            WCHAR reason[64];
            ::wsprintfW(reason, L"key %d: past key %d, the last acted on", index, MANIFEST_KEY_LIMIT - 1);
            LogLine(L"skipped", pszSection, reason, value);
        } else if (kind == MV_PATH) {
            list.AddTail(value);
        } else {
            LogLine(L"skipped", pszSection, kind == MV_TOO_LONG ? L"too long" : L"not fully qualified", value);
        }
    }
}

bool IsUtf16Manifest(LPCWSTR pszManifest)
{
    const CHandle file(::CreateFileW(pszManifest, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, 0, nullptr));
    BYTE mark[2];
    DWORD read = 0;
    return file.IsValid() && ::ReadFile(file, mark, 2, &read, nullptr) && read == 2 && mark[0] == 0xFF && mark[1] == 0xFE;
}
