#include "uninstall/RemovalWorker.h"
#include "uninstall/DownloadPage.h"
#include "uninstall/Removal.h"
#include "uninstall/UninstallKey.h"

// A user's run removes the entry and Uninst.exe whatever stays, as it always has.
DWORD WINAPI UninstallThreadProc(LPVOID pParam)
{
    const HWND hwnd = static_cast<HWND>(pParam);
    OpenDownloadPage();
    RemoveListed(g_fileList, g_dirList, hwnd, g_afterExit);
    LeaveToScript(g_afterExit);
    DeleteUninstallKey();
    ::PostMessageW(hwnd, WM_QUIT, 0, 0);
    return 0;
}
