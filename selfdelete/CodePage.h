#pragma once
#include <windows.h>

// The code page of the program's conversions between wide and narrow text. Chosen on the first
// call, on any thread, and kept for the life of the process.
UINT ConversionCodePage();

// The choice, step by step. The chooser starts null, which stands for ChooseCodePage; that points
// it, once, at one of the other two.
typedef UINT (*PFNCODEPAGE)();
extern PFNCODEPAGE volatile g_pfnCodePage;
UINT ChooseCodePage();
UINT ThreadCodePage();
UINT LocaleCodePage();
