#include "kit/Machine.h"
#include "KitMark.h"
#include "platform/Handle.h"
#include "uninstall/ProcessCheck.h"

// Uninst.exe asks for administrator rights, and input from a program that is not elevated cannot
// reach an elevated window: the end-to-end tests would hang at its first box.
static bool IsElevated()
{
    HANDLE opened;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &opened)) return false;
    CHandle token(opened);
    TOKEN_ELEVATION elevation = {};
    DWORD size = 0;
    return ::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) &&
           elevation.TokenIsElevated;
}

static std::wstring ObjectName(HANDLE object)
{
    wchar_t name[256] = {};
    ::GetUserObjectInformationW(object, UOI_NAME, name, sizeof name - sizeof(wchar_t), nullptr);
    return name;
}

// The key presses of the end-to-end tests need the desktop that takes the user's input to be this
// program's: a window station without WSF_VISIBLE (a service, a remote shell) has none, and while the
// screen is locked the input goes to the secure desktop, which cannot be opened or is another one.
static bool HasInteractiveDesktop()
{
    USEROBJECTFLAGS flags = {};
    if (!::GetUserObjectInformationW(::GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) ||
        !(flags.dwFlags & WSF_VISIBLE))
        return false;
    const HDESK input = ::OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) return false;
    const bool ours = ObjectName(input) == ObjectName(::GetThreadDesktop(::GetCurrentThreadId()));
    ::CloseDesktop(input);
    return ours;
}

std::wstring WhyNotHere()
{
    if (!IsElevated())
        return L"This prompt is not elevated. Open a command prompt with \"Run as administrator\" and start\n"
               L"run-tests.cmd from there: Uninst.exe runs elevated, and the tests must be able to answer its boxes.";
    if (!HasInteractiveDesktop())
        return L"There is no unlocked desktop to work on: the prompt runs over a remote shell or as a service, or\n"
               L"the screen is locked. The end-to-end tests press keys in Uninst.exe's boxes: start run-tests.cmd\n"
               L"from an elevated prompt on the machine's own desktop, and leave it unlocked while it runs.";
    if (const DWORD id = FindProcessByName(L"Quorill.exe"))
        return L"Quorill.exe is running (process " + std::to_wstring(id) + L"). Close it, or better, run the tests\n"
               L"on a machine without Quorill.";
    const REGSAM views[] = {KEY_WOW64_32KEY, KEY_WOW64_64KEY};
    for (REGSAM view : views)
        for (const wchar_t* key : KIT_KEYS)
            if (KeyExists(key, view) && !IsMarkedKey(key, view))
                return std::wstring(L"HKLM\\") + key + L" exists in the " +
                       (view == KEY_WOW64_32KEY ? L"32" : L"64") +
                       L"-bit registry view and was not made by the test kit:\nQuorill is installed. The tests "
                       L"create and delete that key; run them on a machine without Quorill.";
    return L"";
}

static std::wstring ReadString(HKEY key, const wchar_t* name)
{
    wchar_t text[256] = {};
    DWORD size = sizeof text - sizeof(wchar_t);
    return ::RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size) == ERROR_SUCCESS
               ? text : L"";
}

// GetVersionEx reports 6.2 on Windows 8.1 and later to a program without a manifest that says
// otherwise; RtlGetVersion does not.
static std::wstring WindowsVersion()
{
    RTL_OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof version;
    typedef LONG(WINAPI * GetVersionFunction)(RTL_OSVERSIONINFOW*);
    const auto getVersion = reinterpret_cast<GetVersionFunction>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (getVersion) getVersion(&version);
    std::wstring text = L"Windows " + std::to_wstring(version.dwMajorVersion) + L"." +
                        std::to_wstring(version.dwMinorVersion) + L"." + std::to_wstring(version.dwBuildNumber);
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Microsoft\\Windows NT\\CurrentVersion", 0,
                        KEY_READ | KEY_WOW64_64KEY, &key) == ERROR_SUCCESS) {
        DWORD revision = 0, size = sizeof revision;
        if (::RegQueryValueExW(key, L"UBR", nullptr, nullptr, reinterpret_cast<BYTE*>(&revision), &size) ==
            ERROR_SUCCESS)
            text += L"." + std::to_wstring(revision);
        // Windows 11 keeps "Windows 10" in its ProductName: it is told by its build, 22000 or later.
        std::wstring product = ReadString(key, L"ProductName");
        const size_t ten = product.find(L"Windows 10");
        if (version.dwBuildNumber >= 22000 && ten != std::wstring::npos) product.replace(ten + 8, 2, L"11");
        for (const std::wstring& value : {product, ReadString(key, L"DisplayVersion")})
            if (!value.empty()) text += L" " + value;
        ::RegCloseKey(key);
    }
    if (version.szCSDVersion[0]) text += L" " + std::wstring(version.szCSDVersion);
    BOOL wow64 = FALSE;
    ::IsWow64Process(::GetCurrentProcess(), &wow64);
    text += wow64 ? L", 64-bit" : L", 32-bit";
    typedef const char*(CDECL * WineVersionFunction)();
    if (const auto wine = reinterpret_cast<WineVersionFunction>(
            reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version")))) {
        const std::string number = wine();
        text += L", under Wine " + std::wstring(number.begin(), number.end());
    }
    return text;
}

std::wstring DescribeMachine()
{
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    wchar_t date[64];
    wsprintfW(date, L"%04u-%02u-%02u %02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
    return WindowsVersion() + L"\nCode pages: ANSI " + std::to_wstring(::GetACP()) + L", OEM " +
           std::to_wstring(::GetOEMCP()) + L"\nDate: " + date;
}
