// The executable's own resources, read back from the built Uninst.exe through the resource API.
#include "res/resource.h"
#include "tests/res/UninstExe.h"
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include <windows.h>

namespace {

const WORD CHINESE_PRC = MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED);

class Resources : public ::testing::Test {
protected:
    static void SetUpTestSuite() { module = ::LoadLibraryExW(UninstExe(), nullptr, LOAD_LIBRARY_AS_DATAFILE); }
    static void TearDownTestSuite() { ::FreeLibrary(module); }
    void SetUp() override { ASSERT_NE(nullptr, module) << "cannot load " << UninstExe(); }

    static std::vector<BYTE> Load(LPCWSTR type, LPCWSTR name)
    {
        HRSRC res = ::FindResourceExW(module, type, name, CHINESE_PRC);
        if (!res) return {};
        auto data = static_cast<const BYTE*>(::LockResource(::LoadResource(module, res)));
        return std::vector<BYTE>(data, data + ::SizeofResource(module, res));
    }

    static HMODULE module;
};
HMODULE Resources::module;

// Reads a dialog template field by field.
struct Reader {
    const BYTE* p;
    WORD Word() { WORD v; memcpy(&v, p, 2); p += 2; return v; }
    DWORD Dword() { DWORD v; memcpy(&v, p, 4); p += 4; return v; }
    short Short() { return static_cast<short>(Word()); }
    std::wstring Text()
    {
        std::wstring s;
        for (WORD c; (c = Word()) != 0;) s += static_cast<wchar_t>(c);
        return s;
    }
    // A name or an ordinal: 0xFFFF followed by the number, shown as "#n".
    std::wstring NameOrOrdinal()
    {
        WORD first; memcpy(&first, p, 2);
        if (first == 0xFFFF) { p += 2; return L"#" + std::to_wstring(Word()); }
        return Text();
    }
    void AlignDword(const BYTE* base) { while ((p - base) % 4) ++p; }
};

BOOL CALLBACK CollectLanguage(HMODULE, LPCWSTR, LPCWSTR, WORD lang, LONG_PTR param)
{
    reinterpret_cast<std::vector<WORD>*>(param)->push_back(lang);
    return TRUE;
}
BOOL CALLBACK CollectName(HMODULE m, LPCWSTR type, LPWSTR name, LONG_PTR param)
{
    ::EnumResourceLanguagesW(m, type, name, CollectLanguage, param);
    return TRUE;
}
BOOL CALLBACK CollectType(HMODULE m, LPWSTR type, LONG_PTR param)
{
    ::EnumResourceNamesW(m, type, CollectName, param);
    return TRUE;
}
BOOL CALLBACK CountName(HMODULE, LPCWSTR, LPWSTR, LONG_PTR param)
{
    ++*reinterpret_cast<int*>(param);
    return TRUE;
}

}  // namespace

TEST_F(Resources, AllAreInChineseSimplified)
{
    std::vector<WORD> languages;
    ::EnumResourceTypesW(module, CollectType, reinterpret_cast<LONG_PTR>(&languages));
    ASSERT_FALSE(languages.empty());
    for (WORD lang : languages) EXPECT_EQ(0x0804, lang);
}

