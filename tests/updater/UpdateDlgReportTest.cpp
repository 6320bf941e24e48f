// The progress dialog on a real window from the real template: its reports (label texts, the
// rounded percentage, the icon's tip), as the worker sends them too, its icon when the shell
// refuses it or comes back, and the icon's menu, with the platform's icon calls recorded instead
// of made.
#include <gtest/gtest.h>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>
#include "UpdateDlg.h"
#include "UpdateDlgSink.h"

namespace {
struct NotifyCall {
    DWORD dwMessage;
    UINT uFlags;
    UINT uCallbackMessage;
    std::string strTip;
    HICON hIcon;
};
std::vector<NotifyCall> g_calls;
std::vector<std::string> g_tips;
bool g_bRefuseAdd = false;
bool g_bRefuseModify = false;
std::function<void()> g_pfnDuringAdd;

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAA pData)
{
    g_calls.push_back({dwMessage, pData->uFlags, pData->uCallbackMessage, pData->szTip, pData->hIcon});
    if (dwMessage == NIM_MODIFY && (pData->uFlags & NIF_TIP))
        g_tips.push_back(pData->szTip);
    if (dwMessage == NIM_ADD && g_pfnDuringAdd) {
        auto pfn = std::move(g_pfnDuringAdd);
        g_pfnDuringAdd = nullptr;
        pfn();
    }
    if (dwMessage == NIM_ADD)
        return !g_bRefuseAdd;
    if (dwMessage == NIM_MODIFY)
        return !g_bRefuseModify;
    return TRUE;
}

class CReportingDlg : public CUpdateDlg {
public:
    using CUpdateDlg::m_nPercent;
};

class UpdateDlgReports : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_tips.clear();
        g_calls.clear();
        g_bRefuseAdd = g_bRefuseModify = false;
        m_pfnOld = CTrayIcon::SetNotifyFunction(&RecordNotify);
        ASSERT_TRUE(m_dlg.Create());
    }
    void TearDown() override { CTrayIcon::SetNotifyFunction(m_pfnOld); }

    std::string Label() const
    {
        char sz[256] = {};
        ::GetDlgItemTextA(m_dlg.GetSafeHwnd(), 2001, sz, sizeof(sz));
        return sz;
    }
    bool IsShown() const { return ::IsWindowVisible(m_dlg.GetSafeHwnd()) != FALSE; }
    // The first button while the download runs: to the notification area.
    void ClickMinimize() { ::SendMessage(m_dlg.GetSafeHwnd(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0); }
    // The percentage and the tip of one report.
    void Report(ULONGLONG ullSize, ULONGLONG ullDone, int nPercent)
    {
        m_dlg.SetProductSize(ullSize);
        m_dlg.UpdateProgress(ullDone);
        EXPECT_EQ(nPercent, m_dlg.m_nPercent) << ullDone << " of " << ullSize;
        ASSERT_FALSE(g_tips.empty());
        EXPECT_EQ("Downloaded " + std::to_string(nPercent) + "%", g_tips.back());
    }

    CReportingDlg m_dlg;
    CTrayIcon::NotifyFunction m_pfnOld = nullptr;
};

TEST_F(UpdateDlgReports, LabelShowsWholeKilobytesAndPercentRoundsHalfUpCappedAt100)
{
    m_dlg.SetProductSize(1048576);
    EXPECT_EQ("Downloading Update: Korvane (0 KB of 1024 KB)", Label());
    Report(1048576, 1023, 0);
    EXPECT_EQ("Downloading Update: Korvane (0 KB of 1024 KB)", Label());

    Report(575488, 123904, 22); // 21.53
    EXPECT_EQ("Downloading Update: Korvane (121 KB of 562 KB)", Label());
    Report(1000, 994, 99);
    Report(1000, 995, 100);
    Report(2048, 1024, 50);

    // More than announced: the percentage stays at 100, the kilobytes go on.
    Report(10240, 20480, 100);
    EXPECT_EQ("Downloading Update: Korvane (20 KB of 10 KB)", Label());
}

TEST_F(UpdateDlgReports, WithoutAnnouncedSizeTheShortLabelStaysAndAReportFailsWithoutChanges)
{
    char szCaption[64] = {};
    ::GetWindowTextA(m_dlg.GetSafeHwnd(), szCaption, sizeof(szCaption));
    EXPECT_STREQ("Korvane Updater", szCaption);
    EXPECT_EQ("Downloading Update: Korvane", Label());

    m_dlg.SetProductSize(0);
    EXPECT_THROW(m_dlg.UpdateProgress(4096), std::exception);
    EXPECT_EQ("Downloading Update: Korvane", Label());
    EXPECT_EQ(0, m_dlg.m_nPercent);
    EXPECT_TRUE(g_tips.empty());
}
} // namespace

