// The progress dialog's reports on a real window from the real template: label texts, the rounded
// percentage and the icon's tip, with the platform's icon call recorded instead of made.
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <vector>
#include "UpdateDlg.h"

namespace {
std::vector<std::string> g_tips;

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAA pData)
{
    if (dwMessage == NIM_MODIFY && (pData->uFlags & NIF_TIP))
        g_tips.push_back(pData->szTip);
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
