// The script's bytes for given paths, under the ANSI code page of the run (1252 or 936).
#include "selfdelete/SelfDelete.h"
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

namespace {

// The whole script, with E and B the narrow paths of the executable and the script as they stand
// in it (every % doubled): 231 + 2|E| + |B| bytes, ten CR LF, no NUL, no line end after the last
// line.
const size_t FIXED_SIZE = 231;
std::string Script(const std::string& e, const std::string& b)
{
    return "setlocal EnableExtensions DisableDelayedExpansion\r\n"
           "set n=0\r\n"
           ":Repeat \r\n"
           " Del \"" + e + "\" \r\n"
           " if not exist \"" + e + "\" goto Done\r\n"
           " set /a n+=1\r\n"
           " if %n% geq 60 goto Done\r\n"
           " \"%SystemRoot%\\System32\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
           " goto Repeat\r\n"
           ":Done\r\n"
           "Del \"" + b + "\" ";
}

std::string Ascii(const std::wstring& text)
{
    std::string s;
    for (wchar_t c : text) {
        EXPECT_LT(c, 0x80) << "not ASCII";
        s += static_cast<char>(c);
    }
    return s;
}

std::wstring ShortPath(const std::wstring& path)
{
    wchar_t buffer[MAX_PATH];
    const DWORD n = ::GetShortPathNameW(path.c_str(), buffer, MAX_PATH);
    return std::wstring(buffer, n < MAX_PATH ? n : 0);
}

class SelfDeleteScript : public ::testing::Test {
protected:
    void SetUp() override
    {
        wchar_t temp[MAX_PATH];
        ::GetTempPathW(MAX_PATH, temp);
        dir = std::wstring(temp) + L"selfdelete_test_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
        fs::remove_all(dir);
        fs::create_directories(dir);
        script = dir + L"_self_del.bat";
    }
    void TearDown() override { fs::remove_all(dir); }

    // The script at `at` must hold exactly Script(e, b), and be well formed line by line.
    static void ExpectScript(const std::wstring& at, const std::string& e, const std::string& b)
    {
        std::ifstream file(fs::path(at), std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(file), {});
        EXPECT_EQ(Script(e, b), bytes);
        EXPECT_EQ(FIXED_SIZE + 2 * e.size() + b.size(), bytes.size());
        size_t crlf = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            EXPECT_NE('\0', bytes[i]) << "at " << i;
            const bool bareLf = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
            const bool bareCr = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
            EXPECT_FALSE(bareLf || bareCr) << "bare line end at " << i;
            crlf += bytes[i] == '\n';
        }
        EXPECT_EQ(10u, crlf);
    }
    // Creates an empty file (and its directories) under the work directory; returns its path.
    std::wstring Make(const std::wstring& relative) const
    {
        const std::wstring path = dir + relative;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(fs::path(path)).put('x');
        return path;
    }

    std::wstring dir, script;
};

}  // namespace

TEST_F(SelfDeleteScript, WrittenByteForByte)
{
    ASSERT_TRUE(WriteSelfDeleteScript(script.c_str(), L"C:\\Program Files\\Quorill\\Uninst.exe"));
    ExpectScript(script, "C:\\Program Files\\Quorill\\Uninst.exe", Ascii(script));
}

TEST_F(SelfDeleteScript, ReplacesAnExistingScriptOfAnySize)
{
    for (size_t size : { 0, 1, 300, 100000 }) {
        std::ofstream(fs::path(script), std::ios::binary) << std::string(size, '\n');
        ASSERT_TRUE(WriteSelfDeleteScript(script.c_str(), L"D:\\Q\\Uninst.exe"));
        ExpectScript(script, "D:\\Q\\Uninst.exe", Ascii(script));
    }
}

TEST_F(SelfDeleteScript, DoublesEveryPercent)
{
    script = dir + L"50%off%TEMP%\\_self_del.bat";
    fs::create_directories(fs::path(script).parent_path());
    ASSERT_TRUE(WriteSelfDeleteScript(script.c_str(), L"C:\\100%\\a%PATH%b\\%%\\Uninst.exe"));
    std::string b = Ascii(dir);
    b += "50%%off%%TEMP%%\\_self_del.bat";
    ExpectScript(script, "C:\\100%%\\a%%PATH%%b\\%%%%\\Uninst.exe", b);
}

