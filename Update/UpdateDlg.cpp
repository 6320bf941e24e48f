#include "UpdateDlg.h"
#include <stdexcept>
#include <string>
#include "AnsiText.h"
#include "DC.h"
#include "InstallerStart.h"
#include "Module.h"
#include "PublisherSignature.h"
#include "UniqueHandle.h"
#include "UpdateDlgSink.h"
#include "UpdateDownload.h"
#include "UpdateReadyValue.h"
#include "WinApp.h"
#include "resource.h"

namespace {
const char kProductName[] = "Korvane";
const char kProductKey[] = "Software\\Halden Forge\\Korvane";
const UINT WM_TRAY_NOTIFY = WM_USER;
const UINT WM_DOWNLOAD_START = WM_USER + 1;
const UINT WM_DOWNLOAD_FINISH = WM_USER + 2;

int ToKilobytes(ULONGLONG ullBytes)
{
    return static_cast<int>(ullBytes / 1024);
}

// The nearest whole percentage, halves rounded up.
int RoundedPercent(ULONGLONG ullPart, ULONGLONG ullWhole)
{
    ULONGLONG ullScaled = ullPart * 100;
    ULONGLONG ullPercent = ullScaled / ullWhole;
    if ((ullScaled % ullWhole) * 2 >= ullWhole)
        ++ullPercent;
    return ullPercent > 100 ? 100 : static_cast<int>(ullPercent);
}
} // namespace

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_MESSAGE(WM_TRAY_NOTIFY, OnTrayNotification)
    ON_MESSAGE(WM_DOWNLOAD_START, OnDownloadStart)
    ON_MESSAGE(WM_DOWNLOAD_FINISH, OnDownloadFinish)
    ON_MESSAGE(WM_DOWNLOAD_SIZE, OnDownloadSize)
    ON_MESSAGE(WM_DOWNLOAD_PROGRESS, OnDownloadProgress)
    ON_COMMAND(ID_TRAY_SHOWPROGRESS, OnShowProgress)
    ON_COMMAND(ID_TRAY_QUIT, OnQuit)
END_MESSAGE_MAP()

CUpdateDlg::CUpdateDlg(CWnd* pParent)
    : CDialog(IDD_UPDATE_DIALOG, pParent),
      m_strProduct(kProductName),
      m_ullProductSize(0),
      m_nPercent(0),
      m_trayIcon(IDI_TRAYICON),
      m_hIcon(::LoadIcon(AfxGetResourceHandle(), MAKEINTRESOURCE(IDR_MAINFRAME))),
      m_uTaskbarCreated(::RegisterWindowMessageA("TaskbarCreated"))
{
}

CUpdateDlg::~CUpdateDlg() = default;

void CUpdateDlg::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_STATUS, m_wndStatus);
    DDX_Control(pDX, IDC_PROGRESS, m_wndProgress);
    DDX_Control(pDX, IDOK, m_btnOK);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
}

BOOL CUpdateDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    SetIcon(m_hIcon, TRUE);
    SetProductSize(0);
    CString strCaption;
    strCaption.Format("%s Updater", m_strProduct.GetString());
    SetWindowText(strCaption);
    m_wndProgress.SetRange(0, 100);
    m_wndProgress.SetShowText(TRUE);
    // An updater started elevated by the product would otherwise never hear that Explorer has
    // restarted: the system drops messages from processes of a lower integrity level, as
    // Explorer's broadcast is (Windows 7 and later).
    if (m_uTaskbarCreated != 0)
        ::ChangeWindowMessageFilterEx(m_hWnd, m_uTaskbarCreated, MSGFLT_ALLOW, nullptr);
    PostMessage(WM_DOWNLOAD_START, 0, 0);
    return TRUE;
}

void CUpdateDlg::SetStatusText(const CString& strText)
{
    if (strText == m_strStatusShown && !m_strStatusShown.IsEmpty())
        return;
    m_strStatusShown = strText;
    m_wndStatus.SetWindowText(strText);
}

void CUpdateDlg::SetProductSize(ULONGLONG ullProductSize)
{
    m_ullProductSize = ullProductSize;
    CString strText;
    if (ullProductSize == 0)
        strText.Format("Downloading Update: %s", m_strProduct.GetString());
    else
        strText.Format("Downloading Update: %s (0 KB of %d KB)", m_strProduct.GetString(),
                       ToKilobytes(ullProductSize));
    SetStatusText(strText);
}

