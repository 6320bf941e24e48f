#pragma once
// The application object: one per module, constructed statically. For a program the framework's
// WinMain runs it (InitInstance, then the loop or ExitInstance); a library runs it from DllMain.
#include "WinThread.h"
#include "StringT.h"

class CWinApp : public CWinThread {
    DECLARE_DYNAMIC(CWinApp)
public:
    // No name: the application name becomes the executable's file name without extension.
    explicit CWinApp(LPCTSTR lpszAppName = nullptr);
    ~CWinApp() override;

    HINSTANCE m_hInstance = nullptr;
    LPCTSTR m_pszAppName = nullptr;      // caption of the application's message boxes
    LPCTSTR m_pszRegistryKey = nullptr;  // HKCU\Software\<key>\<app name> when set
    LPCTSTR m_pszProfileName = nullptr;

    BOOL InitInstance() override { return TRUE; }
    int ExitInstance() override { return 0; }

    // Fills in what the framework needs before InitInstance: instance handle and names.
    void InitApplication(HINSTANCE hInstance);
    void SetRegistryKey(LPCTSTR lpszRegistryKey);
    // The framework's default help command: this system ships no help file, so it does nothing.
    void OnHelp() {}

    // A message box with the application's name as caption; OK and OK/Cancel boxes without an
    // icon of their own get the exclamation icon.
    virtual int DoMessageBox(LPCTSTR lpszPrompt, UINT nType);

private:
    CString m_strAppName;
    CString m_strRegistryKey;
};

CWinApp* AfxGetApp();
int AfxMessageBox(LPCTSTR lpszText, UINT nType = MB_OK);
// This system hosts no ActiveX controls; kept so start-up reads as the framework expects.
inline void AfxEnableControlContainer() {}
