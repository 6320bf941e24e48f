#include "Dialog.h"
#include "Module.h"
#include "WinApp.h"

IMPLEMENT_DYNAMIC(CDialog, CWnd)

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (!rControl.GetSafeHwnd())
        rControl.SubclassDlgItem(static_cast<UINT>(nIDC), pDX->m_pDlgWnd);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd)
{
}

CDialog::~CDialog()
{
    if (m_hWnd)
        DestroyWindow();
}

HWND CDialog::FindOwner() const
{
    if (m_pParentWnd)
        return m_pParentWnd->GetSafeHwnd();
    CWinApp* pApp = AfxGetApp();
    // The application's main window may be this very dialog, which cannot own itself.
    if (pApp && pApp->m_pMainWnd && pApp->m_pMainWnd != this)
        return pApp->m_pMainWnd->GetSafeHwnd();
    return nullptr;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    // From here on the dialog's messages pass through the message map first; what it leaves goes
    // on to the system's dialog procedure, which calls back here and gets FALSE.
    CDialog* pDlg = reinterpret_cast<CDialog*>(lParam);
    if (!pDlg->SubclassWindow(hWnd))
        return TRUE;
    BOOL bResult = pDlg->OnInitDialog();
    // Centred before the system shows the visible template for the first time.
    pDlg->CenterWindow();
    return bResult;
}

LPCDLGTEMPLATE CDialog::LoadTemplate() const
{
    HRSRC hResource = ::FindResource(AfxGetResourceHandle(), MAKEINTRESOURCE(m_nIDTemplate), RT_DIALOG);
    HGLOBAL hTemplate = hResource ? ::LoadResource(AfxGetResourceHandle(), hResource) : nullptr;
    return static_cast<LPCDLGTEMPLATE>(hTemplate ? ::LockResource(hTemplate) : nullptr);
}

BOOL CDialog::Create()
{
    LPCDLGTEMPLATE pTemplate = LoadTemplate();
    return pTemplate && ::CreateDialogIndirectParam(AfxGetResourceHandle(), pTemplate, FindOwner(),
                                                    &CDialog::DialogProc, reinterpret_cast<LPARAM>(this));
}

INT_PTR CDialog::DoModal()
{
    LPCDLGTEMPLATE pTemplate = LoadTemplate();
    if (!pTemplate)
        return -1;

    HWND hWndOwner = FindOwner();
    bool bOwnerDisabled = hWndOwner && ::IsWindowEnabled(hWndOwner);
    if (bOwnerDisabled)
        ::EnableWindow(hWndOwner, FALSE);

    m_nModalResult = -1;
    m_bModalRunning = true;
    HWND hWnd = ::CreateDialogIndirectParam(AfxGetResourceHandle(), pTemplate, hWndOwner, &CDialog::DialogProc,
                                            reinterpret_cast<LPARAM>(this));
    if (!hWnd)
        m_bModalRunning = false;

    CWinApp* pApp = AfxGetApp();
    while (m_bModalRunning) {
        MSG msg;
        int nGot = ::GetMessage(&msg, nullptr, 0, 0);
        if (nGot <= 0) {
            if (nGot == 0)
                ::PostQuitMessage(static_cast<int>(msg.wParam)); // leave it for the outer loop
            break;
        }
        if (pApp && pApp->PreTranslateMessage(&msg))
            continue;
        if (m_hWnd && ::IsDialogMessage(m_hWnd, &msg))
            continue;
        ::TranslateMessage(&msg);
        ::DispatchMessage(&msg);
    }

    // The owner gets the activation back before the dialog disappears, so it does not flash.
    if (bOwnerDisabled)
        ::EnableWindow(hWndOwner, TRUE);
    if (hWndOwner && ::GetActiveWindow() == m_hWnd)
        ::SetActiveWindow(hWndOwner);
    if (m_hWnd) {
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        DestroyWindow();
    }
    return m_nModalResult;
}

void CDialog::EndDialog(int nResult)
{
    m_nModalResult = nResult;
    m_bModalRunning = false;
    // Wakes the loop, which may be waiting for a message.
    if (m_hWnd)
        PostMessage(WM_NULL);
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}
