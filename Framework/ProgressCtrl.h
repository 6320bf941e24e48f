#pragma once
// The common progress bar (window class msctls_progress32), usually a dialog template's control
// taken over with SubclassDlgItem.
#include "Wnd.h"
#include <commctrl.h> // after windows.h, which it needs

class CProgressCtrl : public CWnd {
    DECLARE_DYNAMIC(CProgressCtrl)
public:
    CProgressCtrl() = default;
};
