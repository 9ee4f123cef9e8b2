// The executable that the checks read: the build's own, or another one, such as a signed copy,
// named by the environment variable UNINST_EXE_WIN (a Windows path).
#pragma once
#include <stdlib.h>

inline const wchar_t* UninstExe()
{
    const wchar_t* other = _wgetenv(L"UNINST_EXE_WIN");
    return other && *other ? other : UNINST_EXE;
}
