#include "WinApp.h"
#include "Wnd.h"

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

namespace {
CWinApp* g_pApp = nullptr;

// The module's file name without folder and extension: the name of an application that was
// given none.
CString ModuleBaseName(HINSTANCE hInstance)
{
    TCHAR szPath[MAX_PATH] = {};
    DWORD n = ::GetModuleFileName(hInstance, szPath, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return CString();
    CString strPath(szPath);
    int nStart = strPath.ReverseFind(TEXT('\\')) + 1;
    int nDot = strPath.ReverseFind(TEXT('.'));
    return strPath.Mid(nStart, nDot > nStart ? nDot - nStart : strPath.GetLength() - nStart);
}

// OK and OK/Cancel boxes without an icon of their own get the exclamation icon.
UINT WithDefaultIcon(UINT nType)
{
    UINT nButtons = nType & MB_TYPEMASK;
    if ((nType & MB_ICONMASK) == 0 && (nButtons == MB_OK || nButtons == MB_OKCANCEL))
        nType |= MB_ICONEXCLAMATION;
    return nType;
}
} // namespace

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
        m_strAppName = ModuleBaseName(hInstance);
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
    // Owned by the main window even while it is hidden: the box then stays above it when it is
    // shown meanwhile, and the disabled owner cannot open a second prompt.
    HWND hWndOwner = m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr;
    return ::MessageBox(hWndOwner, lpszPrompt, m_pszAppName, WithDefaultIcon(nType));
}

int AfxMessageBox(LPCTSTR lpszText, UINT nType)
{
    if (CWinApp* pApp = AfxGetApp())
        return pApp->DoMessageBox(lpszText, nType);
    // No application object (a test program): the program's name, as an application would have.
    return ::MessageBox(nullptr, lpszText, ModuleBaseName(nullptr), WithDefaultIcon(nType));
}
