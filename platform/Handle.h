#pragma once
#include <windows.h>

// Owns a handle and gives it back with Release when it goes; cannot be copied.
template <BOOL(WINAPI* Release)(HANDLE)>
class CHandleOf {
public:
    explicit CHandleOf(HANDLE h) : m_h(h) {}
    ~CHandleOf() { if (IsValid()) Release(m_h); }
    CHandleOf(const CHandleOf&) = delete;
    CHandleOf& operator=(const CHandleOf&) = delete;

    bool IsValid() const { return m_h && m_h != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return m_h; }
    void Attach(HANDLE h) { Close(); m_h = h; }
    // Hands the handle over to the caller; nothing is left to close.
    HANDLE Detach()
    {
        const HANDLE h = m_h;
        m_h = nullptr;
        return h;
    }

    // Closes the handle now and reports whether that worked; nothing is left to close later.
    bool Close()
    {
        const bool ok = IsValid() && Release(m_h);
        m_h = nullptr;
        return ok;
    }

private:
    HANDLE m_h;
};

// A kernel object.
using CHandle = CHandleOf<::CloseHandle>;
// A directory search (FindFirstFileW).
using CFindHandle = CHandleOf<::FindClose>;
