#include "platform/StdioFile.h"

bool CStdioFile::Write(const char* pch, UINT nCount)
{
    UINT start = 0;
    for (UINT i = 0; i < nCount; ++i) {
        if (pch[i] != '\n') continue;
        if (!WriteBytes(pch + start, i - start) || !WriteBytes("\r\n", 2)) return false;
        start = i + 1;
    }
    return WriteBytes(pch + start, nCount - start);
}

bool CStdioFile::WriteBytes(const char* pch, UINT nCount)
{
    DWORD written;
    return ::WriteFile(m_file, pch, nCount, &written, nullptr) && written == nCount;
}
