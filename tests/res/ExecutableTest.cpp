// The built Uninst.exe as the loader sees it: a 32-bit GUI program; it and UninstCheck.exe import
// only system DLLs, and nothing that the oldest Windows they start on lacks.
#include "tests/res/UninstExe.h"
#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
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

// Every function the two programs may import, with the first Windows whose documentation names it:
// Windows XP (0x0501; Windows 2000 counts as XP here) or Windows Vista (0x0600). msvcrt.dll names no
// Windows per function: its entries are all of the Visual C++ 6.0 runtime that Windows XP carries.
const struct {
    WORD version;
    const char* dll;
    const char* names;
} IMPORTS[] = {
    {0x0501, "KERNEL32.DLL",
     " AddVectoredExceptionHandler CloseHandle CompareStringW CreateDirectoryW CreateEventA CreateFileW CreateProcessW CreateSemaphoreA CreateThread"
     " CreateToolhelp32Snapshot DeleteCriticalSection DeleteFileW DuplicateHandle EnterCriticalSection ExitProcess ExpandEnvironmentStringsW FindClose"
     " FindFirstFileW FindNextFileW FormatMessageW FreeLibrary GetACP GetCommandLineW GetCPInfoExW GetConsoleMode GetCurrentProcess"
     " GetCurrentProcessId GetCurrentThread GetCurrentThreadId GetEnvironmentVariableW GetFileAttributesW GetFileInformationByHandle"
     " GetFullPathNameW"
     " GetHandleInformation GetLastError GetLocaleInfoA GetLongPathNameW GetModuleFileNameW GetModuleHandleA"
     " GetModuleHandleW GetPrivateProfileStringW GetProcAddress GetProcessAffinityMask GetProcessHeap"
     " GetShortPathNameW GetStartupInfoW GetStdHandle GetSystemDirectoryW GetSystemTimeAsFileTime GetSystemWow64DirectoryW GetTempFileNameW GetTempPathW"
     " GetThreadContext GetThreadLocale GetThreadPriority GetTickCount GetVersionExW GetVolumePathNamesForVolumeNameW GetWindowsDirectoryW HeapAlloc"
     " HeapFree InitializeCriticalSection IsDBCSLeadByteEx IsDebuggerPresent IsWow64Process LCMapStringW LeaveCriticalSection"
     " LoadLibraryA LoadLibraryW LocalFree MoveFileExW MultiByteToWideChar OpenProcess OutputDebugStringA Process32FirstW Process32NextW"
     " RaiseException ReadFile ReleaseSemaphore RemoveDirectoryW RemoveVectoredExceptionHandler ResetEvent"
     " ResumeThread SetCurrentDirectoryW SetEndOfFile SetErrorMode SetEvent SetFileAttributesW SetLastError SetProcessAffinityMask SetThreadContext SetThreadPriority"
     " SetUnhandledExceptionFilter Sleep SuspendThread TerminateProcess TlsAlloc TlsGetValue TlsSetValue TryEnterCriticalSection"
     " VirtualProtect VirtualQuery WaitForMultipleObjects WaitForSingleObject WideCharToMultiByte WriteConsoleW"
     " WriteFile lstrcmpW lstrcmpiW lstrcpyA lstrcpyW lstrlenA lstrlenW "},
    {0x0600, "KERNEL32.DLL", " GetFinalPathNameByHandleW GetTickCount64 "},
    {0x0501, "USER32.DLL",
     " BeginPaint CharUpperBuffW CreateDialogParamW DestroyWindow DispatchMessageW DrawIcon EndPaint ExitWindowsEx GetClientRect GetDlgItem"
     " GetMessageW GetMonitorInfoW GetProcessWindowStation GetSystemMetrics GetUserObjectInformationW GetWindowLongW GetWindowRect IsDialogMessageW IsIconic LoadIconW"
     " MessageBoxW MonitorFromWindow MoveWindow PeekMessageW PostMessageW PostQuitMessage SendMessageW SetWindowLongW"
     " SetWindowPos ShowWindow TranslateMessage wsprintfW "},
    {0x0501, "ADVAPI32.DLL",
     " AdjustTokenPrivileges CheckTokenMembership ConvertStringSecurityDescriptorToSecurityDescriptorW ConvertStringSidToSidW"
     " CreateWellKnownSid EqualSid GetSecurityInfo GetTokenInformation IsValidSid IsWellKnownSid LookupPrivilegeValueW OpenProcessToken RegCloseKey RegDeleteKeyW RegEnumKeyExW RegOpenKeyExW RegQueryInfoKeyW"
     " RegQueryValueExW "},
    {0x0501, "OLE32.DLL", " CoCreateInstance CoInitializeEx CoUninitialize "},
    {0x0501, "OLEAUT32.DLL", " SysAllocString SysFreeString "},
    {0x0501, "SHELL32.DLL", " CommandLineToArgvW SHGetFolderPathW ShellExecuteW "},
    {0x0501, "COMCTL32.DLL", " #17 "},
    {0x0501, "MSVCRT.DLL",
     " __mb_cur_max __p__commode __p__fmode __p__wcmdln __set_app_type __setusermatherr __wgetmainargs __winitenv"
     " _amsg_exit _beginthreadex _cexit _close _endthreadex _errno _initterm _iob _onexit _read _setjmp3 _strdup"
     " _ultoa abort atoi calloc exit fprintf fputc fputs fputwc free fwprintf fwrite localeconv longjmp malloc"
     " memchr memcmp memcpy memmove memset printf realloc setlocale signal strchr strcmp strerror strlen strncmp"
     " vfprintf wcslen wcstol "},
};

