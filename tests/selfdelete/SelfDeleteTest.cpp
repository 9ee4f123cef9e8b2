// The script's bytes for given paths, under the ANSI code page of the run (1252, 936 or UTF-8),
// with the conversions held to the rules that Windows documents for them.
#include "selfdelete/SelfDelete.h"
#include "ImportHook.h"
#include <vector>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>

namespace fs = std::filesystem;

IMPORT_SLOT(WideCharToMultiByte, 32);
IMPORT_SLOT(MultiByteToWideChar, 24);

namespace {

// The conversions as Windows documents them, where Wine accepts more: UTF-8 and GB18030 take no
// flag but the invalid-characters one, UTF-7, symbol and a few stateful code pages take none, and
// UTF-8 and UTF-7 take neither a default character nor a used-default flag.
struct DocumentedConversions {
    static UINT Number(UINT codePage)
    {
        CPINFOEXW info;
        return ::GetCPInfoExW(codePage, 0, &info) ? info.CodePage : codePage;
    }
    static bool InvalidFlags(UINT codePage, DWORD flags, DWORD errorFlag)
    {
        const UINT n = Number(codePage);
        if (n == CP_UTF8 || n == 54936) return (flags & ~errorFlag) != 0;
        const bool none = n == CP_UTF7 || n == 42 || n == 52936 || (n >= 50220 && n <= 50229) || (n >= 57002 && n <= 57011);
        return none && flags != 0;
    }
    static int Fail(DWORD error)
    {
        ::SetLastError(error);
        return 0;
    }
    static int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wide, int cchWide, LPSTR narrow,
                                          int cbNarrow, LPCCH defaultChar, LPBOOL usedDefault)
    {
        const DWORD WC_ERR_INVALID_CHARS = 0x80;  // Vista's; the build targets XP, whose headers lack it
        if (InvalidFlags(codePage, flags, WC_ERR_INVALID_CHARS)) return Fail(ERROR_INVALID_FLAGS);
        const UINT n = Number(codePage);
        if ((n == CP_UTF8 || n == CP_UTF7) && (defaultChar || usedDefault)) return Fail(ERROR_INVALID_PARAMETER);
        return wideToNarrow(codePage, flags, wide, cchWide, narrow, cbNarrow, defaultChar, usedDefault);
    }
    static int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH narrow, int cbNarrow, LPWSTR wide, int cchWide)
    {
        if (InvalidFlags(codePage, flags, MB_ERR_INVALID_CHARS)) return Fail(ERROR_INVALID_FLAGS);
        return narrowToWide(codePage, flags, narrow, cbNarrow, wide, cchWide);
    }
    static decltype(&::WideCharToMultiByte) wideToNarrow;
    static decltype(&::MultiByteToWideChar) narrowToWide;
};
decltype(&::WideCharToMultiByte) DocumentedConversions::wideToNarrow;
decltype(&::MultiByteToWideChar) DocumentedConversions::narrowToWide;

const CStringList NO_FOLDERS;

// The system folder, in which ping.exe lies, as the script names it.
std::string System()
{
    char system[MAX_PATH];
    ::GetSystemDirectoryA(system, MAX_PATH);
    return system;
}