namespace {
TEST_F(UpdateDlgReports, WorkerReportsTravelWholeAndFailOnceTheDialogEnds)
{
    CUpdateDlgSink sink(m_dlg.GetSafeHwnd());
    EXPECT_THROW(sink.UpdateProgress(4096), std::exception) << "no size announced yet";
    const ULONGLONG ullSize = (5ULL << 30) + 2048; // beyond what one message parameter holds on 32 bits
    sink.SetProductSize(ullSize);
    EXPECT_EQ("Downloading Update: Korvane (0 KB of 5242882 KB)", Label());
    sink.UpdateProgress(ullSize / 2);
    EXPECT_EQ("Downloading Update: Korvane (2621441 KB of 5242882 KB)", Label());
    EXPECT_EQ(50, m_dlg.m_nPercent);

    // A failed download ends the dialog; its controls are about to go, and reports now fail.
    ::SendMessage(m_dlg.GetSafeHwnd(), WM_USER + 2, 0, 0);
    EXPECT_THROW(sink.UpdateProgress(ullSize), std::exception);
    EXPECT_EQ("Downloading Update: Korvane (2621441 KB of 5242882 KB)", Label());
    EXPECT_EQ(50, m_dlg.m_nPercent);
    m_dlg.DestroyWindow();
    EXPECT_THROW(sink.UpdateProgress(ullSize), std::exception);
}

TEST_F(UpdateDlgReports, WithoutAnIconTheDialogStaysReachableAndANewTaskbarGetsTheIconAgain)
{
    g_bRefuseAdd = g_bRefuseModify = true; // neither an add nor a check by a change succeeds
    ClickMinimize();
    EXPECT_TRUE(IsShown()) << "hidden without an icon, nothing could bring it back";
    g_bRefuseModify = false;

    g_bRefuseAdd = false;
    ClickMinimize();
    EXPECT_FALSE(IsShown());
    m_dlg.SetProductSize(1000);
    m_dlg.UpdateProgress(420);

    // The new taskbar knows no icon: the change is refused and the icon is added whole.
    const UINT uTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    g_bRefuseModify = true;
    g_calls.clear();
    ::SendMessage(m_dlg.GetSafeHwnd(), uTaskbarCreated, 0, 0);
    ASSERT_EQ(2u, g_calls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_MODIFY), g_calls[0].dwMessage);
    EXPECT_EQ(static_cast<DWORD>(NIM_ADD), g_calls[1].dwMessage);
    EXPECT_EQ(static_cast<UINT>(NIF_ICON | NIF_TIP | NIF_MESSAGE), g_calls[1].uFlags);
    EXPECT_EQ(static_cast<UINT>(WM_USER), g_calls[1].uCallbackMessage);
    EXPECT_EQ("Downloaded 42%", g_calls[1].strTip);
    EXPECT_FALSE(IsShown());

    // A taskbar that takes no icon at all: the window comes back instead.
    g_bRefuseAdd = true;
    ::SendMessage(m_dlg.GetSafeHwnd(), uTaskbarCreated, 0, 0);
    EXPECT_TRUE(IsShown());

    // Shown, the dialog has no icon to bring back.
    g_bRefuseAdd = g_bRefuseModify = false;
    g_calls.clear();
    ::SendMessage(m_dlg.GetSafeHwnd(), uTaskbarCreated, 0, 0);
    EXPECT_TRUE(g_calls.empty());

    // The record says not shown, but a refused add may have left an icon: the end deletes it.
    ::SendMessage(m_dlg.GetSafeHwnd(), WM_USER + 2, 0, 0); // a failed download
    ASSERT_EQ(1u, g_calls.size());
    EXPECT_EQ(static_cast<DWORD>(NIM_DELETE), g_calls[0].dwMessage);
}

TEST_F(UpdateDlgReports, ReportsAndIconEventsHandledInsideAShellCallGoThrough)
{
    CUpdateDlgSink sink(m_dlg.GetSafeHwnd());
    sink.SetProductSize(8192);
    // While the shell adds the icon, this thread serves what other threads send it.
    g_pfnDuringAdd = [&] {
        sink.UpdateProgress(4096);
        EXPECT_EQ(1, ::SendMessage(m_dlg.GetSafeHwnd(), WM_USER, 201, WM_MOUSEMOVE));
    };
    ClickMinimize();
    EXPECT_FALSE(IsShown());
    EXPECT_EQ("Downloading Update: Korvane (4 KB of 8 KB)", Label());
    ASSERT_FALSE(g_tips.empty());
    EXPECT_EQ("Downloaded 50%", g_tips.back());

    // WM_USER from elsewhere than the icon is the dialog manager's question for the default button.
    EXPECT_EQ(MAKELRESULT(IDOK, DC_HASDEFID), ::SendMessage(m_dlg.GetSafeHwnd(), WM_USER, 0, WM_LBUTTONUP));
}

