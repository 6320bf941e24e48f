#pragma once
// A push button of a dialog template.
#include "Wnd.h"

class CButton : public CWnd {
public:
    CButton() = default;
};
