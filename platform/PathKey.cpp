#include "platform/PathKey.h"

static bool IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

CString PathKey(LPCWSTR pszPath)
{
    // "C:" or "bin" would name a place by the current folder.
    const bool drive = pszPath[0] && pszPath[1] == L':' && IsSeparator(pszPath[2]);
    if (!drive && !(IsSeparator(pszPath[0]) && IsSeparator(pszPath[1]))) return CString();
    WCHAR full[MAX_PATH], key[MAX_PATH];
    DWORD n = ::GetFullPathNameW(pszPath, MAX_PATH, full, nullptr);
    if (n == 0 || n >= MAX_PATH) return CString();
    n = ::GetLongPathNameW(full, key, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return CString();
    // A drive's root keeps its separator: "C:" alone would be the drive's current folder.
    if (n > 3 && IsSeparator(key[n - 1])) key[--n] = L'\0';
    ::CharUpperBuffW(key, n);
    return CString(key, static_cast<int>(n));
}

bool HasKey(const CStringList& keys, LPCWSTR pszKey)
{
    for (INT_PTR i = 0; i < keys.GetCount(); ++i)
        if (::lstrcmpW(keys.GetAt(keys.FindIndex(i)), pszKey) == 0) return true;
    return false;
}
