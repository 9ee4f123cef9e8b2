#pragma once
#include "platform/Handle.h"

// A file written as text: each line feed reaches the file as CR LF. The program is built without
// exceptions, so every failure comes back as a result.
class CStdioFile {
public:
    CStdioFile() : m_file(nullptr) {}

    // Creates the file where no file of that name is, with the given security (null: the folder's):
    // write access; others may read it or delete it, never write into it while it is open.
    bool Open(LPCWSTR pszFileName, LPSECURITY_ATTRIBUTES pSecurity = nullptr)
    {
        m_file.Attach(::CreateFileW(pszFileName, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, pSecurity,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        return IsOpen();
    }
    bool IsOpen() const { return m_file.IsValid(); }
    operator HANDLE() const { return m_file; }
    bool Write(const char* pch, UINT nCount);
    bool Close() { return m_file.Close(); }

private:
    bool WriteBytes(const char* pch, UINT nCount);

    CHandle m_file;
};
