// The entry of a test program whose tests each need a process of their own: run as a whole, it
// starts itself once per test, with the same command line and that test's filter, and fails when
// any of them fails. Given a filter or asked for the list, it is a plain GoogleTest program.
#include "StartInJob.h"
#include <gtest/gtest.h>
#include <cstdio>
#include <string>
#include <windows.h>

namespace {

DWORD RunAlone(const std::string& test)
{
    std::wstring commandLine = ::GetCommandLineW() + std::wstring(L" --gtest_filter=") +
                               std::wstring(test.begin(), test.end());
    STARTUPINFOW si = {sizeof si};
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    si.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    si.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION pi = {};
    std::fflush(nullptr);
    if (!CreateProcessInJob(nullptr, &commandLine[0], TRUE, 0, nullptr, &si, &pi)) {
        std::printf("cannot start the test %s alone: error %lu\n", test.c_str(), ::GetLastError());
        return 1;
    }
    DWORD code = 1;
    ::WaitForSingleObject(pi.hProcess, INFINITE);
    ::GetExitCodeProcess(pi.hProcess, &code);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    return code;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests) || GTEST_FLAG_GET(filter) != "*") return RUN_ALL_TESTS();

    const testing::UnitTest& all = *testing::UnitTest::GetInstance();
    int tests = 0, failed = 0;
    for (int i = 0; i < all.total_test_suite_count(); ++i) {
        const testing::TestSuite& suite = *all.GetTestSuite(i);
        for (int j = 0; j < suite.total_test_count(); ++j, ++tests) {
            const std::string test = std::string(suite.name()) + "." + suite.GetTestInfo(j)->name();
            if (RunAlone(test) != 0) {
                std::printf("[  ALONE   ] FAILED: %s\n", test.c_str());
                ++failed;
            }
        }
    }
    std::printf("[  ALONE   ] %d tests, each in a process of its own: %d failed\n", tests, failed);
    return failed ? 1 : 0;
}
