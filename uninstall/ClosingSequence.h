#pragma once
#include "uninstall/Removal.h"

// The end of a removal at the desktop, once the progress dialog has closed: a box names what stayed,
// and when something waits for the next restart, a box asks whether to restart now; Yes restarts
// the computer. An ordinary removal shows neither. Both are logged.
void EndRemovalAtDesktop(const Leftovers& left);

// The paths that the box names, one to a line; those past the tenth are only counted.
const int STAYED_NAMED = 10;
