#include "uninstall/PathKey.h"
#include "uninstall/Manifest.h"

CString PathKey(LPCWSTR pszPath)
{
    // "C:" or "bin" would name a place by the current folder.
    if (!IsFullyQualifiedPath(pszPath)) return CString();
    WCHAR full[MAX_PATH], key[MAX_PATH];
    DWORD n = ::GetFullPathNameW(pszPath, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return CString();
    n = ::GetLongPathNameW(full, key, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return CString();
    // A drive's root keeps its separator: "C:" alone would be the drive's current folder.
    if (n > 3 && (key[n - 1] == L'\\' || key[n - 1] == L'/')) key[--n] = L'\0';
    ::CharUpperBuffW(key, n);
    return CString(key, static_cast<int>(n));
}

bool HasKey(const CStringList& keys, LPCWSTR pszKey)
{
    for (INT_PTR i = 0; i < keys.GetCount(); ++i)
        if (::lstrcmpW(keys.GetAt(keys.FindIndex(i)), pszKey) == 0) return true;
    return false;
}
