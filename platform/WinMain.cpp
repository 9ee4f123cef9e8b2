#include "platform/WinApp.h"

// Uninst.exe starts here, without the C runtime's start-up code, which would be a tenth of it: the
// program reads no arguments through the runtime, sets no locale and imports no data (the link
// refuses auto-imports, which only that code would fix up). The static objects are constructed as
// the runtime would, from the linker's list of their constructors (-1 first, 0 last), run from the
// end. They are never destroyed, so none is registered: the end of the process frees what they
// hold and closes their handles.
extern "C" void (*__CTOR_LIST__[])();

extern "C" int atexit(void (*)())
{
    return 0;
}

// What Windows looks up by name, it looks up in the system folder only: never in Uninst.exe's own
// folder or the current one, where a user could have put a DLL of the same name. Junctions and links
// that a user made are not followed, where Windows can refuse them (Windows 11). All before any
// constructor, thread or COM runs; each call is looked up, for Windows XP has none of them.
static void HardenProcess()
{
    const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
    typedef BOOL(WINAPI * PFNSETDEFAULTDLLDIRECTORIES)(DWORD);
    typedef BOOL(WINAPI * PFNSETDLLDIRECTORYW)(LPCWSTR);
    typedef BOOL(WINAPI * PFNSETPROCESSMITIGATIONPOLICY)(int, PVOID, SIZE_T);
    const auto setDefaultDllDirectories = reinterpret_cast<PFNSETDEFAULTDLLDIRECTORIES>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDefaultDllDirectories")));
    const auto setDllDirectory =
        reinterpret_cast<PFNSETDLLDIRECTORYW>(reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetDllDirectoryW")));
    const auto setMitigationPolicy = reinterpret_cast<PFNSETPROCESSMITIGATIONPOLICY>(
        reinterpret_cast<void*>(::GetProcAddress(kernel32, "SetProcessMitigationPolicy")));
    const DWORD LOAD_LIBRARY_SEARCH_SYSTEM32_ONLY = 0x800;
    if (!setDefaultDllDirectories || !setDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32_ONLY)) {
        if (setDllDirectory) setDllDirectory(L"");
    }
    // ProcessRedirectionTrustPolicy, enforced.
    const int REDIRECTION_TRUST_POLICY = 16;
    DWORD enforce = 1;
    if (setMitigationPolicy) setMitigationPolicy(REDIRECTION_TRUST_POLICY, &enforce, sizeof enforce);
    // The current folder is searched before PATH; and one inside the installation would keep it.
    WCHAR system[MAX_PATH];
    if (::GetSystemDirectoryW(system, MAX_PATH)) ::SetCurrentDirectoryW(system);
}

extern "C" __attribute__((force_align_arg_pointer)) void WinMainEntry()
{
    HardenProcess();
    int n = 1;
    while (__CTOR_LIST__[n]) ++n;
    while (--n > 0) __CTOR_LIST__[n]();
    ::ExitProcess(AfxWinMain());
}