void CUpdateDlg::UpdateProgress(ULONGLONG ullDownloadSize)
{
    if (m_ullProductSize == 0)
        throw std::logic_error("no download size was announced");
    m_nPercent = RoundedPercent(ullDownloadSize, m_ullProductSize);
    // The same percentage would fill the same width and write the same tip again.
    if (m_nPercent != m_nShownPercent) {
        m_nShownPercent = m_nPercent;
        m_wndProgress.SetPos(m_nPercent);
        CString strTip;
        strTip.Format("Downloaded %d%%", m_nPercent);
        m_trayIcon.UpdateTip(strTip);
    }
    CString strText;
    strText.Format("Downloading Update: %s (%d KB of %d KB)", m_strProduct.GetString(),
                   ToKilobytes(ullDownloadSize), ToKilobytes(m_ullProductSize));
    SetStatusText(strText);
}

BOOL CUpdateDlg::ShowTrayIcon()
{
    // A refused change marks the icon as not shown, so the second call adds it anew: the taskbar
    // that knew the icon may have gone.
    return m_trayIcon.SetIcon(IDI_TRAYICON) || m_trayIcon.SetIcon(IDI_TRAYICON);
}

void CUpdateDlg::GoToTray()
{
    m_trayIcon.SetNotificationWnd(this, WM_TRAY_NOTIFY);
    // Hidden without an icon the updater could not be reached, and its instance marker would
    // keep every later updater from starting: it stays on screen instead.
    if (!ShowTrayIcon()) {
        ShowWindow(SW_SHOW);
        return;
    }
    m_bInTray = true;
    ShowWindow(SW_HIDE);
}

void CUpdateDlg::ShowFromTray()
{
    m_bInTray = false;
    ShowWindow(SW_SHOW);
    m_trayIcon.SetIcon(0U);
}

void CUpdateDlg::EndFromTray()
{
    EndUpdater(); // which removes the icon in every case
}

void CUpdateDlg::EndUpdater()
{
    // First, before anything that may keep this thread: a worker waiting to ask the server again
    // stops at once, as one in a transfer does after its chunk.
    CancelDownload();
    // Whatever the icon's record says: an add reported as failed may have left an icon that
    // would otherwise stay behind after the updater has gone.
    m_trayIcon.DeleteIcon();
    m_bEnded = true;
    m_bInTray = false;
    CDialog::OnCancel();
}

LRESULT CUpdateDlg::OnDownloadStart(WPARAM, LPARAM)
{
    // WM_USER+1 is also the dialog manager's DM_SETDEFID. Only the first starts the worker: a
    // second one would share the path buffer and the file with the first.
    if (m_bWorkerStarted)
        return Default();
    m_bWorkerStarted = true;
    GoToTray();
    DWORD dwThreadId = 0;
    CUniqueKernelHandle thread(
        ::CreateThread(nullptr, 0, &CUpdateDlgSink::ThreadFunc, m_hWnd, 0, &dwThreadId));
    return 1;
}

LRESULT CUpdateDlg::OnDownloadSize(WPARAM wp, LPARAM lp)
{
    return HandleReport(&CUpdateDlg::SetProductSize, ReportedValue(wp, lp));
}

LRESULT CUpdateDlg::OnDownloadProgress(WPARAM wp, LPARAM lp)
{
    return HandleReport(&CUpdateDlg::UpdateProgress, ReportedValue(wp, lp));
}

LRESULT CUpdateDlg::HandleReport(void (CUpdateDlg::*pfnReport)(ULONGLONG), ULONGLONG ullValue)
{
    // From EndDialog on the controls are about to go: the worker hears that nobody shows its
    // download any more.
    if (m_bEnded)
        return 0;
    try {
        (this->*pfnReport)(ullValue);
    } catch (...) {
        return 0; // no size announced, or no memory for the texts; nothing leaves a window procedure
    }
    return 1;
}

