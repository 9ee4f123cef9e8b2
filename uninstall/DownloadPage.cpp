#include "uninstall/DownloadPage.h"
#include "DownloadPageUrl.h"
#include "platform/Com.h"
#include "platform/Handle.h"
#include "platform/String.h"
#include "uninstall/RemovalLog.h"
#include <exdisp.h>
#include <shellapi.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

// When the process cannot tell, it takes the safe way and counts as elevated.
static bool IsElevated()
{
    HANDLE hToken;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &hToken)) return true;
    const CHandle token(hToken);
    TOKEN_ELEVATION elevation;
    DWORD size;
    if (::GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size))
        return elevation.TokenIsElevated != 0;
    // Windows XP has no elevation to ask about: a program runs with the rights of whoever started it.
    return ::GetLastError() != ERROR_INVALID_PARAMETER;
}

// The way from the desktop's shell window to the shell's own dispatch object, whose ShellExecute
// runs in Explorer's process. Each step's name, for the log, when it fails.
static const char* OpenThroughDesktopShell(HRESULT& hr)
{
    CComPtr<IShellWindows> windows;
    hr = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Out());
    if (hr != S_OK || !windows.p) return "ShellWindows";
    VARIANT desktopFolder, none;
    desktopFolder.vt = VT_I4;
    desktopFolder.lVal = CSIDL_DESKTOP;
    none.vt = VT_EMPTY;
    long hwnd;
    CComPtr<IDispatch> desktop;
    hr = windows->FindWindowSW(&desktopFolder, &none, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, &desktop);
    if (hr != S_OK || !desktop.p) return "FindWindowSW";
    CComPtr<IServiceProvider> provider;
    hr = desktop->QueryInterface(IID_IServiceProvider, provider.Out());
    if (hr != S_OK || !provider.p) return "IServiceProvider";
    CComPtr<IShellBrowser> browser;
    hr = provider->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out());
    if (hr != S_OK || !browser.p) return "SID_STopLevelBrowser";
    CComPtr<IShellView> view;
    hr = browser->QueryActiveShellView(&view);
    if (hr != S_OK || !view.p) return "QueryActiveShellView";
    CComPtr<IDispatch> background;
    hr = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out());
    if (hr != S_OK || !background.p) return "GetItemObject";
    CComPtr<IShellFolderViewDual> folderView;
    hr = background->QueryInterface(IID_IShellFolderViewDual, folderView.Out());
    if (hr != S_OK || !folderView.p) return "IShellFolderViewDual";
    CComPtr<IDispatch> application;
    hr = folderView->get_Application(&application);
    if (hr != S_OK || !application.p) return "Application";
    CComPtr<IShellDispatch2> shell;
    hr = application->QueryInterface(IID_IShellDispatch2, shell.Out());
    if (hr != S_OK || !shell.p) return "IShellDispatch2";

    const CComBSTR url(DOWNLOAD_PAGE_URL), empty(L""), open(L"open");
    VARIANT args, dir, verb, show;
    args.vt = dir.vt = verb.vt = VT_BSTR;
    args.bstrVal = dir.bstrVal = empty;
    verb.bstrVal = open;
    show.vt = VT_I4;
    show.lVal = SW_SHOWNORMAL;
    hr = shell->ShellExecute(url, args, dir, verb, show);
    return hr == S_OK ? nullptr : "ShellExecute";
}

void OpenDownloadPage()
{
    // Asked through COM either way: ShellExecuteW may hand the address to a shell extension.
    const CComInit com;
    if (!IsElevated()) {
        const INT_PTR opened = reinterpret_cast<INT_PTR>(::ShellExecuteW(nullptr, L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOW));
        LogLine("page", opened > 32 ? "opened: not elevated" : "not opened: not elevated, the shell refused", DOWNLOAD_PAGE_URL);
        return;
    }
    HRESULT hr;
    const char* const failedStep = OpenThroughDesktopShell(hr);
    if (!failedStep) {
        LogLine("page", "opened by the desktop's shell", DOWNLOAD_PAGE_URL);
        return;
    }
    WCHAR why[120];
    ::wsprintfW(why, L"not opened: no desktop shell to open it as the desktop's user (%hs: 0x%08lX)", failedStep, hr);
    LogLine(L"page", why, DOWNLOAD_PAGE_URL);
}

static CHandle s_pageThread(nullptr);

static DWORD WINAPI PageThreadProc(LPVOID)
{
    OpenDownloadPage();
    return 0;
}

void StartDownloadPage()
{
    s_pageThread.Attach(::CreateThread(nullptr, 0, PageThreadProc, nullptr, 0, nullptr));
    if (!s_pageThread.IsValid())
        LogLine(L"page", CString("not opened: no thread to ask for it: ") + CErrorText(::GetLastError()), DOWNLOAD_PAGE_URL);
}

void WaitForDownloadPage()
{
    if (!s_pageThread.IsValid() || ::WaitForSingleObject(s_pageThread, DOWNLOAD_PAGE_WAIT_MS) != WAIT_TIMEOUT) return;
    WCHAR why[100];
    ::wsprintfW(why, L"not opened: the desktop's shell gave no answer in %lu s; Uninst.exe ended without it",
                DOWNLOAD_PAGE_WAIT_MS / 1000);
    LogLine(L"page", why, DOWNLOAD_PAGE_URL);
}
