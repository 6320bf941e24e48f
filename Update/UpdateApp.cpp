#include "UpdateApp.h"
#include <commctrl.h>
#include "UniqueHandle.h"
#include "UpdateDlg.h"

namespace {
// Without a namespace prefix: each desktop session has its own pair.
const char kStartupMutexName[] = "STARTUP_3F9B2C61-D4A8-4e57-8C0D-7A15E2B9406F";
const char kInstanceName[] = "{3F9B2C61-D4A8-4e57-8C0D-7A15E2B9406F}";
const UINT ID_HELP = 0xE146;
} // namespace

CUpdateApp theApp;

BEGIN_MESSAGE_MAP(CUpdateApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

CUpdateApp::CUpdateApp() : CWinApp(nullptr), m_uInstanceMsg(0)
{
}

BOOL CUpdateApp::InitInstance()
{
    HANDLE hStartupMutex = nullptr;
    if (EnterStartupCriticalSection(hStartupMutex) == 1) {
        CUniqueKernelHandle startupLock(hStartupMutex);
        BOOL bFound = FindAnotherInstance();
        ::ReleaseMutex(startupLock.Get());
        startupLock.Reset();
        if (bFound)
            return FALSE;
    }

    ::InitCommonControls();
    CWinApp::InitInstance();
    AfxEnableControlContainer();
    SetRegistryKey("Korvane");

    {
        CUpdateDlg dlg;
        m_pMainWnd = &dlg;
        dlg.DoModal();
        m_pMainWnd = nullptr;
    }
    return FALSE;
}

BOOL CUpdateApp::EnterStartupCriticalSection(HANDLE& hStartupMutex)
{
    hStartupMutex = ::CreateMutexA(nullptr, FALSE, kStartupMutexName);
    if (!hStartupMutex)
        return 0;
    // An abandoned lock (its last owner died holding it) is ours now all the same.
    if (::WaitForSingleObject(hStartupMutex, INFINITE) == WAIT_FAILED) {
        ::CloseHandle(hStartupMutex);
        return 0;
    }
    return 1;
}

BOOL CUpdateApp::FindAnotherInstance()
{
    m_uInstanceMsg = ::RegisterWindowMessageA(kInstanceName);
    // Never closed: the marker lives as long as this process and goes with it, however it ends.
    HANDLE hMarker = ::CreateMutexA(nullptr, FALSE, kInstanceName);
    DWORD dwError = ::GetLastError();
    (void)hMarker;
    return dwError == ERROR_ALREADY_EXISTS || dwError == ERROR_ACCESS_DENIED;
}

BOOL CUpdateApp::PreTranslateMessage(MSG* pMsg)
{
    if (m_uInstanceMsg != 0 && pMsg->message == m_uInstanceMsg) {
        if (pMsg->wParam != 0)
            ::GlobalDeleteAtom(static_cast<ATOM>(pMsg->wParam));
        return TRUE;
    }
    return CWinApp::PreTranslateMessage(pMsg);
}