TEST_F(Resources, DialogTemplate)
{
    std::vector<BYTE> data = Load(RT_DIALOG, MAKEINTRESOURCEW(IDD_UNINSTALL));
    ASSERT_FALSE(data.empty());
    Reader r{data.data()};
    EXPECT_EQ(1, r.Word());
    EXPECT_EQ(0xFFFF, r.Word());
    EXPECT_EQ(0u, r.Dword());                  // help id
    EXPECT_EQ(0x00040000u, r.Dword());         // WS_EX_APPWINDOW
    EXPECT_EQ(0x90C000C0u, r.Dword());         // popup, visible, caption, modal frame, set font
    EXPECT_EQ(3, r.Word());
    EXPECT_EQ(0, r.Short());
    EXPECT_EQ(0, r.Short());
    EXPECT_EQ(225, r.Short());
    EXPECT_EQ(49, r.Short());
    EXPECT_EQ(L"", r.NameOrOrdinal());         // menu
    EXPECT_EQ(L"", r.NameOrOrdinal());         // class
    EXPECT_EQ(L"卸载\u201CZembrat\u201D", r.Text());
    EXPECT_EQ(9, r.Word());
    EXPECT_EQ(400, r.Word());
    EXPECT_EQ(0, *r.p++);                      // italic
    EXPECT_EQ(0, *r.p++);                      // character set
    EXPECT_EQ(L"宋体", r.Text());

    struct Control { DWORD id; std::wstring cls, text; DWORD style; short x, y, cx, cy; };
    const Control expected[] = {
        {0xFFFFFFFF, L"#130", L"#128", 0x50000003, 7, 14, 20, 20},
        {1005, L"msctls_progress32", L"", 0x50800000, 39, 25, 179, 11},
        {0xFFFFFFFF, L"#130", L"正在卸载\u201C Zembrat\u201D...", 0x50020000, 39, 15, 113, 8},
    };
    for (const Control& c : expected) {
        r.AlignDword(data.data());
        EXPECT_EQ(0u, r.Dword());              // help id
        EXPECT_EQ(0u, r.Dword());              // extended style
        EXPECT_EQ(c.style, r.Dword());
        EXPECT_EQ(c.x, r.Short());
        EXPECT_EQ(c.y, r.Short());
        EXPECT_EQ(c.cx, r.Short());
        EXPECT_EQ(c.cy, r.Short());
        EXPECT_EQ(c.id, r.Dword());
        EXPECT_EQ(c.cls, r.NameOrOrdinal());
        EXPECT_EQ(c.text, r.NameOrOrdinal());
        EXPECT_EQ(0, r.Word());                // no creation data
    }
    EXPECT_EQ(data.data() + data.size(), r.p);
}

TEST_F(Resources, IconGroupHasTwelveUncompressedImages)
{
    std::vector<BYTE> group = Load(RT_GROUP_ICON, MAKEINTRESOURCEW(IDR_MAINFRAME));
    ASSERT_EQ(6u + 12 * 14, group.size());
    Reader r{group.data()};
    EXPECT_EQ(0, r.Word());
    EXPECT_EQ(1, r.Word());
    EXPECT_EQ(12, r.Word());
    const int sizes[] = {16, 32, 48};
    const int depths[] = {4, 8, 24, 32};
    for (int i = 0; i < 12; ++i) {
        const int size = sizes[i / 4], bpp = depths[i % 4];
        SCOPED_TRACE(testing::Message() << size << "px " << bpp << "bpp");
        EXPECT_EQ(size, *r.p++);
        EXPECT_EQ(size, *r.p++);
        EXPECT_EQ(bpp == 4 ? 16 : 0, *r.p++);  // colour count
        EXPECT_EQ(0, *r.p++);
        EXPECT_EQ(1, r.Word());                // planes
        EXPECT_EQ(bpp, r.Word());
        const DWORD bytes = r.Dword();
        const WORD id = r.Word();
        EXPECT_EQ(i + 1, id);

        std::vector<BYTE> image = Load(RT_ICON, MAKEINTRESOURCEW(id));
        ASSERT_EQ(bytes, image.size());
        BITMAPINFOHEADER header;
        memcpy(&header, image.data(), sizeof header);
        EXPECT_EQ(40u, header.biSize);
        EXPECT_EQ(size, header.biWidth);
        EXPECT_EQ(2 * size, header.biHeight);
        EXPECT_EQ(1, header.biPlanes);
        EXPECT_EQ(bpp, header.biBitCount);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
        const size_t palette = bpp == 4 ? 16 : bpp == 8 ? 256 : 0;
        const size_t xorRow = (size * bpp + 31) / 32 * 4, andRow = (size + 31) / 32 * 4;
        EXPECT_EQ(40 + palette * 4 + size * (xorRow + andRow), image.size());
    }
}

TEST_F(Resources, TheOnlyStringIsTheAboutItem)
{
    std::vector<BYTE> block = Load(RT_STRING, MAKEINTRESOURCEW(IDS_ABOUT_ITEM / 16 + 1));
    ASSERT_FALSE(block.empty());
    Reader r{block.data()};
    for (int i = 0; i < 16; ++i) {
        std::wstring s(r.Word(), L'\0');
        for (wchar_t& c : s) c = static_cast<wchar_t>(r.Word());
        EXPECT_EQ(i == IDS_ABOUT_ITEM % 16 ? L"关于 Uninst(&A)..." : L"", s) << "string " << i;
    }
    EXPECT_EQ(nullptr, ::FindResourceExW(module, RT_STRING, MAKEINTRESOURCEW(57344 / 16 + 1), CHINESE_PRC));
}

