#pragma once
// A dialog built on a dialog template resource, run modally by a loop of the framework's own.
// The system's DialogBox would show a template marked visible as soon as its loop first goes idle,
// even when the dialog hid itself meanwhile; this loop leaves showing and hiding to the dialog.
#include "Wnd.h"

class CDialog;

// Binds a dialog's member controls to the template's controls (DoDataExchange).
class CDataExchange {
public:
    CDataExchange(CDialog* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd)
    {
    }
    BOOL m_bSaveAndValidate;
    CDialog* m_pDlgWnd;
};

// Subclasses the template's control nIDC as rControl, once.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);

class CDialog : public CWnd {
    DECLARE_DYNAMIC(CDialog)
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override;

    // Creates the dialog, disables its owner and runs until EndDialog; returns EndDialog's result,
    // or -1 when the dialog could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult);
    // Creates the dialog modeless, for hosts that run their own loop.
    BOOL Create();

    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

protected:
    // Runs once the template's controls exist; the base binds them through DoDataExchange.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(CDataExchange* pDX) {}
    // The first button (IDOK) and Enter; the second (IDCANCEL) and Escape.
    virtual void OnOK();
    virtual void OnCancel();

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;

    DECLARE_MESSAGE_MAP()

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    HWND FindOwner() const;
    LPCDLGTEMPLATE LoadTemplate() const;

    bool m_bModalRunning = false;
    int m_nModalResult = -1;
};
