// The bar's percentage on the real dialog template, under the program's manifest (common controls
// 6, DPI awareness): the text must stand whole inside the bar at the dialog's own size.
#include <gtest/gtest.h>
#include <algorithm>
#include "DC.h"
#include "GdiObject.h"
#include "UpdateDlg.h"

namespace {
class CBarDlg : public CUpdateDlg {
public:
    using CUpdateDlg::m_wndProgress;
};

BOOL WINAPI IgnoreNotify(DWORD, PNOTIFYICONDATAA)
{
    return TRUE;
}

TEST(UpdateDlgBarText, PercentageIsWholeAndReadableInsideTheBar)
{
    CTrayIcon::NotifyFunction pfnOld = CTrayIcon::SetNotifyFunction(&IgnoreNotify);
    CBarDlg dlg;
    ASSERT_TRUE(dlg.Create());
    MSG msg;
    while (::PeekMessageA(&msg, dlg.GetSafeHwnd(), WM_USER + 1, WM_USER + 1, PM_REMOVE))
        ; // the start message would start a real download
    HWND hBar = dlg.m_wndProgress.GetSafeHwnd();
    dlg.m_wndProgress.SetPos(0); // all unfilled: every text pixel differs from the window colour
    ::UpdateWindow(hBar);

    RECT rc;
    ::GetClientRect(hBar, &rc);
    const int cx = rc.right, cy = rc.bottom;
    int nTop = cy, nBottom = -1, nLeft = cx, nRight = -1;
    {
        HDC hBarDC = ::GetDC(hBar);
        CDC bar, memory;
        bar.Attach(hBarDC);
        CBitmap bitmap;
        ASSERT_TRUE(memory.CreateCompatibleDC(&bar) && bitmap.CreateCompatibleBitmap(&bar, cx, cy));
        CGdiObject* pOld = memory.SelectObject(&bitmap);
        memory.BitBlt(0, 0, cx, cy, &bar, 0, 0, SRCCOPY);
        const COLORREF crBack = ::GetSysColor(COLOR_WINDOW);
        for (int y = 1; y < cy - 1; ++y)
            for (int x = 1; x < cx - 1; ++x)
                if (::GetPixel(memory.GetSafeHdc(), x, y) != crBack) {
                    nTop = std::min(nTop, y), nBottom = std::max(nBottom, y);
                    nLeft = std::min(nLeft, x), nRight = std::max(nRight, x);
                }
        memory.SelectObject(pOld);
        bar.Detach();
        ::ReleaseDC(hBar, hBarDC);
    }
    dlg.DestroyWindow();
    CTrayIcon::SetNotifyFunction(pfnOld);

    ASSERT_GE(nBottom, 0) << "no text drawn";
    // Clear of the frame on every side, and tall enough to read ("0%" of a font of at least 8 px).
    EXPECT_GT(nTop, 1);
    EXPECT_LT(nBottom, cy - 2);
    EXPECT_GT(nLeft, 1);
    EXPECT_LT(nRight, cx - 2);
    EXPECT_GE(nBottom - nTop + 1, 8) << "bar " << cx << "x" << cy;
}
} // namespace
