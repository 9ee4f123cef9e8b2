#include "selfdelete/CodePage.h"

// Null rather than ChooseCodePage: Uninst.exe then has no initialised data, which would take a
// section of its own.
PFNCODEPAGE volatile g_pfnCodePage;

UINT ConversionCodePage()
{
    const PFNCODEPAGE chooser = g_pfnCodePage;
    return chooser ? chooser() : ChooseCodePage();
}

// Windows 2000 and later convert in the calling thread's code page themselves; older systems are
// told the number read from the thread's locale. Threads that meet here together choose alike.
UINT ChooseCodePage()
{
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    ::GetVersionExW(&version);
    const bool nt5 = version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= 5;
    ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&g_pfnCodePage),
                                 reinterpret_cast<PVOID>(nt5 ? ThreadCodePage : LocaleCodePage));
    return g_pfnCodePage();
}

UINT ThreadCodePage()
{
    return CP_THREAD_ACP;
}

UINT LocaleCodePage()
{
    char text[7];
    UINT codePage = 0;
    if (::GetLocaleInfoA(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, text, 7))
        for (const char* p = text; *p; ++p) codePage = codePage * 10 + (*p - '0');
    return codePage ? codePage : ::GetACP();
}
