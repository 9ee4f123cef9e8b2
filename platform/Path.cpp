#include "platform/Path.h"

bool IsSeparator(WCHAR c)
{
    return c == L'\\' || c == L'/';
}

CString DirectoryOfPath(LPCWSTR pszPath)
{
    int end = pszPath[0] != L'\0' && pszPath[1] == L':' ? 2 : 0;
    for (int i = 0; pszPath[i]; ++i)
        if (IsSeparator(pszPath[i])) end = i + 1;
    return CString(pszPath, end);
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
