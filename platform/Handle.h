#pragma once
#include <windows.h>

// Owns a kernel handle and closes it when it goes; cannot be copied.
class CHandle {
public:
    explicit CHandle(HANDLE h) : m_h(h) {}
    ~CHandle() { if (IsValid()) ::CloseHandle(m_h); }
    CHandle(const CHandle&) = delete;
    CHandle& operator=(const CHandle&) = delete;

    bool IsValid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return m_h; }

private:
    HANDLE m_h;
};
