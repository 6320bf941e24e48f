#include "TrayIcon.h"
#include "Module.h"
#include "Wnd.h"

IMPLEMENT_DYNAMIC(CTrayIcon, CCmdTarget)

BEGIN_MESSAGE_MAP(CTrayIcon, CCmdTarget)
END_MESSAGE_MAP()

#ifdef _WIN64
static_assert(CTrayIcon::kRecordSize == 104, "first-version record on 64-bit Windows");
#else
static_assert(CTrayIcon::kRecordSize == 88, "first-version record on 32-bit Windows");
#endif

namespace {
CTrayIcon::NotifyFunction g_pfnNotify = &::Shell_NotifyIconA;
const char kInitialTip[] = "Downloaded 0%";
} // namespace

CTrayIcon::NotifyFunction CTrayIcon::SetNotifyFunction(NotifyFunction pfnNotify)
{
    NotifyFunction pfnOld = g_pfnNotify;
    g_pfnNotify = pfnNotify ? pfnNotify : &::Shell_NotifyIconA;
    return pfnOld;
}

CTrayIcon::CTrayIcon(UINT uID)
{
    ZeroMemory(&m_iconData, sizeof(m_iconData));
    m_iconData.cbSize = kRecordSize;
    m_iconData.uID = uID;
    CopyTip(kInitialTip);
}

CTrayIcon::~CTrayIcon()
{
    SetIcon(nullptr, nullptr);
}

void CTrayIcon::CopyTip(LPCSTR lpszTip)
{
    // Always leave a terminating zero: the platform reads the field as a string. A longer tip is
    // cut at a whole character of the system code page.
    const size_t nField = kTipSize;
    size_t nLength = 0;
    for (LPCSTR p = lpszTip; *p;) {
        LPCSTR pNext = ::CharNextA(p);
        size_t nNext = static_cast<size_t>(pNext - lpszTip);
        if (nNext > nField - 1 || pNext == p)
            break;
        nLength = nNext;
        p = pNext;
    }
    ZeroMemory(m_iconData.szTip, sizeof(m_iconData.szTip));
    CopyMemory(m_iconData.szTip, lpszTip, nLength);
}

void CTrayIcon::SetNotificationWnd(CWnd* pNotifyWnd, UINT uCbMsg)
{
    m_iconData.hWnd = pNotifyWnd ? pNotifyWnd->GetSafeHwnd() : nullptr;
    m_iconData.uCallbackMessage = uCbMsg;
}

BOOL CTrayIcon::SetIcon(UINT uID)
{
    HICON hicon = nullptr;
    if (uID != 0)
        hicon = ::LoadIconA(AfxGetResourceHandle(), MAKEINTRESOURCEA(uID));
    return SetIcon(hicon, nullptr);
}

BOOL CTrayIcon::SetIcon(HICON hicon, LPCSTR lpTip)
{
    m_iconData.uFlags = 0;
    DWORD dwMessage;
    if (hicon) {
        dwMessage = m_iconData.hIcon ? NIM_MODIFY : NIM_ADD;
        m_iconData.hIcon = hicon;
        m_iconData.uFlags = NIF_ICON;
    } else {
        if (!m_iconData.hIcon)
            return TRUE;
        dwMessage = NIM_DELETE;
    }
    if (lpTip)
        CopyTip(lpTip);
    if (m_iconData.szTip[0])
        m_iconData.uFlags |= NIF_TIP;
    if (m_iconData.uCallbackMessage && m_iconData.hWnd)
        m_iconData.uFlags |= NIF_MESSAGE;

    BOOL bResult = g_pfnNotify(dwMessage, &m_iconData) ? TRUE : FALSE;
    if (dwMessage == NIM_DELETE || !bResult)
        m_iconData.hIcon = nullptr;
    return bResult;
}

BOOL CTrayIcon::UpdateTip(LPCSTR lpszTip)
{
    CopyTip(lpszTip ? lpszTip : "");
    m_iconData.uFlags = NIF_TIP;
    return g_pfnNotify(NIM_MODIFY, &m_iconData) ? TRUE : FALSE;
}

LRESULT CTrayIcon::OnTrayNotification(WPARAM uID, LPARAM lEvent)
{
    return uID == m_iconData.uID ? 1 : 0;
}