// The whole script, with E and B the narrow paths of the executable and the script as they stand
// in it (every % doubled), M the manifest's beside E when it can be named: ten lines for E, then
// the manifest's and the folders' lines, in order, and last B's, without a line end or a NUL.
std::string Script(const std::string& e, const std::string& b, const std::vector<std::string>& folders, bool manifest)
{
    std::string after = "if exist \"" + e + "\" goto Last\r\n";
    if (manifest) after += "Del \"" + e.substr(0, e.rfind('\\') + 1) + "Uninst.ini\" \r\n";
    for (const std::string& f : folders) after += "rd \"" + f + "\"\r\nif exist \"" + f + "\" goto Last\r\n";
    return "setlocal EnableExtensions DisableDelayedExpansion\r\n"
           "set n=0\r\n"
           ":Repeat \r\n"
           " Del \"" + e + "\" \r\n"
           " if not exist \"" + e + "\" goto Done\r\n"
           " set /a n+=1\r\n"
           " if %n% geq 60 goto Done\r\n"
           " \"" + System() + "\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
           " goto Repeat\r\n"
           ":Done\r\n" + after + ":Last\r\n"
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

std::string Utf8(const std::wstring& text)
{
    std::string utf8(text.size() * 3, '\0');
    utf8.resize(::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &utf8[0],
                                      static_cast<int>(utf8.size()), nullptr, nullptr));
    return utf8;
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
        // In its short form, a user name with Chinese characters leaves the scripts' own paths ASCII.
        dir = ShortPath(temp) + L"selfdelete_test_" + std::to_wstring(::GetCurrentProcessId()) + L"\\";
        fs::remove_all(dir);
        fs::create_directories(dir);
        script = dir + L"_self_del.bat";
    }
    void TearDown() override { fs::remove_all(dir); }

    // The script at `at` must hold exactly Script(e, b, folders, manifest), and be well formed line by
    // line; it goes once read, so that the next one can be written.
    static void ExpectScript(const std::wstring& at, const std::string& e, const std::string& b,
                             const std::vector<std::string>& folders = {}, bool manifest = true)
    {
        std::ifstream file(fs::path(at), std::ios::binary);
        const std::string bytes(std::istreambuf_iterator<char>(file), {});
        file.close();
        fs::remove(fs::path(at));
        EXPECT_EQ(Script(e, b, folders, manifest), bytes);
        size_t crlf = 0;
        for (size_t i = 0; i < bytes.size(); ++i) {
            EXPECT_NE('\0', bytes[i]) << "at " << i;
            const bool bareLf = bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r');
            const bool bareCr = bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n');
            EXPECT_FALSE(bareLf || bareCr) << "bare line end at " << i;
            crlf += bytes[i] == '\n';
        }
        EXPECT_EQ(12 + manifest + 2 * folders.size(), crlf);
    }
    // The script written as a new file at `at`; false, with the file gone, when none could be.
    static bool Write(const std::wstring& at, const wchar_t* exe, const CStringList& folders = NO_FOLDERS)
    {
        CStdioFile file;
        if (!file.Open(at.c_str())) return false;
        const bool written = WriteSelfDeleteScript(file, at.c_str(), exe, folders);
        file.Close();
        if (!written) fs::remove(fs::path(at));
        return written;
    }
    // Creates an empty file (and its directories) under the work directory; returns its path.
    std::wstring Make(const std::wstring& relative) const
    {
        const std::wstring path = dir + relative;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(fs::path(path)).put('x');
        return path;
    }

    ImportHook m_wideToNarrow{importWideCharToMultiByte, DocumentedConversions::WideCharToMultiByte,
                              &DocumentedConversions::wideToNarrow};
    ImportHook m_narrowToWide{importMultiByteToWideChar, DocumentedConversions::MultiByteToWideChar,
                              &DocumentedConversions::narrowToWide};
    std::wstring dir, script;
};

}  // namespace

TEST_F(SelfDeleteScript, WrittenByteForByte)
{
    ASSERT_TRUE(Write(script, L"C:\\Program Files\\Quorill\\Uninst.exe"));
    ExpectScript(script, "C:\\Program Files\\Quorill\\Uninst.exe", Ascii(script));
}

