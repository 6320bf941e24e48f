#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>
#include "TrayIcon.h"
#include "Wnd.h"

namespace {
// One Shell_NotifyIcon call as the platform would have seen it.
struct NotifyCall {
    DWORD dwMessage;
    DWORD cbSize;
    HWND hWnd;
    UINT uID;
    UINT uFlags;
    UINT uCallbackMessage;
    HICON hIcon;
    std::string strTip;
};

std::vector<NotifyCall> g_calls;
BOOL g_bAnswer = TRUE;
bool g_bRefuseAdd = false; // an add that times out although the shell made it
std::function<void()> g_pfnDuringCall;

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAA pData)
{
    g_calls.push_back({dwMessage, pData->cbSize, pData->hWnd, pData->uID, pData->uFlags,
                       pData->uCallbackMessage, pData->hIcon, pData->szTip});
    if (g_pfnDuringCall)
        g_pfnDuringCall();
    return dwMessage == NIM_ADD && g_bRefuseAdd ? FALSE : g_bAnswer;
}

class TrayIconTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_bAnswer = TRUE;
        g_bRefuseAdd = false;
        m_pfnOld = CTrayIcon::SetNotifyFunction(&RecordNotify);
    }
    void TearDown() override { CTrayIcon::SetNotifyFunction(m_pfnOld); }

    const HICON m_hIconA = ::LoadIcon(nullptr, IDI_APPLICATION);
    const HICON m_hIconB = ::LoadIcon(nullptr, IDI_WARNING);
    CTrayIcon::NotifyFunction m_pfnOld = nullptr;
};

HWND CreateHiddenWindow()
{
    return ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
}
} // namespace

TEST_F(TrayIconTest, AddChangeAndRemoveFollowTheRecordsIcon)
{
    CWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(CreateHiddenWindow()));
    {
        CTrayIcon icon(201);
        EXPECT_TRUE(g_calls.empty()) << "construction shows nothing";
        icon.SetNotificationWnd(&wnd, WM_USER);
        EXPECT_TRUE(g_calls.empty());

        EXPECT_EQ(TRUE, icon.SetIcon(m_hIconA, nullptr));
        ASSERT_EQ(1u, g_calls.size());
        const NotifyCall& add = g_calls[0];
        EXPECT_EQ(static_cast<DWORD>(NIM_ADD), add.dwMessage);
        EXPECT_EQ(CTrayIcon::kRecordSize, add.cbSize);
        EXPECT_EQ(201u, add.uID);
        EXPECT_EQ(static_cast<UINT>(NIF_ICON | NIF_TIP | NIF_MESSAGE), add.uFlags);
        EXPECT_EQ(m_hIconA, add.hIcon);
        EXPECT_EQ("Downloaded 0%", add.strTip);
        EXPECT_EQ(wnd.GetSafeHwnd(), add.hWnd);
        EXPECT_EQ(static_cast<UINT>(WM_USER), add.uCallbackMessage);

        // A shown icon is changed in place and re-sent whole.
        EXPECT_EQ(TRUE, icon.SetIcon(m_hIconB, "Other tip"));
        ASSERT_EQ(2u, g_calls.size());
        EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls[1].dwMessage);
        EXPECT_EQ(static_cast<UINT>(NIF_ICON | NIF_TIP | NIF_MESSAGE), g_calls[1].uFlags);
        EXPECT_EQ(m_hIconB, g_calls[1].hIcon);
        EXPECT_EQ("Other tip", g_calls[1].strTip);

        // The tip alone, and the state stays as it was.
        EXPECT_EQ(TRUE, icon.UpdateTip("Downloaded 42%"));
        ASSERT_EQ(3u, g_calls.size());
        EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls[2].dwMessage);
        EXPECT_EQ(static_cast<UINT>(NIF_TIP), g_calls[2].uFlags);
        EXPECT_EQ(m_hIconB, g_calls[2].hIcon);

        EXPECT_EQ(TRUE, icon.SetIcon(0u));
        ASSERT_EQ(4u, g_calls.size());
        EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), g_calls[3].dwMessage);
        EXPECT_EQ("Downloaded 42%", g_calls[3].strTip);
        // Removing what is not shown asks nothing of the platform.
        EXPECT_EQ(TRUE, icon.SetIcon(0u));
        EXPECT_EQ(4u, g_calls.size());

        EXPECT_EQ(1, icon.OnTrayNotification(201, WM_LBUTTONUP));
        EXPECT_EQ(0, icon.OnTrayNotification(202, WM_LBUTTONUP));
        EXPECT_TRUE(icon.IsKindOf(RUNTIME_CLASS(CCmdTarget)));
        EXPECT_STREQ("CTrayIcon", icon.GetRuntimeClass()->m_lpszClassName);
    }
    EXPECT_EQ(4u, g_calls.size()) << "destroying a hidden icon calls nothing";
    wnd.DestroyWindow();
}

