#pragma once
#include <objbase.h>

// COM on the calling thread, apartment-threaded, for the life of the object.
class CComInit {
public:
    CComInit() : m_hr(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~CComInit() { if (SUCCEEDED(m_hr)) ::CoUninitialize(); }
    CComInit(const CComInit&) = delete;
    CComInit& operator=(const CComInit&) = delete;

private:
    HRESULT m_hr;
};

// Owns one reference to an interface and releases it when it goes; cannot be copied.
template <class T>
class CComPtr {
public:
    CComPtr() = default;
    ~CComPtr() { if (p) p->Release(); }
    CComPtr(const CComPtr&) = delete;
    CComPtr& operator=(const CComPtr&) = delete;

    T* operator->() const { return p; }
    // Where a call that hands out a reference stores it.
    T** operator&() { return &p; }
    void** Out() { return reinterpret_cast<void**>(&p); }

    T* p = nullptr;
};

// Owns a BSTR and frees it when it goes.
class CComBSTR {
public:
    explicit CComBSTR(LPCWSTR psz) : m_str(::SysAllocString(psz)) {}
    ~CComBSTR() { ::SysFreeString(m_str); }
    CComBSTR(const CComBSTR&) = delete;
    CComBSTR& operator=(const CComBSTR&) = delete;

    operator BSTR() const { return m_str; }

private:
    BSTR m_str;
};
