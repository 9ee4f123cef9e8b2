#include "uninstall/RemovalWorker.h"
#include "DownloadPage.h"
#include "app/UninstallerApp.h"
#include "ui/UninstallerDialog.h"
#include <shellapi.h>

static const WCHAR UNINSTALL_KEY[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Quorill2010";

DWORD WINAPI UninstallThreadProc(LPVOID pParam)
{
    const CUninstallerDialog* pDlg = static_cast<CUninstallerDialog*>(pParam);

    ::ShellExecuteW(nullptr, L"open", DOWNLOAD_PAGE_URL, L"", L"", SW_SHOW);

    for (INT_PTR i = 0; i < g_fileList.GetCount(); ++i) {
        ::DeleteFileW(g_fileList.GetAt(g_fileList.FindIndex(i)));
        pDlg->PostMessage(WM_UNINST_STEP);
    }
    // Only empty directories go: nothing here ever descends into one.
    for (INT_PTR i = 0; i < g_dirList.GetCount(); ++i) {
        ::RemoveDirectoryW(g_dirList.GetAt(g_dirList.FindIndex(i)));
        pDlg->PostMessage(WM_UNINST_STEP);
    }

    g_uninstallDone = 1;

    HKEY hKey;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY, 0, KEY_ALL_ACCESS, &hKey) == ERROR_SUCCESS) {
        ::RegCloseKey(hKey);
        ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, UNINSTALL_KEY);
    }

    pDlg->PostMessage(WM_QUIT);
    return 0;
}
