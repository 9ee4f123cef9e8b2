#pragma once
#include <windows.h>

// Owns an array on the process heap and frees it when it goes; cannot be copied.
template <class T>
class CHeapArray {
public:
    CHeapArray() = default;
    ~CHeapArray() { Free(); }
    CHeapArray(const CHeapArray&) = delete;
    CHeapArray& operator=(const CHeapArray&) = delete;

    // Replaces the array with one of nCount elements; false when there is no memory for it.
    bool Alloc(int nCount)
    {
        Free();
        m_p = static_cast<T*>(::HeapAlloc(::GetProcessHeap(), 0, nCount * sizeof(T)));
        return m_p != nullptr;
    }
    operator T*() const { return m_p; }

private:
    void Free()
    {
        if (m_p) ::HeapFree(::GetProcessHeap(), 0, m_p);
        m_p = nullptr;
    }

    T* m_p = nullptr;
};