TEST_F(UpdateDlgReports, TheIconIsLoadedAtTheSmallIconSizeAndBothIconsHoldEachDpiSize)
{
    ClickMinimize();
    ASSERT_FALSE(g_calls.empty());
    ICONINFO info = {};
    ASSERT_TRUE(::GetIconInfo(g_calls[0].hIcon, &info));
    BITMAP bm = {};
    ::GetObject(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof(bm), &bm);
    ::DeleteObject(info.hbmColor);
    ::DeleteObject(info.hbmMask);
    EXPECT_EQ(::GetSystemMetrics(SM_CXSMICON), bm.bmWidth) << "shrunk by the shell, a larger icon blurs";

    // The small-icon sizes at 100, 125, 150 and 200 %, each an image of its own in both icons.
    for (UINT uIcon : {128u, 201u}) {
        HMODULE hModule = ::GetModuleHandle(nullptr);
        HRSRC hGroup = ::FindResource(hModule, MAKEINTRESOURCE(uIcon), RT_GROUP_ICON);
        ASSERT_TRUE(hGroup) << uIcon;
        auto* pDirectory = static_cast<PBYTE>(::LockResource(::LoadResource(hModule, hGroup)));
        for (int nSize : {16, 20, 24, 32}) {
            int nImage = ::LookupIconIdFromDirectoryEx(pDirectory, TRUE, nSize, nSize, LR_DEFAULTCOLOR);
            HRSRC hImage = ::FindResource(hModule, MAKEINTRESOURCE(nImage), RT_ICON);
            ASSERT_TRUE(hImage) << uIcon << " at " << nSize;
            // The image's own header: its width, and its height doubled for the mask.
            auto* pHeader = static_cast<BITMAPINFOHEADER*>(::LockResource(::LoadResource(hModule, hImage)));
            EXPECT_EQ(nSize, pHeader->biWidth) << "icon " << uIcon;
            EXPECT_EQ(2 * nSize, pHeader->biHeight) << "icon " << uIcon;
        }
    }
}

TEST_F(UpdateDlgReports, TheTrayMenuPostsANullMessageAndACancelledOneGivesTheForegroundBack)
{
    HWND hDialog = m_dlg.GetSafeHwnd();
    MSG msg;
    // The menu's loop would dispatch the start message and start a real download.
    while (::PeekMessage(&msg, hDialog, WM_USER + 1, WM_USER + 1, PM_REMOVE))
        ;
    ClickMinimize();
    ASSERT_FALSE(IsShown());
    // The user's window, in the foreground as the taskbar is when its icon is clicked.
    HWND hUser = ::CreateWindowExA(0, "STATIC", "user", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                   nullptr, nullptr);
    ::SetForegroundWindow(hUser);
    ASSERT_EQ(hUser, ::GetForegroundWindow());

    // Escape closes the menu without a command, from another thread while this one tracks it.
    std::thread closer([] {
        HWND hMenu = nullptr;
        for (int i = 0; i < 500 && !(hMenu = ::FindWindowA("#32768", nullptr)); ++i)
            ::Sleep(10);
        ::PostMessageA(hMenu, WM_KEYDOWN, VK_ESCAPE, 0);
    });
    EXPECT_EQ(1, ::SendMessage(hDialog, WM_USER, 201, WM_RBUTTONUP));
    closer.join();
    EXPECT_TRUE(::PeekMessage(&msg, hDialog, WM_NULL, WM_NULL, PM_REMOVE)) << "no WM_NULL posted";
    EXPECT_FALSE(::PeekMessage(&msg, hDialog, WM_COMMAND, WM_COMMAND, PM_REMOVE)) << "no command chosen";
    EXPECT_EQ(hUser, ::GetForegroundWindow()) << "the hidden dialog would take the next keys";
    ::DestroyWindow(hUser);
}

TEST_F(UpdateDlgReports, NewSystemColoursReachTheBarWhichRepaints)
{
    // Only the top-level dialog hears of them; the bar must be told to paint in the new colours.
    HWND hBar = ::GetDlgItem(m_dlg.GetSafeHwnd(), 2002);
    ASSERT_TRUE(::IsWindowVisible(hBar));
    ::UpdateWindow(m_dlg.GetSafeHwnd());
    RECT rc = {};
    ASSERT_FALSE(::GetUpdateRect(hBar, &rc, FALSE));
    ::SendMessage(m_dlg.GetSafeHwnd(), WM_SYSCOLORCHANGE, 0, 0);
    EXPECT_TRUE(::GetUpdateRect(hBar, &rc, FALSE));
}
} // namespace