BOOL CUpdateDlg::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)
{
    // A registered message has no fixed id for the message map.
    if (message == m_uTaskbarCreated && m_uTaskbarCreated != 0) {
        *pResult = OnTaskbarCreated(wParam, lParam);
        return TRUE;
    }
    // Only top-level windows hear of new system colours (a high-contrast theme switched on);
    // the common controls documentation asks their owner to pass the message on to them.
    if (message == WM_SYSCOLORCHANGE) {
        for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
            ::SendMessage(hChild, WM_SYSCOLORCHANGE, wParam, lParam);
    }
    return CDialog::OnWndMsg(message, wParam, lParam, pResult);
}

LRESULT CUpdateDlg::OnTaskbarCreated(WPARAM, LPARAM)
{
    // A taskbar created anew (Explorer restarted, or it came up after the updater) shows none of
    // the icons of the one before.
    if (m_bInTray && !ShowTrayIcon()) {
        m_bInTray = false;
        ShowWindow(SW_SHOW);
    }
    return 0;
}

LRESULT CUpdateDlg::OnDownloadFinish(WPARAM, LPARAM)
{
    if (g_bOperationIsCanceled == 1 || g_bOperationIsFinished != 1) {
        EndUpdater();
        return 0;
    }
    {
        CUniqueRegKey key;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kProductKey, 0, KEY_SET_VALUE, key.Put()) != ERROR_SUCCESS)
            return 0;
        static const char kReady[] = "1";
        if (::RegSetValueExA(key.Get(), "UpdateReadyToInstall", 0, REG_SZ,
                             reinterpret_cast<const BYTE*>(kReady), sizeof(kReady)) != ERROR_SUCCESS)
            return 0;
    }

    RECT rcStatus, rcProgress;
    m_wndStatus.GetWindowRect(&rcStatus);
    m_wndProgress.GetWindowRect(&rcProgress);
    rcStatus.bottom = rcProgress.bottom;
    ScreenToClient(&rcStatus);
    m_wndStatus.MoveWindow(&rcStatus, TRUE);
    m_wndProgress.ShowWindow(SW_HIDE);

    CString strButton;
    strButton.Format("&Install %s", m_strProduct.GetString());
    m_btnOK.SetWindowText(strButton);
    CString strText;
    strText.Format("Please close all instances of %s now, \n\nthen click the button \"%s\" to install it, "
                   "or \"Cancel\" to exit.",
                   m_strProduct.GetString(), strButton.GetString());
    SetStatusText(strText);

    ShowFromTray();
    return 1;
}

BOOL CUpdateDlg::StartInstaller()
{
    return StartInstallerProcess(m_hWnd, g_szLocalUpdateFile);
}

// The record that an update is ready goes first: it must never name a file that is gone. The
// deletion's result is ignored, as the dialog ends either way.
void CUpdateDlg::DeleteInstaller()
{
    if (RemoveUpdateReadyValue())
        ::DeleteFileA(g_szLocalUpdateFile);
}

