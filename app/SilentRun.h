#pragma once
#include "app/RunState.h"

// The run that a deployment tool asks for: nothing is shown or asked, and the removal runs on the
// calling thread. When something stays, the uninstall entry, Uninst.exe and its manifest stay too,
// so that the same command can finish the job once the cause is gone.
Outcome RemoveSilently(RunState& run);
