#pragma once
// The extension's framework application object: its start-up and shut-down bring the COM module
// up and down with the library.
#include "WinApp.h"

class CShellExtApp : public CWinApp {
public:
    BOOL InitInstance() override;
    int ExitInstance() override;
};

extern CShellExtApp theApp;
