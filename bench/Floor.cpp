// The floor of bench/desktop and bench/silent: the least that a removal has to do, making the calls
// that every run of Uninst.exe has to make, as a plain Win32 program like Uninst.exe itself. Started
// from a staged folder, beside the manifest Uninst.ini:
//   Floor.exe      at the desktop: asks the question; on Yes opens the download page as an elevated
//                  run must, through the desktop's shell, on a thread of its own while it deletes
//                  each entry that the manifest lists as it reads it, and the uninstall entry; waits
//                  for the page; starts the script that deletes it once it has ended.
//   Floor.exe /S   silently: the same without the question and the page.
#include "DownloadPageUrl.h"
#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

namespace {

const wchar_t CONFIRM_REMOVAL[] = L"您确定要从本计算机中删除“Zembrat”网络电话吗？";
const wchar_t KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

// The calls of Uninst.exe's uninstall/DownloadPage.cpp, from the desktop's shell window to the
// shell's own ShellExecute, which runs in Explorer's process.
DWORD WINAPI OpenPage(LPVOID)
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    IShellWindows* windows = nullptr;
    IDispatch *desktop = nullptr, *background = nullptr, *application = nullptr;
    IServiceProvider* provider = nullptr;
    IShellBrowser* browser = nullptr;
    IShellView* view = nullptr;
    IShellFolderViewDual* folderView = nullptr;
    IShellDispatch2* shell = nullptr;
    VARIANT desktopFolder = {}, none = {};
    desktopFolder.vt = VT_I4;
    desktopFolder.lVal = CSIDL_DESKTOP;
    long hwnd;
    if (::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                           reinterpret_cast<void**>(&windows)) == S_OK &&
        windows->FindWindowSW(&desktopFolder, &none, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, &desktop) == S_OK &&
        desktop->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&provider)) == S_OK &&
        provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void**>(&browser)) == S_OK &&
        browser->QueryActiveShellView(&view) == S_OK &&
        view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(&background)) == S_OK &&
        background->QueryInterface(IID_IShellFolderViewDual, reinterpret_cast<void**>(&folderView)) == S_OK &&
        folderView->get_Application(&application) == S_OK &&
        application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(&shell)) == S_OK) {
        VARIANT empty = {}, verb = {}, show = {};
        empty.vt = verb.vt = VT_BSTR;
        empty.bstrVal = ::SysAllocString(L"");
        verb.bstrVal = ::SysAllocString(L"open");
        show.vt = VT_I4;
        show.lVal = SW_SHOWNORMAL;
        const BSTR url = ::SysAllocString(DOWNLOAD_PAGE_URL);
        shell->ShellExecute(url, empty, empty, verb, show);
        ::SysFreeString(url);
        ::SysFreeString(verb.bstrVal);
        ::SysFreeString(empty.bstrVal);
    }
    IUnknown* const held[] = {shell, application, folderView, background, view, browser, provider, desktop, windows};
    for (IUnknown* p : held)
        if (p) p->Release();
    ::CoUninitialize();
    return 0;
}

// Each entry deleted as soon as it is read, files first, then folders; then the uninstall entry.
void RemoveListed(const wchar_t* manifest)
{
    const wchar_t* const sections[] = {L"Files", L"Dirs"};
    for (const wchar_t* section : sections)
        for (int i = 0;; ++i) {
            wchar_t name[12], value[MAX_PATH];
            ::wsprintfW(name, L"%d", i);
            if (!::GetPrivateProfileStringW(section, name, L"", value, MAX_PATH, manifest)) break;
            if (section[0] == L'F') ::DeleteFileW(value);
            else ::RemoveDirectoryW(value);
        }
    ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, KEY);
}

// As Uninst.exe starts its own: a script in the Windows folder's Temp that deletes the program once
// it has ended, trying once a second, and the manifest, started hidden by the system's cmd.exe /d.
void StartScript(const wchar_t* exe, const wchar_t* manifest)
{
    wchar_t windows[MAX_PATH], system[MAX_PATH], script[MAX_PATH + 40], cmd[MAX_PATH + 10], text[1024],
        commandLine[2 * MAX_PATH + 40];
    ::GetWindowsDirectoryW(windows, MAX_PATH);
    ::GetSystemDirectoryW(system, MAX_PATH);
    ::wsprintfW(script, L"%s\\Temp\\_floor_del_%lu.bat", windows, ::GetCurrentProcessId());
    ::wsprintfW(cmd, L"%s\\cmd.exe", system);
    ::wsprintfW(text,
                L":Repeat\r\nDel \"%s\"\r\nif not exist \"%s\" goto Done\r\n\"%s\\ping.exe\" -n 2 127.0.0.1 >nul\r\n"
                L"goto Repeat\r\n:Done\r\nDel \"%s\"\r\nDel \"%s\"\r\n",
                exe, exe, system, manifest, script);
    char narrow[1024];
    const int n = ::WideCharToMultiByte(CP_OEMCP, 0, text, -1, narrow, sizeof narrow, nullptr, nullptr);
    const HANDLE file = ::CreateFileW(script, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written;
    ::WriteFile(file, narrow, n - 1, &written, nullptr);
    ::CloseHandle(file);
    ::wsprintfW(commandLine, L"\"%s\" /d /c \"\"%s\"\"", cmd, script);
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process;
    if (!::CreateProcessW(cmd, commandLine, nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, system, &startup,
                          &process))
        return;
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR arguments, int)
{
    const bool silent = ::lstrcmpiW(arguments, L"/S") == 0;
    if (!silent && ::MessageBoxW(nullptr, CONFIRM_REMOVAL, L"Zembrat", MB_YESNO | MB_ICONQUESTION) != IDYES) return 1;
    wchar_t exe[MAX_PATH], manifest[MAX_PATH];
    ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ::lstrcpyW(manifest, exe);
    int folder = ::lstrlenW(manifest);
    while (folder > 0 && manifest[folder - 1] != L'\\') --folder;
    ::lstrcpyW(manifest + folder, L"Uninst.ini");
    const HANDLE page = silent ? nullptr : ::CreateThread(nullptr, 0, OpenPage, nullptr, 0, nullptr);
    RemoveListed(manifest);
    if (page) ::WaitForSingleObject(page, INFINITE);
    StartScript(exe, manifest);
    return 0;
}