void CUpdateDlg::OnOK()
{
    if (g_bOperationIsFinished != 1) {
        GoToTray();
        return;
    }
    // The file has waited in a folder the user's programs can write: check it again, and hold it
    // open meanwhile so that nobody writes, renames or deletes it between check and start (a file
    // that someone else holds open for writing cannot be held so, and is refused).
    CUniqueFileHandle installer(::CreateFileA(g_szLocalUpdateFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // The check, the emptying and the start go by the path of the file held open, every link on
    // the way resolved: a junction or symbolic link that another program turns elsewhere after the
    // check then leads nowhere that counts. Nothing is deleted through a path that is not that.
    if (installer &&
        !ReplaceWithFinalPath(installer.Get(), g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile))) {
        installer.Reset();
        RemoveUpdateReadyValue();
        EndFromTray();
        return;
    }
    // On this thread the check takes revocation data from the cache only: the click must never
    // wait for the network.
    if (!IsSignedByUpdaterPublisher(g_szLocalUpdateFile, installer.Get(), RevocationRetrieval::CacheOnly)) {
        installer.Reset();
        DeleteInstaller();
        EndFromTray();
        return;
    }
    // Emptied of all else right before the start, for what lies beside an elevated program may be
    // loaded by it.
    std::wstring strInTheWay;
    if (!RemoveAllButInstaller(g_szLocalUpdateFile, &strInTheWay)) {
        installer.Reset();
        if (strInTheWay.empty()) {
            DeleteInstaller();
            EndFromTray();
        } else {
            // Another program holds it: the user can close that program and click again.
            ShowFileInTheWay(strInTheWay);
        }
        return;
    }
    if (StartInstaller())
        EndFromTray();
}

void CUpdateDlg::ShowFileInTheWay(const std::wstring& strFile)
{
    try {
        CString strText;
        strText.Format("The update cannot be installed while another program uses this file:\n\n%s\n\n"
                       "Close that program, then click \"Install %s\" again.",
                       WideToAnsi(strFile).c_str(), m_strProduct.GetString());
        AfxMessageBox(strText, MB_OK);
    } catch (...) {
        // No memory for the text: the installer stays, and the next click tries again.
    }
}

void CUpdateDlg::OnCancel()
{
    if (g_bOperationIsFinished == 1) {
        if (AfxMessageBox("Not install and cancel all updates?", MB_OKCANCEL) == IDOK) {
            DeleteInstaller();
            EndFromTray();
        }
    } else if (AfxMessageBox("Stop downloading and cancel all updates?", MB_OKCANCEL) == IDOK) {
        EndFromTray();
    }
}

void CUpdateDlg::OnQuit()
{
    if (AfxMessageBox("Stop downloading and cancel all updates?", MB_OKCANCEL) == IDOK)
        EndFromTray();
}

void CUpdateDlg::OnShowProgress()
{
    ShowFromTray();
}

LRESULT CUpdateDlg::OnTrayNotification(WPARAM wp, LPARAM lp)
{
    // WM_USER is also the dialog manager's DM_GETDEFID: what does not come from the icon gets the
    // dialog's own answer, so that Enter still finds the default button.
    if (!m_trayIcon.OnTrayNotification(wp, lp))
        return Default();
    switch (static_cast<UINT>(lp)) {
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        return ShowTrayMenu();
    case WM_LBUTTONDBLCLK:
        ShowFromTray();
        return 1;
    default:
        return 1;
    }
}

LRESULT CUpdateDlg::ShowTrayMenu()
{
    CUniqueMenu menu(::LoadMenu(AfxGetResourceHandle(), MAKEINTRESOURCE(IDR_TRAYMENU)));
    if (!menu)
        return 0;
    HMENU hPopup = ::GetSubMenu(menu.Get(), 0);
    if (!hPopup)
        return 0;
    ::SetMenuDefaultItem(hPopup, 0, TRUE);
    POINT pt = {};
    ::GetCursorPos(&pt);
    // Microsoft documents for a notification icon's menu (TrackPopupMenu): its owner must be the
    // foreground window, or the menu does not close when the user clicks elsewhere; and a harmless
    // message posted to the owner afterwards forces the task switch without which the next
    // right-click's menu appears and vanishes at once.
    HWND hWndBefore = ::GetForegroundWindow();
    SetForegroundWindow();
    UINT uCommand = static_cast<UINT>(::TrackPopupMenu(hPopup, TPM_RETURNCMD, pt.x, pt.y, 0, m_hWnd, nullptr));
    PostMessage(WM_NULL);
    if (uCommand != 0) {
        // Posted as the menu itself would post it, to run once the menu has gone.
        PostMessage(WM_COMMAND, MAKEWPARAM(uCommand, 0), 0);
    } else if (!IsWindowVisible()) {
        // Closed without a command: a hidden dialog left in the foreground would take the keys
        // typed next (Escape would ask to stop the download out of nowhere).
        if (hWndBefore == m_hWnd || !::IsWindow(hWndBefore) || !::IsWindowVisible(hWndBefore))
            hWndBefore = ::GetShellWindow();
        if (hWndBefore)
            ::SetForegroundWindow(hWndBefore);
    }
    return 1;
}

void CUpdateDlg::OnPaint()
{
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int cxIcon = ::GetSystemMetrics(SM_CXICON);
    int cyIcon = ::GetSystemMetrics(SM_CYICON);
    RECT rc;
    GetClientRect(&rc);
    int x = (rc.right - rc.left - cxIcon + 1) / 2;
    int y = (rc.bottom - rc.top - cyIcon + 1) / 2;
    ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HCURSOR CUpdateDlg::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}