TEST_F(TrayIconTest, WithoutCallbackWindowOrMessageTheRecordCarriesNoCallback)
{
    CWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(CreateHiddenWindow()));
    CTrayIcon noWindow(7), noMessage(8);
    noWindow.SetNotificationWnd(nullptr, WM_USER);
    noMessage.SetNotificationWnd(&wnd, 0);
    noWindow.SetIcon(m_hIconA, nullptr);
    noMessage.SetIcon(m_hIconA, "");
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ(static_cast<UINT>(NIF_ICON | NIF_TIP), g_calls[0].uFlags);
    EXPECT_EQ(nullptr, g_calls[0].hWnd);
    // An empty tip is sent without NIF_TIP.
    EXPECT_EQ(static_cast<UINT>(NIF_ICON), g_calls[1].uFlags);
    wnd.DestroyWindow();
}

TEST_F(TrayIconTest, TipWaitsInTheRecordWhileHiddenAndDestructorRemovesAShownIcon)
{
    {
        CTrayIcon icon(201);
        g_bAnswer = FALSE; // the platform refuses to modify an icon it does not show
        EXPECT_EQ(FALSE, icon.UpdateTip("Downloaded 17%"));
        g_bAnswer = TRUE;
        EXPECT_EQ(TRUE, icon.SetIcon(m_hIconA, nullptr));
        ASSERT_EQ(2u, g_calls.size());
        EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_calls[1].dwMessage);
        EXPECT_EQ("Downloaded 17%", g_calls[1].strTip);
    }
    ASSERT_EQ(3u, g_calls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), g_calls[2].dwMessage);
    EXPECT_EQ(201u, g_calls[2].uID);
}

TEST_F(TrayIconTest, RefusedCallsLeaveTheIconNotShown)
{
    CTrayIcon icon(201);
    g_bAnswer = FALSE;
    EXPECT_EQ(FALSE, icon.SetIcon(m_hIconA, nullptr));
    g_bAnswer = TRUE;
    EXPECT_EQ(TRUE, icon.SetIcon(m_hIconA, nullptr));
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_calls.back().dwMessage) << "a refused add is retried as an add";

    g_bAnswer = FALSE;
    EXPECT_EQ(FALSE, icon.SetIcon(m_hIconB, nullptr));
    g_bAnswer = TRUE;
    EXPECT_EQ(TRUE, icon.SetIcon(m_hIconB, nullptr));
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_calls.back().dwMessage) << "a refused change: not shown";

    g_bAnswer = FALSE;
    EXPECT_EQ(FALSE, icon.SetIcon(nullptr, nullptr));
    size_t nCalls = g_calls.size();
    EXPECT_EQ(TRUE, icon.SetIcon(nullptr, nullptr)) << "a refused removal still counts as removed";
    EXPECT_EQ(nCalls, g_calls.size());

    // An icon id that cannot be loaded removes the icon like 0 does.
    g_bAnswer = TRUE;
    icon.SetIcon(m_hIconA, nullptr);
    EXPECT_EQ(TRUE, icon.SetIcon(59999u));
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), g_calls.back().dwMessage);
}

