// Whether the test kit may run on this machine now, and what the machine is.
#pragma once
#include <string>

// Why the kit must not run here, or nothing when it may.
std::wstring WhyNotHere();

// The lines that start the log: Windows as it reports itself, the code pages, the date.
std::wstring DescribeMachine();
