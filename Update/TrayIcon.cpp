#include "TrayIcon.h"
#include <commctrl.h>
#include <cstring>
#include "Module.h"
#include "SystemFunction.h"
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

// The notification area shows icons at the small-icon size of the current DPI (20 pixels at 125 %,
// 24 at 150 %, 32 at 200 %); an icon loaded at the large size is shrunk by the shell and blurs.
// LoadIconMetric (common controls 6, Windows Vista on) picks that size's image or scales a larger
// one down; it is looked up at run time, since a module without the common controls 6 manifest
// sees the older library, which lacks it. Without it the image of that size is asked for directly.
HICON LoadSmallIcon(HINSTANCE hInstance, UINT uID)
{
    using LoadIconMetricFunction = HRESULT(WINAPI*)(HINSTANCE, PCWSTR, int, HICON*);
    auto pfnLoadIconMetric = GetSystemFunction<LoadIconMetricFunction>(L"comctl32.dll", "LoadIconMetric");
    HICON hicon = nullptr;
    if (pfnLoadIconMetric &&
        SUCCEEDED(pfnLoadIconMetric(hInstance, MAKEINTRESOURCEW(uID), LIM_SMALL, &hicon)))
        return hicon;
    return static_cast<HICON>(::LoadImageA(hInstance, MAKEINTRESOURCEA(uID), IMAGE_ICON,
                                           ::GetSystemMetrics(SM_CXSMICON), ::GetSystemMetrics(SM_CYSMICON),
                                           LR_DEFAULTCOLOR));
}
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
    // cut at a whole character of the system code page; one that fits (every tip the updater
    // sets) is copied without a walk by characters.
    const size_t nField = kTipSize;
    size_t nLength = std::strlen(lpszTip);
    if (nLength > nField - 1) {
        nLength = 0;
        for (LPCSTR p = lpszTip; *p;) {
            LPCSTR pNext = ::CharNextA(p);
            size_t nNext = static_cast<size_t>(pNext - lpszTip);
            if (nNext > nField - 1 || pNext == p)
                break;
            nLength = nNext;
            p = pNext;
        }
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
    if (uID == 0)
        return SetIcon(nullptr, nullptr);
    // The icon replaced here stays alive until the shell has the new one: it may still be shown.
    CUniqueIcon previous;
    if (uID != m_uLoadedID || !m_loadedIcon) {
        previous = std::move(m_loadedIcon);
        m_loadedIcon.Reset(LoadSmallIcon(AfxGetResourceHandle(), uID));
        m_uLoadedID = m_loadedIcon ? uID : 0;
    }
    return SetIcon(m_loadedIcon.Get(), nullptr);
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
    // The shell may report a failed add after a time-out although it added the icon (at logon,
    // right after Explorer started): then the id exists, and a change of it is accepted.
    // (Unless a handler run during the call has changed the record meanwhile.)
    if (dwMessage == NIM_ADD && !bResult && m_iconData.hIcon == hicon)
        bResult = g_pfnNotify(NIM_MODIFY, &m_iconData) ? TRUE : FALSE;
    if (dwMessage == NIM_DELETE || !bResult)
        m_iconData.hIcon = nullptr;
    return bResult;
}

BOOL CTrayIcon::DeleteIcon()
{
    m_iconData.hIcon = nullptr;
    m_iconData.uFlags = 0;
    return g_pfnNotify(NIM_DELETE, &m_iconData) ? TRUE : FALSE;
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
