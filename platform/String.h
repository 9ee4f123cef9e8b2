#pragma once
#include <windows.h>

// A wide string that owns a copy of its text on the process heap. An allocation failure ends the
// process, as the framework's uncaught memory exception would.
class CString {
public:
    CString() = default;
    CString(LPCWSTR psz);
    // The program's own ASCII texts, kept narrow at half the size, each character widened.
    explicit CString(const char* pszAscii);
    CString(LPCWSTR pch, int nLength);
    CString(const CString& src) : CString(src.m_pszData, src.m_nLength) {}
    CString& operator=(const CString& src);
    ~CString();

    int GetLength() const { return m_nLength; }
    bool IsEmpty() const { return m_nLength == 0; }
    operator LPCWSTR() const { return m_pszData; }

    CString& operator+=(LPCWSTR psz);

private:
    // Never null, so that reading it takes no test: an empty string shares one text, never freed.
    LPWSTR m_pszData = const_cast<LPWSTR>(L"");
    int m_nLength = 0;
};

inline CString operator+(const CString& str, LPCWSTR psz)
{
    CString result(str);
    result += psz;
    return result;
}
