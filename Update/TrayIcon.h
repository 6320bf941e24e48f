#pragma once
// One icon in the taskbar's notification area: adds, changes and removes it, keeps its tip, and
// names the window and message that receive its mouse events.
#include "CmdTarget.h"
#include "UniqueHandle.h"
#include <shellapi.h> // after windows.h, which it needs

class CWnd;

class CTrayIcon : public CCmdTarget {
    DECLARE_DYNAMIC(CTrayIcon)
public:
    explicit CTrayIcon(UINT uID);
    ~CTrayIcon() override;

    void SetNotificationWnd(CWnd* pNotifyWnd, UINT uCbMsg);
    // Loads icon uID from the module's resources at the small-icon size of the current DPI and
    // shows it; 0 (or an icon that cannot be loaded) removes the icon.
    BOOL SetIcon(UINT uID);
    // Adds the icon when none is shown, otherwise changes it; NULL removes it.
    BOOL SetIcon(HICON hicon, LPCSTR lpTip);
    // Asks the shell to delete the icon whatever the record says, since an add the shell reported
    // as failed may have placed it all the same; the icon then counts as not shown.
    BOOL DeleteIcon();
    BOOL UpdateTip(LPCSTR lpszTip);
    virtual LRESULT OnTrayNotification(WPARAM uID, LPARAM lEvent);

    // Where records go to the platform: Shell_NotifyIconA unless a test puts a recorder in its place.
    using NotifyFunction = BOOL(WINAPI*)(DWORD dwMessage, PNOTIFYICONDATAA pData);
    static NotifyFunction SetNotifyFunction(NotifyFunction pfnNotify);

    // The record's size: the first version of NOTIFYICONDATA, without balloon and version fields.
    static constexpr DWORD kRecordSize = NOTIFYICONDATAA_V1_SIZE;
    // That version's tip field; the headers' record has room for the later, longer one.
    static constexpr size_t kTipSize = 64;

protected:
    DECLARE_MESSAGE_MAP()

private:
    void CopyTip(LPCSTR lpszTip);

    // Used from its window's thread alone. A platform call may dispatch messages sent to that
    // thread, whose handlers may change the icon again: each call hands over a record complete
    // at that moment, and nothing is held across the call.
    NOTIFYICONDATAA m_iconData;
    // The icon SetIcon(UINT) loaded last, and its id: a small icon made for the DPI is the
    // object's own (not a shared resource icon), loaded once and destroyed with the object.
    CUniqueIcon m_loadedIcon;
    UINT m_uLoadedID = 0;
};
