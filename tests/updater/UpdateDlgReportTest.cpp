// The progress dialog on a real window from the real template: its reports (label texts, the
// rounded percentage, the icon's tip), as the worker sends them too, and its icon when the shell
// refuses it or comes back, with the platform's icon calls recorded instead of made.
#include <gtest/gtest.h>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>
#include "UpdateDlg.h"
#include "UpdateDlgSink.h"

namespace {
struct NotifyCall {
    DWORD dwMessage;
    UINT uFlags;
    UINT uCallbackMessage;
    std::string strTip;
};
std::vector<NotifyCall> g_calls;
std::vector<std::string> g_tips;
bool g_bRefuseAdd = false;
bool g_bRefuseModify = false;
std::function<void()> g_pfnDuringAdd;

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAA pData)
{
    g_calls.push_back({dwMessage, pData->uFlags, pData->uCallbackMessage, pData->szTip});
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
    g_bRefuseAdd = true;
    ClickMinimize();
    EXPECT_TRUE(IsShown()) << "hidden without an icon, nothing could bring it back";

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
} // namespace
