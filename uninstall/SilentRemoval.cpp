#include "uninstall/SilentRemoval.h"
#include "DownloadPageUrl.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/Removal.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/UninstallKey.h"

Outcome RemoveSilently()
{
    if (FindProcessByName(L"Quorill.exe") != 0) {
        LogLine(L"refused", L"Quorill.exe is running: nothing changed");
        return PRODUCT_RUNNING;
    }
    Outcome outcome = LoadManifest();
    if (outcome != REMOVED) return outcome;
    // A machine cleaned by a deployment tool has nobody to read the page.
    LogLine(L"page", L"not opened: silent run", DOWNLOAD_PAGE_URL);

    outcome = RemoveListed(g_fileList, g_dirList, nullptr, g_afterExit);
    if (outcome == REMOVAL_FAILED) LogLine(L"key", L"kept for a retry", UninstallKeyName());
    else outcome = Worse(outcome, DeleteUninstallKey());
    if (outcome == REMOVAL_FAILED) KeepForRetry(g_afterExit);
    else LeaveToScript(g_afterExit);
    return outcome;
}
