#pragma once
// The updater's progress dialog: starts the download worker, hides in the notification area while
// it runs, shows its reports in the label, the bar and the icon's tip, and hands over to the
// installer once the download is complete.
#include <mutex>
#include "Button.h"
#include "Dialog.h"
#include "DownloadSink.h"
#include "EMProgressCtrl.h"
#include "Static.h"
#include "TrayIcon.h"

class CDownloadSinkGate;

class CUpdateDlg : public CDialog, public IDownloadSink {
public:
    explicit CUpdateDlg(CWnd* pParent = nullptr);
    ~CUpdateDlg() override;

    // Called on the worker's thread; the window calls they make are served by the UI thread.
    void SetProductSize(ULONGLONG ullProductSize) override;
    void UpdateProgress(ULONGLONG ullDownloadSize) override; // throws when no size was announced
    HWND GetNotifyWindow() override { return GetSafeHwnd(); }

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    void OnOK() override;
    void OnCancel() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    LRESULT OnTrayNotification(WPARAM wp, LPARAM lp);
    LRESULT OnDownloadStart(WPARAM wp, LPARAM lp);
    LRESULT OnDownloadFinish(WPARAM wp, LPARAM lp);
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
    BOOL StartInstaller();
    void DeleteInstaller();
    // Only what changes reaches the window: the worker reports every 4096 bytes. While the window
    // is hidden the latest text waits and is put in place before the window shows again.
    void SetStatusText(const CString& strText);
    void HoldStatus();
    void ReleaseStatus();

    std::mutex m_statusLock;
    CString m_strStatusShown; // what the label shows, or will show once the window is shown
    bool m_bStatusHeld = false;
    bool m_bStatusPending = false;
    int m_nShownPercent = -1; // in the bar and the tip
    // What the worker holds instead of this object, so that it never calls into a dialog that has
    // gone (the worker outlives the dialog when the user ends it mid-download).
    CDownloadSinkGate* m_pSinkGate = nullptr;
};