// Each path either stands in the script exactly as cmd will read it, or as its short form, or
// there is no script at all.
TEST_F(SelfDeleteScript, WritesOnlyPathsThatCmdReadsBackExactly)
{
    const bool chinese = ::GetACP() == 936;
    ASSERT_TRUE(chinese || ::GetACP() == 1252) << "no expectations for code page " << ::GetACP();
    ASSERT_EQ(chinese ? 936u : 437u, ::GetOEMCP());

    enum Form { LONG, SHORT, NONE };
    struct Case {
        const wchar_t* name;
        const char* gbk;  // the name in code page 936, where it has one
        Form western, prc;
    };
    const Case cases[] = {
        // Full-width quote, ampersand and percent: best fit would make them " & %.
        { L"a\xFF02 \xFF06 echo x \xFF06 \xFF05PATH\xFF05", "a\xA3\xA2 \xA3\xA6 echo x \xA3\xA6 \xA3\xA5PATH\xA3\xA5", SHORT, LONG },
        // Not in either code page (Thai): the default character would be a '?' wildcard.
        { L"w\x0E01x", nullptr, SHORT, SHORT },
        // In 1252, but the console's 437 reads that byte as another character.
        { L"caf\x00E9", "caf\xA8\xA6", SHORT, LONG },
        { L"\x5378\x8F7D", "\xD0\xB6\xD4\xD8", SHORT, LONG },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const Form form = chinese ? c.prc : c.western;
        const std::wstring missing = L"C:\\nowhere\\" + std::wstring(c.name) + L"\\Uninst.exe";
        const std::wstring exe = Make(std::wstring(c.name) + L"\\Uninst.exe");

        // A path that does not exist has no short form either.
        EXPECT_EQ(form == LONG, WriteSelfDeleteScript(script.c_str(), missing.c_str()));
        if (form == LONG) ExpectScript(script, std::string("C:\\nowhere\\") + c.gbk + "\\Uninst.exe", Ascii(script));
        else EXPECT_FALSE(fs::exists(fs::path(script)));

        ASSERT_EQ(form != NONE, WriteSelfDeleteScript(script.c_str(), exe.c_str()));
        if (form == LONG) ExpectScript(script, Ascii(dir) + c.gbk + "\\Uninst.exe", Ascii(script));
        if (form == SHORT) {
            const std::wstring shortExe = ShortPath(exe);
            ExpectScript(script, Ascii(shortExe), Ascii(script));
            EXPECT_TRUE(fs::equivalent(fs::path(shortExe), fs::path(exe)));
        }

        // The script's own path follows the same rules.
        const std::wstring inside = dir + c.name + L"\\_self_del.bat";
        ASSERT_EQ(form != NONE, WriteSelfDeleteScript(inside.c_str(), L"C:\\Q\\Uninst.exe"));
        if (form == LONG) ExpectScript(inside, "C:\\Q\\Uninst.exe", Ascii(dir) + c.gbk + "\\_self_del.bat");
        if (form == SHORT) ExpectScript(inside, "C:\\Q\\Uninst.exe", Ascii(ShortPath(inside)));
    }
}

TEST_F(SelfDeleteScript, WritesNothingForAPathWithALineBreak)
{
    EXPECT_FALSE(WriteSelfDeleteScript(script.c_str(), L"C:\\Q\r\necho x\\Uninst.exe"));
    EXPECT_FALSE(fs::exists(fs::path(script)));
}

TEST_F(SelfDeleteScript, FailsQuietlyWhenTheScriptCannotBeCreated)
{
    EXPECT_FALSE(WriteSelfDeleteScript((dir + L"missing\\_self_del.bat").c_str(), L"C:\\Q\\Uninst.exe"));
    EXPECT_FALSE(fs::exists(fs::path(dir + L"missing")));

    fs::create_directory(fs::path(script));
    fs::create_directory(fs::path(script + L"\\inside"));
    EXPECT_FALSE(WriteSelfDeleteScript(script.c_str(), L"C:\\Q\\Uninst.exe"));
    EXPECT_TRUE(fs::is_directory(fs::path(script + L"\\inside")));
}
