#pragma once
// A static-text control of a dialog template.
#include "Wnd.h"

class CStatic : public CWnd {
public:
    CStatic() = default;
};
