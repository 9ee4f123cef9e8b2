// The manifest reader against manifests written as real files and read by the platform's reader.
#include "RemovalHarness.h"
#include "uninstall/Manifest.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::wstring>;

// A drive path of exactly n characters, its last letter telling entries apart.
std::wstring PathOfLength(size_t n, wchar_t last)
{
    return L"C:\\Quorill\\" + std::wstring(n - 12, L'p') + last;
}

enum class Encoding { Ansi, Utf16 };

class Manifest : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        m_path = temp + std::wstring(L"Uninst-") + std::to_wstring(::GetCurrentProcessId()) + L".ini";
    }
    void TearDown() override { ::DeleteFileW(m_path.c_str()); }

    void Write(const std::wstring& text, Encoding encoding)
    {
        std::string bytes;
        if (encoding == Encoding::Utf16) {
            bytes = "\xFF\xFE";
            bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
        } else {
            bytes.resize(text.size() * 2);
            bytes.resize(::WideCharToMultiByte(CP_ACP, 0, text.data(), static_cast<int>(text.size()), &bytes[0],
                                               static_cast<int>(bytes.size()), nullptr, nullptr));
        }
        HANDLE file = ::CreateFileW(m_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, file);
        DWORD written = 0;
        ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        ::CloseHandle(file);
        ASSERT_EQ(bytes.size(), written);
    }

    Paths Read(LPCWSTR section) const
    {
        CStringList list;
        ReadManifestSection(m_path.c_str(), section, list);
        Paths paths;
        for (INT_PTR i = 0; i < list.GetCount(); ++i)
            paths.push_back(static_cast<LPCWSTR>(list.GetAt(list.FindIndex(i))));
        return paths;
    }

    std::wstring m_path;
};

struct Case {
    const char* what;
    std::wstring text;
    Paths files, dirs;
};

}  // namespace

TEST_F(Manifest, ReadsNumberedKeysAsTheProfileReaderSeesThem)
{
    const Case cases[] = {
        {"a gap ends the section", L"[Files]\r\n0=C:\\a\r\n1=C:\\b\r\n2=C:\\c\r\n4=C:\\e\r\n",
         {L"C:\\a", L"C:\\b", L"C:\\c"}, {}},
        {"no key 0", L"[Files]\r\n1=C:\\b\r\n[Dirs]\r\n0=C:\\d\r\n", {}, {L"C:\\d"}},
        {"an empty value ends the section", L"[Files]\r\n0=C:\\a\r\n1=\r\n2=C:\\c\r\n", {L"C:\\a"}, {}},
        {"key order in the file", L"[Files]\r\n1=C:\\b\r\n0=C:\\a\r\n", {L"C:\\a", L"C:\\b"}, {}},
        {"section names in other case, Dirs first",
         L"[dIRS]\r\n0=C:\\Quorill\\sub\r\n1=C:\\Quorill\r\n[FILES]\r\n0=C:\\Quorill\\a.dll\r\n",
         {L"C:\\Quorill\\a.dll"}, {L"C:\\Quorill\\sub", L"C:\\Quorill"}},
        {"quoted values", L"[Files]\r\n0=\"C:\\Program Files\\Quorill\\a.dll\"\r\n1='C:\\b'\r\n",
         {L"C:\\Program Files\\Quorill\\a.dll", L"C:\\b"}, {}},
        {"both sections empty", L"[Files]\r\n[Dirs]\r\n[Other]\r\n0=C:\\x\r\n", {}, {}},
        {"neither section", L"; nothing to remove\r\n", {}, {}},
        {"relative values are skipped, the rest kept as read",
         L"[Files]\r\n0=foo.dll\r\n1=sub\\foo.dll\r\n2=C:foo.dll\r\n3=\\foo.dll\r\n4=/foo.dll\r\n5=.\\foo.dll\r\n"
         L"6=\\\\server\\share\\Quorill\\a.dll\r\n7=C:/Quorill/b.dll\r\n8=d:\\Quorill\\..\\c.dll\r\n",
         {L"\\\\server\\share\\Quorill\\a.dll", L"C:/Quorill/b.dll", L"d:\\Quorill\\..\\c.dll"}, {}},
        // A quoted 260-character path read into 261 characters comes back as a valid-looking 259.
        {"values that do not fit a path are skipped",
         L"[Files]\r\n0=" + PathOfLength(259, L'a') + L"\r\n1=" + PathOfLength(260, L'b') + L"\r\n2=" +
             PathOfLength(261, L'c') + L"\r\n3=" + PathOfLength(600, L'd') + L"\r\n4=\"" + PathOfLength(259, L'e') +
             L"\"\r\n5=\"" + PathOfLength(260, L'f') + L"\"\r\n6=\"" + PathOfLength(261, L'g') + L"\"\r\n" +
             L"7=C:\\last\r\n",
         {PathOfLength(259, L'a'), PathOfLength(259, L'e'), L"C:\\last"}, {}},
    };
    for (Encoding encoding : {Encoding::Ansi, Encoding::Utf16})
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (encoding == Encoding::Ansi ? ", ANSI" : ", UTF-16"));
            Write(c.text, encoding);
            EXPECT_EQ(c.files, Read(L"Files"));
            EXPECT_EQ(c.dirs, Read(L"Dirs"));
        }
}

// Those past key 199 are logged as skipped, up to the end of the section.
TEST_F(Manifest, ReadsAtMost200Keys)
{
    std::wstring text = L"[Files]\r\n";
    Paths first200;
    std::string skipped;
    for (int i = 0; i < 250; ++i) {
        const std::string n = std::to_string(i);
        const std::wstring path = L"C:\\Quorill\\" + std::to_wstring(i) + L".dll";
        text += std::to_wstring(i) + L"=" + path + L"\r\n";
        if (i < 200) first200.push_back(path);
        else
            skipped += "skipped\tFiles\tkey " + n + ": past key 199, the last acted on\tC:\\Quorill\\" + n + ".dll\r\n";
    }
    text += L"251=C:\\Quorill\\late.dll\r\n";
    for (Encoding encoding : {Encoding::Ansi, Encoding::Utf16}) {
        Write(text, encoding);
        Paths read;
        EXPECT_EQ(skipped, LogOf([&read, this] { read = Read(L"Files"); }));
        EXPECT_EQ(first200, read);
    }
}

TEST_F(Manifest, ExistsOnlyOnceWrittenAndMissingReadsEmpty)
{
    EXPECT_FALSE(FileExists(m_path.c_str()));
    EXPECT_EQ(Paths{}, Read(L"Files"));
    Write(L"[Files]\r\n0=C:\\网络电话\\a.dll\r\n", Encoding::Utf16);
    EXPECT_TRUE(FileExists(m_path.c_str()));
    EXPECT_EQ(Paths{L"C:\\网络电话\\a.dll"}, Read(L"Files"));

    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    EXPECT_TRUE(FileExists(temp));
}

TEST(ModuleDirectory, OfTheRunningExecutable)
{
    WCHAR path[MAX_PATH];
    ASSERT_LT(::GetModuleFileNameW(nullptr, path, MAX_PATH), static_cast<DWORD>(MAX_PATH));
    EXPECT_STREQ(path, GetModuleDirectory() + L"uninstall_tests.exe");
}
