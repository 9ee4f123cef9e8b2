// Points one of this program's import slots at a stand-in for the life of the object: every call
// that the program's code makes to that system function, on any thread, reaches the stand-in.
#pragma once
#include <windows.h>

// The import slot of a system function, by the name and argument bytes the linker gives it.
#define IMPORT_SLOT(function, argumentBytes) \
    extern "C" void* import##function __asm__("__imp__" #function "@" #argumentBytes)

class ImportHook {
public:
    // original, when given, receives the system function itself, for a stand-in that passes a call on.
    template <class F>
    ImportHook(void*& slot, F* standIn, F** original = nullptr) : m_slot(slot), m_original(slot)
    {
        if (original) *original = reinterpret_cast<F*>(slot);
        Set(reinterpret_cast<void*>(standIn));
    }
    ~ImportHook() { Set(m_original); }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;

private:
    void Set(void* p)
    {
        DWORD protect;
        ::VirtualProtect(&m_slot, sizeof m_slot, PAGE_READWRITE, &protect);
        m_slot = p;
        ::VirtualProtect(&m_slot, sizeof m_slot, protect, &protect);
    }
    void*& m_slot;
    void* m_original;
};
