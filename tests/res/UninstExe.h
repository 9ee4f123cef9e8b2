// The executable that the checks read: the Uninst.exe beside this program, which is the build's own
// in the tests' folder, the shipped one in the test kit, or a signed one that a copy of this program
// was put beside.
#pragma once
#include "uninstall/Manifest.h"

inline const wchar_t* UninstExe()
{
    static const CString path = GetModuleDirectory() + L"Uninst.exe";
    return path;
}
