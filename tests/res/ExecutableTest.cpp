// The built Uninst.exe as the loader sees it: a 32-bit GUI program that imports only system DLLs.
#include "tests/res/UninstExe.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>
#include <windows.h>

namespace {

struct Image {
    std::vector<char> bytes;
    const IMAGE_NT_HEADERS32* nt = nullptr;

    explicit Image(const wchar_t* path)
    {
        std::ifstream file(path, std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(file), {});
        if (bytes.size() < sizeof(IMAGE_DOS_HEADER)) return;
        auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes.data());
        nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(bytes.data() + dos->e_lfanew);
    }
    template <class T> const T* At(DWORD rva) const
    {
        auto section = IMAGE_FIRST_SECTION(nt);
        for (int i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->Misc.VirtualSize)
                return reinterpret_cast<const T*>(bytes.data() + section->PointerToRawData + rva - section->VirtualAddress);
        return nullptr;
    }
};

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), ::toupper);
    return s;
}

}  // namespace

TEST(Executable, IsA32BitUnicodeGuiProgram)
{
    Image image(UninstExe());
    ASSERT_NE(nullptr, image.nt);
    EXPECT_EQ(static_cast<DWORD>(IMAGE_NT_SIGNATURE), image.nt->Signature);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, image.nt->FileHeader.Machine);
    EXPECT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, image.nt->OptionalHeader.Magic);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, image.nt->OptionalHeader.Subsystem);
}

TEST(Executable, ImportsOnlySystemDllsAndInitCommonControlsByOrdinal)
{
    Image image(UninstExe());
    ASSERT_NE(nullptr, image.nt);
    const IMAGE_DATA_DIRECTORY& dir = image.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto desc = image.At<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress);
    ASSERT_NE(nullptr, desc);

    const std::set<std::string> allowed = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "COMCTL32.DLL",
                                           "ADVAPI32.DLL", "SHELL32.DLL", "MSVCRT.DLL"};
    std::multiset<std::string> seen;
    std::vector<DWORD> comctl32;
    for (; desc->Name; ++desc) {
        const std::string name = Upper(image.At<char>(desc->Name));
        seen.insert(name);
        EXPECT_TRUE(allowed.count(name)) << name;
        if (name != "COMCTL32.DLL") continue;
        for (auto thunk = image.At<IMAGE_THUNK_DATA32>(desc->OriginalFirstThunk); thunk->u1.Ordinal; ++thunk)
            comctl32.push_back(thunk->u1.Ordinal);
    }
    EXPECT_EQ(1u, seen.count("COMCTL32.DLL"));
    EXPECT_EQ(std::vector<DWORD>{IMAGE_ORDINAL_FLAG32 | 17}, comctl32);
}