// Windows' cmd reads a running script line by line from the file as it stands: another run's
// script, or a file that a user made under the name, is never written over, whatever it holds,
// even read-only, nor a folder of that name: the script gets a name of its own.
TEST_F(SelfDeleteScript, NeverWritesOverWhatIsThere)
{
    for (size_t size : {0, 1, 300, 100000}) {
        const std::string running(size, 'r');
        std::ofstream(fs::path(script), std::ios::binary) << running;
        if (size == 1) ::SetFileAttributesW(script.c_str(), FILE_ATTRIBUTE_READONLY);
        CStdioFile file;
        CString made;
        ASSERT_TRUE(CreateScriptFile(dir.c_str(), file, made));
        file.Close();
        EXPECT_NE(script, std::wstring(made)) << size;
        EXPECT_EQ(0u, fs::file_size(fs::path(std::wstring(made))));
        fs::remove(fs::path(std::wstring(made)));
        std::ifstream kept(fs::path(script), std::ios::binary);
        EXPECT_EQ(running, std::string(std::istreambuf_iterator<char>(kept), {})) << size;
        kept.close();
        ::SetFileAttributesW(script.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    fs::remove(fs::path(script));
    fs::create_directories(fs::path(script + L"\\inside"));
    CStdioFile file;
    CString made;
    EXPECT_TRUE(CreateScriptFile(dir.c_str(), file, made));
    EXPECT_TRUE(fs::is_directory(fs::path(script + L"\\inside")));
    // Nobody writes into the script while it is held; it can be read, and deleted.
    EXPECT_EQ(INVALID_HANDLE_VALUE, ::CreateFileW(made, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                  nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), ::GetLastError());
}

// With administrator rights, which the tests have, the script goes where users cannot write, never
// where TMP or TEMP say.
TEST_F(SelfDeleteScript, GoesIntoTheWindowsFoldersTemp)
{
    wchar_t windows[MAX_PATH], tmp[MAX_PATH] = L"", temp[MAX_PATH] = L"";
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    ::GetEnvironmentVariableW(L"TMP", tmp, MAX_PATH);
    ::GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH);
    ::SetEnvironmentVariableW(L"TMP", dir.c_str());
    ::SetEnvironmentVariableW(L"TEMP", dir.c_str());
    const std::wstring folder(ScriptFolder());
    ::SetEnvironmentVariableW(L"TMP", tmp);
    ::SetEnvironmentVariableW(L"TEMP", temp);
    EXPECT_EQ(std::wstring(windows) + L"\\Temp\\", folder);
}

TEST_F(SelfDeleteScript, DoublesEveryPercent)
{
    script = dir + L"50%off%TEMP%\\_self_del.bat";
    fs::create_directories(fs::path(script).parent_path());
    ASSERT_TRUE(Write(script, L"C:\\100%\\a%PATH%b\\%%\\Uninst.exe"));
    std::string b = Ascii(dir);
    b += "50%%off%%TEMP%%\\_self_del.bat";
    ExpectScript(script, "C:\\100%%\\a%%PATH%%b\\%%%%\\Uninst.exe", b);
}

// Each path either stands in the script exactly as cmd will read it, or as its short form, or
// there is no script at all.
TEST_F(SelfDeleteScript, WritesOnlyPathsThatCmdReadsBackExactly)
{
    enum Locale { WESTERN, PRC, UTF8 };
    const Locale locale = ::GetACP() == 936 ? PRC : ::GetACP() == CP_UTF8 ? UTF8 : WESTERN;
    ASSERT_TRUE(locale != WESTERN || ::GetACP() == 1252) << "no expectations for code page " << ::GetACP();
    ASSERT_EQ(locale == PRC ? 936u : locale == UTF8 ? CP_UTF8 : 437u, ::GetOEMCP());

    enum Form { LONG, SHORT, NONE };
    struct Case {
        const wchar_t* name;
        const char* gbk;  // the name in code page 936, where it has one
        Form forms[3];    // by locale
    };
    const Case cases[] = {
        // Full-width quote, ampersand and percent: best fit would make them " & %.
        { L"a\xFF02 \xFF06 echo x \xFF06 \xFF05PATH\xFF05", "a\xA3\xA2 \xA3\xA6 echo x \xA3\xA6 \xA3\xA5PATH\xA3\xA5", {SHORT, LONG, LONG} },
        // Not in either code page (Thai): the default character would be a '?' wildcard.
        { L"w\x0E01x", nullptr, {SHORT, SHORT, LONG} },
        // In 1252, but the console's 437 reads that byte as another character.
        { L"caf\x00E9", "caf\xA8\xA6", {SHORT, LONG, LONG} },
        { L"\x5378\x8F7D", "\xD0\xB6\xD4\xD8", {SHORT, LONG, LONG} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        const Form form = c.forms[locale];
        const std::string narrow = locale == UTF8 ? Utf8(c.name) : c.gbk ? c.gbk : "";
        const std::wstring missing = L"C:\\nowhere\\" + std::wstring(c.name) + L"\\Uninst.exe";
        const std::wstring exe = Make(std::wstring(c.name) + L"\\Uninst.exe");

        // A path that does not exist has no short form either.
        EXPECT_EQ(form == LONG, Write(script, missing.c_str()));
        if (form == LONG) ExpectScript(script, std::string("C:\\nowhere\\") + narrow + "\\Uninst.exe", Ascii(script));
        else EXPECT_FALSE(fs::exists(fs::path(script)));

        ASSERT_EQ(form != NONE, Write(script, exe.c_str()));
        if (form == LONG) ExpectScript(script, Ascii(dir) + narrow + "\\Uninst.exe", Ascii(script));
        if (form == SHORT) {
            // Its manifest, which is not there, has no short form to be named by.
            const std::wstring shortExe = ShortPath(exe);
            ExpectScript(script, Ascii(shortExe), Ascii(script), {}, false);
            EXPECT_TRUE(fs::equivalent(fs::path(shortExe), fs::path(exe)));
        }

        // The script's own path follows the same rules.
        const std::wstring inside = dir + c.name + L"\\_self_del.bat";
        ASSERT_EQ(form != NONE, Write(inside, L"C:\\Q\\Uninst.exe"));
        if (form == LONG) ExpectScript(inside, "C:\\Q\\Uninst.exe", Ascii(dir) + narrow + "\\_self_del.bat");
        if (form == SHORT) ExpectScript(inside, "C:\\Q\\Uninst.exe", Ascii(ShortPath(inside)));
    }
}

TEST_F(SelfDeleteScript, WritesNothingForALineBreakOrAnUnpairedSurrogate)
{
    // Neither has a form that cmd reads back as the path, in any code page, UTF-8 included.
    for (const wchar_t* exe : {L"C:\\Q\r\necho x\\Uninst.exe", L"C:\\Q\xD800x\\Uninst.exe"}) {
        EXPECT_FALSE(Write(script, exe));
    }
}

TEST_F(SelfDeleteScript, FailsQuietlyWhenTheScriptCannotBeCreated)
{
    CStdioFile file;
    CString made;
    EXPECT_FALSE(CreateScriptFile((dir + L"missing\\").c_str(), file, made));
    EXPECT_FALSE(fs::exists(fs::path(dir + L"missing")));
}

// Once the executable is gone, each folder in turn while the one before it went; its path follows
// the same rules as the others. The first folder that cannot be written ends the list: what holds
// it cannot be emptied either.
TEST_F(SelfDeleteScript, RemovesTheFoldersInOrderWhileEachGoes)
{
    const bool chinese = ::GetACP() != 1252;
    const std::wstring exe = L"C:\\Apps\\R&D ^!\\50%\\Uninst.exe";
    struct Case {
        std::vector<std::wstring> folders;
        std::vector<std::string> written;
    };
    const Case cases[] = {
        {{L"C:\\Apps\\R&D ^!\\50%", L"C:\\Apps\\R&D ^!", L"C:\\Apps"}, {"C:\\Apps\\R&D ^!\\50%%", "C:\\Apps\\R&D ^!", "C:\\Apps"}},
        {{L"C:\\nowhere\\\x5378\x8F7D", L"C:\\nowhere"},
         chinese ? std::vector<std::string>{::GetACP() == 936 ? "C:\\nowhere\\\xD0\xB6\xD4\xD8" : "C:\\nowhere\\" + Utf8(L"\x5378\x8F7D"), "C:\\nowhere"}
                 : std::vector<std::string>{}},
        {{L"C:\\Q\r\necho x", L"C:\\Q"}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
        CStringList folders;
        for (const std::wstring& folder : c.folders) folders.AddTail(folder.c_str());
        ASSERT_TRUE(Write(script, exe.c_str(), folders));
        ExpectScript(script, "C:\\Apps\\R&D ^!\\50%%\\Uninst.exe", Ascii(script), c.written);
    }
}

// Del given a folder deletes the files in it: a folder named as the manifest is never named, and
// the folders that hold it stay.
TEST_F(SelfDeleteScript, NeverDeletesAFolderNamedAsTheManifest)
{
    const std::wstring exe = Make(L"app\\Uninst.exe");
    fs::create_directory(fs::path(dir + L"app\\Uninst.ini"));
    CStringList folders;
    folders.AddTail((dir + L"app").c_str());
    ASSERT_TRUE(Write(script, exe.c_str(), folders));
    ExpectScript(script, Ascii(exe), Ascii(script), {}, false);
}
