#include "platform/String.h"

static LPWSTR AllocCopy(LPCWSTR pch, int nLength, int nExtra)
{
    LPWSTR p = static_cast<LPWSTR>(::HeapAlloc(::GetProcessHeap(), HEAP_GENERATE_EXCEPTIONS,
                                               (nLength + nExtra + 1) * sizeof(WCHAR)));
    ::CopyMemory(p, pch, nLength * sizeof(WCHAR));
    p[nLength] = L'\0';
    return p;
}

CString::CString(LPCWSTR pch, int nLength)
{
    if (nLength <= 0) return;
    m_pszData = AllocCopy(pch, nLength, 0);
    m_nLength = nLength;
}

CString::CString(LPCWSTR psz) : CString(psz, ::lstrlenW(psz))
{
}

CString::CString(const char* pszAscii)
{
    const int nLength = ::lstrlenA(pszAscii);
    if (nLength == 0) return;
    m_pszData = AllocCopy(nullptr, 0, nLength);
    for (int i = 0; i <= nLength; ++i) m_pszData[i] = static_cast<unsigned char>(pszAscii[i]);
    m_nLength = nLength;
}

CString& CString::operator=(const CString& src)
{
    if (this != &src) {
        CString copy(src);
        const LPWSTR old = m_pszData;
        const int oldLength = m_nLength;
        m_pszData = copy.m_pszData;
        m_nLength = copy.m_nLength;
        copy.m_pszData = old;
        copy.m_nLength = oldLength;
    }
    return *this;
}

CString::~CString()
{
    if (m_nLength) ::HeapFree(::GetProcessHeap(), 0, m_pszData);
}

CString& CString::operator+=(LPCWSTR psz)
{
    const int nAdd = ::lstrlenW(psz);
    if (nAdd == 0) return *this;
    LPWSTR p = AllocCopy(*this, m_nLength, nAdd);
    ::CopyMemory(p + m_nLength, psz, (nAdd + 1) * sizeof(WCHAR));
    if (m_nLength) ::HeapFree(::GetProcessHeap(), 0, m_pszData);
    m_pszData = p;
    m_nLength += nAdd;
    return *this;
}
