// The running-product check against real processes of this Wine prefix: copies of a stand-in
// program started under the names each case needs.
#include "StartInJob.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/Manifest.h"
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every listed process as its id and image name, in snapshot order.
std::vector<std::pair<DWORD, std::wstring>> Snapshot()
{
    std::vector<std::pair<DWORD, std::wstring>> processes;
    HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry = {sizeof entry};
    for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry))
        processes.emplace_back(entry.th32ProcessID, entry.szExeFile);
    ::CloseHandle(snapshot);
    return processes;
}

class ProcessCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_root = temp + std::wstring(L"QuorillProcesses-") + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_root.c_str(), nullptr);
    }
    void TearDown() override
    {
        for (const PROCESS_INFORMATION& pi : m_started) {
            ::TerminateProcess(pi.hProcess, 0);
            ::WaitForSingleObject(pi.hProcess, 5000);
            ::CloseHandle(pi.hProcess);
            ::CloseHandle(pi.hThread);
        }
        for (const std::wstring& path : m_copies) {
            ::DeleteFileW(path.c_str());
            ::RemoveDirectoryW(path.substr(0, path.rfind(L'\\')).c_str());
        }
        ::RemoveDirectoryW(m_root.c_str());
    }

    // Starts a copy of the stand-in named `name` from its own directory and returns its id once a
    // snapshot lists it under that name.
    DWORD Start(const std::wstring& name)
    {
        const std::wstring dir = m_root + L"\\" + std::to_wstring(m_copies.size());
        const std::wstring path = dir + L"\\" + name;
        ::CreateDirectoryW(dir.c_str(), nullptr);
        const CString standIn = GetModuleDirectory() + L"StandIn.exe";
        EXPECT_TRUE(::CopyFileW(standIn, path.c_str(), FALSE)) << path;
        m_copies.push_back(path);

        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        std::wstring commandLine = L"\"" + path + L"\"";
        EXPECT_TRUE(CreateProcessInJob(path.c_str(), &commandLine[0], FALSE, 0, nullptr, &si, &pi)) << path;
        if (!pi.hProcess) return 0;
        m_started.push_back(pi);
        for (int i = 0; i < 100; ++i) {
            for (const auto& process : Snapshot())
                if (process == std::make_pair(pi.dwProcessId, name)) return pi.dwProcessId;
            ::Sleep(50);
        }
        ADD_FAILURE() << "not listed as " << ::testing::PrintToString(name);
        return 0;
    }

    std::wstring m_root;
    std::vector<std::wstring> m_copies;
    std::vector<PROCESS_INFORMATION> m_started;
};

}  // namespace

TEST_F(ProcessCheck, MatchesTheWholeImageNameInAnyAsciiCase)
{
    EXPECT_EQ(0u, FindProcessByName(L"Quorill.exe"));
    const DWORD id = Start(L"Quorill.exe");
    ASSERT_NE(0u, id);
    for (LPCWSTR name : {L"Quorill.exe", L"QUORILL.EXE", L"quorill.Exe"})
        EXPECT_EQ(id, FindProcessByName(name)) << name;
    for (LPCWSTR name : {L"Quorill", L"Quorill.ex", L"uorill.exe", L"Quorill.exe ", L"*.exe", L""})
        EXPECT_EQ(0u, FindProcessByName(name)) << name;
    EXPECT_EQ(0u, FindProcessByName(nullptr));
}

TEST_F(ProcessCheck, NoMatchForLongerOrShorterImageNames)
{
    const DWORD old = Start(L"Quorill.exe.old");
    const DWORD bare = Start(L"Quorill");
    ASSERT_NE(0u, old);
    ASSERT_NE(0u, bare);
    EXPECT_EQ(0u, FindProcessByName(L"Quorill.exe"));
    EXPECT_EQ(bare, FindProcessByName(L"QUORILL"));
    EXPECT_EQ(old, FindProcessByName(L"quorill.exe.OLD"));
}

TEST_F(ProcessCheck, FirstOfTwoInSnapshotOrderWins)
{
    const DWORD upper = Start(L"QUORILL.EXE");
    const DWORD lower = Start(L"Quorill.exe");
    ASSERT_NE(0u, upper);
    ASSERT_NE(0u, lower);
    DWORD first = 0;
    for (const auto& process : Snapshot())
        if (!first && (process.first == upper || process.first == lower)) first = process.first;
    EXPECT_EQ(first, FindProcessByName(L"Quorill.exe"));
    EXPECT_EQ(first, FindProcessByName(L"QUORILL.EXE"));
}

TEST_F(ProcessCheck, FoldsNoNonAsciiLetter)
{
    const DWORD id = Start(L"Quorillä.exe");
    ASSERT_NE(0u, id);
    EXPECT_EQ(id, FindProcessByName(L"QUORILLä.EXE"));
    EXPECT_EQ(0u, FindProcessByName(L"QuorillÄ.exe"));
}

// Wine reports no handle count, but it hands out the lowest free handle value: a handle made after
// a call has the value of one made and closed before it only when the call kept no handle open.
static HANDLE NextFreeHandle()
{
    const HANDLE h = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    ::CloseHandle(h);
    return h;
}

TEST_F(ProcessCheck, ClosesTheSnapshotOnEveryPath)
{
    const DWORD id = Start(L"Quorill.exe");
    ASSERT_NE(0u, id);
    const HANDLE free = NextFreeHandle();
    EXPECT_EQ(id, FindProcessByName(L"Quorill.exe"));
    EXPECT_EQ(free, NextFreeHandle());
    EXPECT_EQ(0u, FindProcessByName(L"Zembrat.exe"));
    EXPECT_EQ(free, NextFreeHandle());
}
