// A test program that misbehaves as the name it is copied to says, for the kit test, which checks
// that the runner counts each FAILED, saying why: crash_tests.exe crashes in a test, lost_tests.exe
// ends without writing its results, none_tests.exe runs none of its tests and fewer_tests.exe one
// of its two, as a filter that reached them would have it.
#include <gtest/gtest.h>
#include <windows.h>

static std::wstring Name()
{
    wchar_t path[MAX_PATH];
    const std::wstring exe(path, ::GetModuleFileNameW(nullptr, path, MAX_PATH));
    return exe.substr(exe.rfind(L'\\') + 1);
}

TEST(Misbehaving, Passes) {}

TEST(Misbehaving, CrashesAsCrashTests)
{
    if (Name() == L"crash_tests.exe") ::RaiseException(EXCEPTION_ACCESS_VIOLATION, 0, 0, nullptr);
}

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (Name() == L"lost_tests.exe") return 0;
    if (!GTEST_FLAG_GET(list_tests) && Name() == L"none_tests.exe") GTEST_FLAG_SET(filter, "-*");
    if (!GTEST_FLAG_GET(list_tests) && Name() == L"fewer_tests.exe") GTEST_FLAG_SET(filter, "*.Passes");
    return RUN_ALL_TESTS();
}
