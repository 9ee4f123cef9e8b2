#pragma once
#include "platform/Handle.h"

// A file written as text: each line feed reaches the file as CR LF. The program is built without
// exceptions, so every failure comes back as a result.
class CStdioFile {
public:
    // Creates the file where no file of that name is: write access only, no sharing.
    explicit CStdioFile(LPCWSTR pszFileName);

    bool IsOpen() const { return m_file.IsValid(); }
    bool Write(const char* pch, UINT nCount);
    bool Close() { return m_file.Close(); }

private:
    bool WriteBytes(const char* pch, UINT nCount);

    CHandle m_file;
};
