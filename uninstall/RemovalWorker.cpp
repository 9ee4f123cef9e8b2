#include "uninstall/RemovalWorker.h"
#include "uninstall/AfterExit.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/RunState.h"
#include "uninstall/UninstallKey.h"

// A user's run removes the entry and Uninst.exe whatever stays, as it always has.
DWORD WINAPI UninstallThreadProc(LPVOID pParam)
{
    const HWND hwnd = static_cast<HWND>(pParam);
    StartDownloadPage();
    RemoveListed(g_fileList, g_dirList, hwnd, g_leftovers);
    LeaveAfterExit(g_leftovers);
    DeleteUninstallKey();
    ::PostMessageW(hwnd, WM_QUIT, 0, 0);
    return 0;
}
