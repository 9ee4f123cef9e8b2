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

    // Closes the handle now and reports whether that worked; nothing is left to close later.
    bool Close()
    {
        const bool ok = IsValid() && ::CloseHandle(m_h);
        m_h = nullptr;
        return ok;
    }

private:
    HANDLE m_h;
};