// The first Windows that documents the function; 0xFFFF for one not listed above.
WORD Introduced(const std::string& dll, const std::string& name)
{
    for (const auto& d : IMPORTS)
        if (dll == d.dll && std::strstr(d.names, (" " + name + " ").c_str())) return d.version;
    return 0xFFFF;
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

// README states where each program starts: Uninst.exe on Windows XP, UninstCheck.exe on Windows Vista.
// Only the system DLLs of the table are imported; Uninst.exe loads common controls itself, for the
// dialog only.
TEST(Executable, ImportsNothingThatTheOldestWindowsItStartsOnLacks)
{
    for (const auto& program : {std::make_pair(L"Uninst.exe", 0x0501), std::make_pair(L"UninstCheck.exe", 0x0600)}) {
        Image image(GetModuleDirectory() + program.first);
        ASSERT_NE(nullptr, image.nt) << program.first;
        // The loader refuses a program whose header asks for a newer Windows than it is.
        const IMAGE_OPTIONAL_HEADER32& header = image.nt->OptionalHeader;
        EXPECT_LE(MAKEWORD(header.MinorSubsystemVersion, header.MajorSubsystemVersion), program.second);
        EXPECT_LE(MAKEWORD(header.MinorOperatingSystemVersion, header.MajorOperatingSystemVersion), program.second);
        const IMAGE_DATA_DIRECTORY& dir = header.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        std::vector<std::string> comctl32;
        for (auto desc = image.At<IMAGE_IMPORT_DESCRIPTOR>(dir.VirtualAddress); desc->Name; ++desc) {
            const std::string dll = Upper(image.At<char>(desc->Name));
            for (auto thunk = image.At<IMAGE_THUNK_DATA32>(desc->OriginalFirstThunk); thunk->u1.Ordinal; ++thunk) {
                const std::string name = IMAGE_SNAP_BY_ORDINAL32(thunk->u1.Ordinal)
                                             ? "#" + std::to_string(IMAGE_ORDINAL32(thunk->u1.Ordinal))
                                             : image.At<IMAGE_IMPORT_BY_NAME>(thunk->u1.AddressOfData)->Name;
                EXPECT_LE(Introduced(dll, name), program.second) << program.first << " imports " << dll << " " << name;
                if (dll == "COMCTL32.DLL") comctl32.push_back(name);
            }
        }
        if (program.first == std::wstring(L"Uninst.exe")) {
            EXPECT_EQ(std::vector<std::string>{}, comctl32);
        }
    }
}
