#pragma once
// A thread with a message loop; the application object is the main one.
#include "CmdTarget.h"

class CWnd;

class CWinThread : public CCmdTarget {
    DECLARE_DYNAMIC(CWinThread)
public:
    CWinThread() = default;

    CWnd* m_pMainWnd = nullptr;

    virtual BOOL InitInstance() { return FALSE; }
    virtual int ExitInstance() { return 0; }
    // The thread's message loop, until WM_QUIT.
    virtual int Run();
    // Called for every message taken from the thread's queue before it is translated and
    // dispatched; TRUE means consumed. The default offers it to the target window and its parents.
    virtual BOOL PreTranslateMessage(MSG* pMsg);
    // One message of a loop: filter, translate, dispatch. FALSE on WM_QUIT.
    BOOL PumpMessage();
};
