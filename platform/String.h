#pragma once
#include <windows.h>

// A wide string that owns a copy of its text on the process heap. An allocation failure ends the
// process, as the framework's uncaught memory exception would.
class CString {
public:
    CString() = default;
    CString(LPCWSTR psz) : CString(psz, ::lstrlenW(psz)) {}
    CString(LPCWSTR pch, int nLength);
    CString(const CString& src) : CString(src.m_pszData, src.m_nLength) {}
    CString& operator=(const CString& src);
    ~CString();

    int GetLength() const { return m_nLength; }
    bool IsEmpty() const { return m_nLength == 0; }
    operator LPCWSTR() const { return m_pszData ? m_pszData : L""; }

    CString& operator+=(LPCWSTR psz);

private:
    LPWSTR m_pszData = nullptr;
    int m_nLength = 0;
};

inline CString operator+(const CString& str, LPCWSTR psz)
{
    CString result(str);
    result += psz;
    return result;
}
