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

extern "C" __attribute__((force_align_arg_pointer)) void WinMainEntry()
{
    int n = 1;
    while (__CTOR_LIST__[n]) ++n;
    while (--n > 0) __CTOR_LIST__[n]();
    ::ExitProcess(AfxWinMain());
}
