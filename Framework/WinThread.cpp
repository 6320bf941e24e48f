#include "WinThread.h"
#include "Wnd.h"

IMPLEMENT_DYNAMIC(CWinThread, CCmdTarget)

BOOL CWinThread::PreTranslateMessage(MSG* pMsg)
{
    return CWnd::WalkPreTranslateTree(m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr, pMsg);
}

BOOL CWinThread::PumpMessage()
{
    MSG msg;
    if (::GetMessage(&msg, nullptr, 0, 0) <= 0)
        return FALSE;
    if (!PreTranslateMessage(&msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessage(&msg);
    }
    return TRUE;
}

int CWinThread::Run()
{
    while (PumpMessage()) {
    }
    return ExitInstance();
}
