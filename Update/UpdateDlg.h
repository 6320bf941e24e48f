#pragma once
// The updater's progress dialog: starts the download worker, hides in the notification area while
// it runs, shows its reports in the label, the bar and the icon's tip, and hands over to the
// installer once the download is complete.
#include <string>
#include "Button.h"
#include "Dialog.h"
#include "EMProgressCtrl.h"
#include "Static.h"
#include "TrayIcon.h"

class CUpdateDlg : public CDialog {
public:
    explicit CUpdateDlg(CWnd* pParent = nullptr);
    ~CUpdateDlg() override;

    // The worker's reports (CUpdateDlgSink), run on the user-interface thread as the window
    // handles them: the worker's thread never touches this object or its controls.
    void SetProductSize(ULONGLONG ullProductSize);
    void UpdateProgress(ULONGLONG ullDownloadSize); // throws when no size was announced

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    LRESULT OnTrayNotification(WPARAM wp, LPARAM lp);
    LRESULT OnDownloadStart(WPARAM wp, LPARAM lp);
    LRESULT OnDownloadFinish(WPARAM wp, LPARAM lp);
    LRESULT OnDownloadSize(WPARAM wp, LPARAM lp);
    LRESULT OnDownloadProgress(WPARAM wp, LPARAM lp);
    LRESULT OnTaskbarCreated(WPARAM wp, LPARAM lp);
    void OnShowProgress();
    void OnQuit();

    DECLARE_MESSAGE_MAP()

    CString m_strProduct;
    ULONGLONG m_ullProductSize;
    int m_nPercent;
    CTrayIcon m_trayIcon;
    CStatic m_wndStatus;
    CEMProgressCtrl m_wndProgress;
    CButton m_btnOK;
    CButton m_btnCancel;
    HICON m_hIcon;

private:
    void GoToTray();
    void ShowFromTray();
    void EndFromTray();
    // The icon's context menu; 1 when it was shown.
    LRESULT ShowTrayMenu();
    // Removes the icon and ends the dialog; from here on the worker's reports are refused.
    void EndUpdater();
    BOOL StartInstaller();
    // Tells the user which file beside the installer another program keeps from being removed.
    void ShowFileInTheWay(const std::wstring& strFile);
    void DeleteInstaller();
    BOOL ShowTrayIcon();
    // 1 when the report was shown, 0 when it was refused.
    LRESULT HandleReport(void (CUpdateDlg::*pfnReport)(ULONGLONG), ULONGLONG ullValue);
    // Only what changes reaches the window: the worker reports every 4096 bytes.
    void SetStatusText(const CString& strText);

    CString m_strStatusShown;
    int m_nShownPercent = -1; // in the bar and the tip
    bool m_bWorkerStarted = false;
    bool m_bInTray = false; // hidden, the icon being the user's way back
    bool m_bEnded = false;  // from the moment the dialog is told to end
    UINT m_uTaskbarCreated; // the shell's message for a taskbar created anew
};