TEST_F(TrayIconTest, AnAddReportedAsFailedIsCheckedByAChangeOfTheSameRecord)
{
    CTrayIcon icon(201);
    g_bRefuseAdd = true; // timed out, although the shell made the icon
    EXPECT_EQ(TRUE, icon.SetIcon(m_hIconA, "Downloaded 9%"));
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls[1].dwMessage);
    EXPECT_EQ(g_calls[0].uFlags, g_calls[1].uFlags);
    EXPECT_EQ("Downloaded 9%", g_calls[1].strTip);
    EXPECT_EQ(TRUE, icon.SetIcon(m_hIconB, nullptr));
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls.back().dwMessage) << "the change was accepted: shown";
}

TEST_F(TrayIconTest, OverlongTipIsCutAndStaysTerminated)
{
    CTrayIcon icon(1);
    std::string strLong(100, 'x');
    icon.UpdateTip(strLong.c_str());
    icon.SetIcon(m_hIconA, nullptr);
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ(std::string(63, 'x'), g_calls[0].strTip);
    EXPECT_EQ(std::string(63, 'x'), g_calls[1].strTip);
}

TEST_F(TrayIconTest, ACallMadeWhileThePlatformHandlesAnotherGoesThrough)
{
    // The platform's call may dispatch messages sent to the thread, whose handlers change the icon
    // again (a progress report's tip, an icon event).
    CTrayIcon icon(201);
    bool bInside = false;
    g_pfnDuringCall = [&] {
        if (bInside)
            return;
        bInside = true;
        EXPECT_EQ(TRUE, icon.UpdateTip("Downloaded 3%"));
        EXPECT_EQ(TRUE, icon.SetIcon(m_hIconB, nullptr));
    };
    EXPECT_EQ(TRUE, icon.SetIcon(m_hIconA, nullptr));
    g_pfnDuringCall = nullptr;
    ASSERT_EQ(3u, g_calls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_calls[0].dwMessage);
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls[1].dwMessage);
    EXPECT_EQ(static_cast<UINT>(NIF_TIP), g_calls[1].uFlags);
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls[2].dwMessage);
    EXPECT_EQ(m_hIconB, g_calls[2].hIcon);
    EXPECT_EQ("Downloaded 3%", g_calls[2].strTip);

    // The icon counts as shown, with the latest tip.
    EXPECT_EQ(TRUE, icon.SetIcon(m_hIconA, nullptr));
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls.back().dwMessage);
    EXPECT_EQ("Downloaded 3%", g_calls.back().strTip);
}

// Against wine's own notification area rather than the recorder.
TEST(TrayIconPlatform, AddTipAndRemoveAreAcceptedByTheRealNotificationArea)
{
    CWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(CreateHiddenWindow()));
    HICON hIcon = ::LoadIcon(nullptr, IDI_APPLICATION);
    // Another icon stays shown throughout: wine hides its tray window when the last icon goes,
    // which without a window manager costs two seconds per removal.
    NOTIFYICONDATAA anchor = {};
    anchor.cbSize = CTrayIcon::kRecordSize;
    anchor.hWnd = wnd.GetSafeHwnd();
    anchor.uID = 999;
    anchor.uFlags = NIF_ICON;
    anchor.hIcon = hIcon;
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_ADD, &anchor));
    {
        CTrayIcon icon(201);
        icon.SetNotificationWnd(&wnd, WM_USER);
        EXPECT_EQ(TRUE, icon.SetIcon(hIcon, nullptr));
        EXPECT_EQ(TRUE, icon.UpdateTip("Downloaded 5%"));
        EXPECT_EQ(TRUE, icon.SetIcon(hIcon, nullptr)) << "a second set changes the icon";
        EXPECT_EQ(TRUE, icon.SetIcon(0u));
        EXPECT_EQ(FALSE, icon.UpdateTip("Downloaded 6%")) << "the platform knows no such icon now";
        EXPECT_EQ(TRUE, icon.SetIcon(hIcon, nullptr));
    }
    // The destructor removed it: the platform no longer accepts changes to that icon.
    NOTIFYICONDATAA data = {};
    data.cbSize = CTrayIcon::kRecordSize;
    data.hWnd = wnd.GetSafeHwnd();
    data.uID = 201;
    data.uFlags = NIF_TIP;
    EXPECT_FALSE(::Shell_NotifyIconA(NIM_MODIFY, &data));
    wnd.DestroyWindow();
}
