#include "WinApp.h"
#include "Wnd.h"

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp* AfxGetApp()
{
    return g_pApp;
}

CWinApp::CWinApp(LPCTSTR lpszAppName)
{
    if (lpszAppName) {
        m_strAppName = lpszAppName;
        m_pszAppName = m_strAppName;
    }
    g_pApp = this;
}

CWinApp::~CWinApp()
{
    if (g_pApp == this)
        g_pApp = nullptr;
}

void CWinApp::InitApplication(HINSTANCE hInstance)
{
    m_hInstance = hInstance;
    if (m_strAppName.IsEmpty()) {
        TCHAR szPath[MAX_PATH] = {};
        DWORD n = ::GetModuleFileName(hInstance, szPath, MAX_PATH);
        if (n > 0 && n < MAX_PATH) {
            CString strPath(szPath);
            int nStart = strPath.ReverseFind(TEXT('\\')) + 1;
            int nDot = strPath.ReverseFind(TEXT('.'));
            m_strAppName = strPath.Mid(nStart, nDot > nStart ? nDot - nStart : strPath.GetLength() - nStart);
        }
        m_pszAppName = m_strAppName;
    }
}

void CWinApp::SetRegistryKey(LPCTSTR lpszRegistryKey)
{
    m_strRegistryKey = lpszRegistryKey;
    m_pszRegistryKey = m_strRegistryKey;
    m_pszProfileName = m_pszAppName;
}

int CWinApp::DoMessageBox(LPCTSTR lpszPrompt, UINT nType)
{
    if ((nType & MB_ICONMASK) == 0 && ((nType & MB_TYPEMASK) == MB_OK || (nType & MB_TYPEMASK) == MB_OKCANCEL))
        nType |= MB_ICONEXCLAMATION;
    HWND hWndOwner = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    if (hWndOwner && !::IsWindowVisible(hWndOwner))
        hWndOwner = nullptr; // a hidden owner would hide the box's taskbar presence
    return ::MessageBox(hWndOwner, lpszPrompt, m_pszAppName, nType);
}

int AfxMessageBox(LPCTSTR lpszText, UINT nType)
{
    if (CWinApp* pApp = AfxGetApp())
        return pApp->DoMessageBox(lpszText, nType);
    return ::MessageBox(nullptr, lpszText, nullptr, nType | MB_ICONEXCLAMATION);
}
