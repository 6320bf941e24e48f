#pragma once
// The updater's application object: one updater at a time, the progress dialog as the program's
// only window, and the instance message filtered out of the UI thread's messages.
#include "WinApp.h"

class CUpdateApp : public CWinApp {
public:
    CUpdateApp();

    BOOL InitInstance() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    BOOL EnterStartupCriticalSection(HANDLE& hStartupMutex);
    BOOL FindAnotherInstance();

    UINT m_uInstanceMsg;

    DECLARE_MESSAGE_MAP()
};

extern CUpdateApp theApp;
