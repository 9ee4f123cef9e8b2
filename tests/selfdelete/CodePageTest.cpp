// The conversion code page: chosen once from the system's version, then kept.
#include "selfdelete/CodePage.h"
#include "ImportHook.h"
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

// This program's import slots of the two functions the choice asks the system.
IMPORT_SLOT(GetVersionExW, 4);
IMPORT_SLOT(GetLocaleInfoA, 16);

namespace {

struct FakeVersion {
    static DWORD platform, major;
    static int calls;
    static BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info)
    {
        ++calls;
        EXPECT_EQ(sizeof(OSVERSIONINFOW), info->dwOSVersionInfoSize);
        info->dwPlatformId = platform;
        info->dwMajorVersion = major;
        return TRUE;
    }
};
DWORD FakeVersion::platform, FakeVersion::major;
int FakeVersion::calls;

struct FakeLocale {
    static const char* text;  // null: the call fails
    static int WINAPI GetLocaleInfoA(LCID, LCTYPE type, LPSTR data, int capacity)
    {
        EXPECT_EQ(static_cast<LCTYPE>(LOCALE_IDEFAULTANSICODEPAGE), type);
        EXPECT_EQ(7, capacity);
        if (!text) return 0;
        lstrcpynA(data, text, capacity);
        return lstrlenA(data) + 1;
    }
};
const char* FakeLocale::text;

}  // namespace

TEST(ConversionCodePage, RunsUnderTheExpectedLocale)
{
    // ctest names the code page of each of its runs; run by itself, the program takes the system's.
    const char* expected = std::getenv("UNINST_EXPECT_ACP");
    if (!expected) GTEST_SKIP() << "the system's ANSI code page is " << ::GetACP() << ", OEM " << ::GetOEMCP();
    EXPECT_EQ(static_cast<UINT>(std::atoi(expected)), ::GetACP());
}

TEST(ConversionCodePage, ChoosesOnceByPlatformAndVersion)
{
    struct Case { DWORD platform, major; PFNCODEPAGE chosen; UINT codePage; };
    const Case cases[] = {
        { VER_PLATFORM_WIN32_NT, 5, ThreadCodePage, CP_THREAD_ACP },
        { VER_PLATFORM_WIN32_NT, 10, ThreadCodePage, CP_THREAD_ACP },
        { VER_PLATFORM_WIN32_NT, 4, LocaleCodePage, ::GetACP() },
        { VER_PLATFORM_WIN32_WINDOWS, 4, LocaleCodePage, ::GetACP() },
        { VER_PLATFORM_WIN32_WINDOWS, 5, LocaleCodePage, ::GetACP() },
    };
    ImportHook hook(importGetVersionExW, FakeVersion::GetVersionExW);
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "platform " << c.platform << ", major " << c.major);
        FakeVersion::platform = c.platform;
        FakeVersion::major = c.major;
        FakeVersion::calls = 0;
        g_pfnCodePage = ChooseCodePage;
        for (int i = 0; i < 5; ++i) EXPECT_EQ(c.codePage, ConversionCodePage());
        EXPECT_EQ(1, FakeVersion::calls);
        EXPECT_EQ(c.chosen, g_pfnCodePage);
    }
    g_pfnCodePage = ChooseCodePage;
}

TEST(ConversionCodePage, TheRealSystemIsNt5OrLater)
{
    g_pfnCodePage = ChooseCodePage;
    EXPECT_EQ(static_cast<UINT>(CP_THREAD_ACP), ConversionCodePage());
    EXPECT_EQ(ThreadCodePage, g_pfnCodePage);
}

TEST(LocaleCodePage, ReadsTheLocaleTextAsDecimal)
{
    // The thread's locale itself names the ANSI code page of this run.
    EXPECT_EQ(::GetACP(), LocaleCodePage());

    ImportHook hook(importGetLocaleInfoA, FakeLocale::GetLocaleInfoA);
    const struct { const char* text; UINT codePage; } cases[] = {
        { "936", 936 }, { "1252", 1252 }, { "65001", 65001 }, { "000437", 437 },
        // No character is checked for being a digit: 'a' counts as 'a' - '0' = 49.
        { "12a", 169 },
        { "0", ::GetACP() }, { "", ::GetACP() }, { nullptr, ::GetACP() },
    };
    for (const auto& c : cases) {
        FakeLocale::text = c.text;
        EXPECT_EQ(c.codePage, LocaleCodePage()) << (c.text ? c.text : "(failed)");
    }
}
