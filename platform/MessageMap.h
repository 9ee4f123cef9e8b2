#pragma once
#include <windows.h>

// A message map written at the top of a dialog class. The macros expand into one override of
// OnWndMsg: an if-chain tried in order, ending in the base class's map. A handler that takes the
// message returns TRUE with its result in *pResult.
#define BEGIN_MESSAGE_MAP(theClass, baseClass) \
protected: \
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override \
    { \
        typedef theClass ThisClass; \
        typedef baseClass TheBaseClass;

#define ON_WM_PAINT() \
        if (message == WM_PAINT) { ThisClass::OnPaint(); *pResult = 0; return TRUE; }

#define ON_WM_QUERYDRAGICON() \
        if (message == WM_QUERYDRAGICON) { HCURSOR hCursor = ThisClass::OnQueryDragIcon(); *pResult = reinterpret_cast<LRESULT>(hCursor); return TRUE; }

#define ON_MESSAGE(id, memberFxn) \
        if (message == (id)) { *pResult = ThisClass::memberFxn(wParam, lParam); return TRUE; }

#define ON_COMMAND(id, memberFxn) \
        if (message == WM_COMMAND && LOWORD(wParam) == (id)) { memberFxn(); *pResult = 0; return TRUE; }

#define END_MESSAGE_MAP() \
        return TheBaseClass::OnWndMsg(message, wParam, lParam, pResult); \
    }
