// One test program of the kit, run in a folder of its own with everything it starts in a job object.
#pragma once
#include "kit/Output.h"
#include <string>

// Generous for a slow machine: a whole run under Wine takes seconds.
const DWORD PROGRAM_TIME_LIMIT_MINUTES = 10;

// Runs the program exe in the new folder `folder`, which is its current folder and its TEMP and TMP,
// with its output into the log and its XML results copied into `results`. Whatever it started is
// ended with it. It passed when it ended with exit code 0 and its results report every test that
// it lists; else why it failed.
std::wstring RunProgram(const std::wstring& exe, const std::wstring& folder, const std::wstring& results,
                        CRunLog& log);
