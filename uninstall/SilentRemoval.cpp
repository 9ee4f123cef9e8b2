#include "uninstall/SilentRemoval.h"
#include "DownloadPageUrl.h"
#include "uninstall/AfterExit.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/RunState.h"
#include "uninstall/UninstallKey.h"

Outcome RemoveSilently()
{
    if (ProductIsRunning()) return PRODUCT_RUNNING;
    Outcome outcome = LoadManifest();
    if (outcome != REMOVED) return outcome;
    // A machine cleaned by a deployment tool has nobody to read the page.
    LogLine(L"page", L"not opened: silent run", DOWNLOAD_PAGE_URL);

    outcome = RemoveListed(g_fileList, g_dirList, nullptr, g_leftovers);
    if (outcome == REMOVAL_FAILED) LogLine(L"key", L"kept for a retry", UninstallKeyName());
    else outcome = Worse(outcome, DeleteUninstallKey());
    if (outcome == REMOVAL_FAILED) KeepForRetry(g_leftovers);
    else LeaveAfterExit(g_leftovers);
    return outcome;
}