TEST_F(Resources, VersionBlock)
{
    DWORD handle = 0;
    std::vector<BYTE> info(::GetFileVersionInfoSizeW(UninstExe(), &handle));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(::GetFileVersionInfoW(UninstExe(), 0, static_cast<DWORD>(info.size()), info.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwFileVersionLS);
    EXPECT_EQ(0x00010000u, fixed->dwProductVersionMS);
    EXPECT_EQ(0x00000001u, fixed->dwProductVersionLS);
    EXPECT_EQ(0x3Fu, fixed->dwFileFlagsMask);
    EXPECT_EQ(0u, fixed->dwFileFlags);
    EXPECT_EQ(static_cast<DWORD>(VOS__WINDOWS32), fixed->dwFileOS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);
    EXPECT_EQ(0u, fixed->dwFileSubtype);
    EXPECT_EQ(0u, fixed->dwFileDateMS);
    EXPECT_EQ(0u, fixed->dwFileDateLS);

    DWORD* translation = nullptr;
    ASSERT_TRUE(::VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(MAKELONG(0x0804, 936), *translation);

    // The string table's entries, in the order they are stored.
    std::vector<BYTE> raw = Load(RT_VERSION, MAKEINTRESOURCEW(VS_VERSION_INFO));
    ASSERT_FALSE(raw.empty());
    const std::wstring text(reinterpret_cast<const wchar_t*>(raw.data()), raw.size() / 2);
    const size_t table = text.find(L"080403a8");
    ASSERT_NE(std::wstring::npos, table);
    const std::pair<std::wstring, std::wstring> entries[] = {
        {L"CompanyName", L"Quorill Networks"},
        {L"FileDescription", L"卸载"},
        {L"FileVersion", L"1.0.0.1"},
        {L"InternalName", L"Uninst.exe"},
        {L"LegalCopyright", L"Copyright (C) 2010 Quorill Networks"},
        {L"OriginalFilename", L"Uninst.exe"},
        {L"ProductName", L"Zembrat卸载程序"},
        {L"ProductVersion", L"1.0.0.1"},
    };
    size_t previous = table;
    for (const auto& entry : entries) {
        const size_t at = text.find(entry.first, previous);
        ASSERT_NE(std::wstring::npos, at) << entry.first;
        EXPECT_GT(at, previous);
        previous = at;

        std::wstring query = L"\\StringFileInfo\\080403a8\\" + entry.first;
        wchar_t* value = nullptr;
        ASSERT_TRUE(::VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&value), &length));
        EXPECT_EQ(entry.second, std::wstring(value));
    }
    EXPECT_EQ(std::wstring::npos, text.find(L"040904b0"));
    EXPECT_EQ(std::wstring::npos, text.find(L"080404b0"));
}

TEST_F(Resources, ManifestRequiresAdministratorAndNothingElse)
{
    int manifests = 0;
    ::EnumResourceNamesW(module, RT_MANIFEST, CountName, reinterpret_cast<LONG_PTR>(&manifests));
    EXPECT_EQ(1, manifests);

    std::vector<BYTE> data = Load(RT_MANIFEST, MAKEINTRESOURCEW(1));
    const std::string text(data.begin(), data.end());
    EXPECT_EQ(0u, text.find("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"));
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n') EXPECT_EQ('\r', text[i - 1]) << "bare line feed at " << i;
    }
    EXPECT_NE(std::string::npos, text.find("<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">"));
    EXPECT_NE(std::string::npos, text.find("version=\"1.0.0.0\" processorArchitecture=\"X86\""));
    EXPECT_NE(std::string::npos, text.find("type=\"win32\""));
    EXPECT_NE(std::string::npos, text.find("<trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\">"));
    EXPECT_NE(std::string::npos, text.find("<requestedExecutionLevel level=\"requireAdministrator\" uiAccess=\"false\"/>"));
    EXPECT_EQ(std::string::npos, text.find("dependency"));
    EXPECT_EQ(std::string::npos, text.find("compatibility"));
    EXPECT_EQ(std::string::npos, text.find("dpiAware"));
}
