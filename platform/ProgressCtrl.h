#pragma once
#include "platform/Wnd.h"
#include <commctrl.h>

// The progress bar of a dialog template, bound by DDX_Control; its window belongs to the dialog.
class CProgressCtrl : public CWnd {
public:
    void SetRange(short nLower, short nUpper) const { SendMessage(PBM_SETRANGE, 0, MAKELPARAM(nLower, nUpper)); }
    int SetPos(int nPos) const { return static_cast<int>(SendMessage(PBM_SETPOS, nPos)); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS)); }
};
