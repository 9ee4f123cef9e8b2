#include "uninstall/Outcome.h"
#include <windows.h>

int ExitCode(Outcome outcome, RunKind kind)
{
    static const int CODES[] = {
        ERROR_SUCCESS,                   // REMOVED
        ERROR_SUCCESS_REBOOT_REQUIRED,   // REMOVED_AT_RESTART: 3010
        ERROR_INSTALL_FAILURE,           // REMOVAL_FAILED: 1603
        ERROR_UNKNOWN_PRODUCT,           // NOTHING_INSTALLED: 1605
        ERROR_INSTALL_FAILURE,           // MANIFEST_MISSING: 1603
        ERROR_INSTALL_FAILURE,           // NOTHING_LISTED_HERE: 1603
        ERROR_INSTALL_ALREADY_RUNNING,   // PRODUCT_RUNNING: 1618
        ERROR_INSTALL_USEREXIT,          // NOBODY_TO_ANSWER: 1602
    };
    return kind == RUN_AT_DESKTOP ? 0 : CODES[outcome];
}
