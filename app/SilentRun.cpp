#include "app/SilentRun.h"
#include "DownloadPageUrl.h"
#include "uninstall/DiskSite.h"
#include "uninstall/ProcessCheck.h"
#include "uninstall/Removal.h"
#include "uninstall/RemovalLog.h"
#include "uninstall/UninstallKey.h"

Outcome RemoveSilently(RunState& run)
{
    if (ProductIsRunning()) return PRODUCT_RUNNING;
    const Outcome loaded = LoadManifest(run.removal);
    if (loaded != REMOVED) return loaded;
    // A machine cleaned by a deployment tool has nobody to read the page.
    LogLine("page", "not opened: silent run", DOWNLOAD_PAGE_URL);

    CDiskSite disk;
    Outcome outcome = RemoveListed(run.removal, disk);
    if (KeepsForARetry(outcome, RUN_UNATTENDED)) LogLine("key", "kept for a retry", UninstallKeyName());
    else outcome = Worse(outcome, DeleteUninstallKey());
    if (KeepsForARetry(outcome, RUN_UNATTENDED)) {
        KeepForRetry(run.removal);
        return outcome;
    }
    LeaveAfterExit(run.removal);
    run.done = true;
    return outcome;
}
