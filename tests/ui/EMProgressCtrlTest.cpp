#include <gtest/gtest.h>
#include <climits>
#include <string>
#include <vector>
#include "EMMemDC.h"
#include "EMProgressCtrl.h"

namespace {
const int kBarWidth = 200;
const int kBarHeight = 20;
const COLORREF kSentinel = RGB(255, 0, 255);

// Counts the paints that reach the bar.
class CCountingProgressCtrl : public CEMProgressCtrl {
public:
    int nPaints = 0;

protected:
    void OnPaint()
    {
        ++nPaints;
        CEMProgressCtrl::OnPaint();
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CCountingProgressCtrl, CEMProgressCtrl)
    ON_WM_PAINT()
END_MESSAGE_MAP()

void Pump()
{
    MSG msg;
    while (::PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessage(&msg);
}

// The pixels of a window's client area, read back from its own drawing surface.
struct Picture {
    int nWidth = 0, nHeight = 0;
    std::vector<COLORREF> pixels;
    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * nWidth + x]; }
};

Picture Capture(HWND hWnd)
{
    Picture pic;
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    pic.nWidth = rc.right;
    pic.nHeight = rc.bottom;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = pic.nWidth;
    bmi.bmiHeader.biHeight = -pic.nHeight; // top row first
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* pBits = nullptr;
    CBitmap bitmap;
    bitmap.Attach(::CreateDIBSection(nullptr, &bmi, DIB_RGB_COLORS, &pBits, nullptr, 0));
    HDC hWindowDC = ::GetDC(hWnd);
    {
        CDC window, memory;
        window.Attach(hWindowDC);
        memory.CreateCompatibleDC(&window);
        CGdiObject* pOld = memory.SelectObject(&bitmap);
        memory.BitBlt(0, 0, pic.nWidth, pic.nHeight, &window, 0, 0, SRCCOPY);
        memory.SelectObject(pOld);
    }
    ::ReleaseDC(hWnd, hWindowDC);
    const BYTE* p = static_cast<const BYTE*>(pBits);
    for (int i = 0; i < pic.nWidth * pic.nHeight; ++i, p += 4)
        pic.pixels.push_back(RGB(p[2], p[1], p[0]));
    return pic;
}

void FillWindow(HWND hWnd, COLORREF cr)
{
    RECT rc;
    ::GetClientRect(hWnd, &rc);
    HDC hDC = ::GetDC(hWnd);
    {
        CDC dc;
        dc.Attach(hDC);
        dc.FillSolidRect(&rc, cr);
    }
    ::ReleaseDC(hWnd, hDC);
}

std::string Art(const std::vector<bool>& mask)
{
    std::string s;
    for (int y = 0; y < kBarHeight; ++y) {
        for (int x = 0; x < kBarWidth; ++x)
            s += mask[static_cast<size_t>(y) * kBarWidth + x] ? '#' : '.';
        s += '\n';
    }
    return s;
}

// Where the percentage text would be drawn: a reference rendering of "p%" centred the same way.
std::vector<bool> ExpectedTextMask(int nPercent)
{
    CDC screen;
    HDC hScreen = ::GetDC(nullptr);
    screen.Attach(hScreen);
    CDC dc;
    dc.CreateCompatibleDC(&screen);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(&screen, kBarWidth, kBarHeight);
    CGdiObject* pOld = dc.SelectObject(&bitmap);
    RECT rc = {0, 0, kBarWidth, kBarHeight};
    dc.FillSolidRect(&rc, RGB(0, 0, 0));
    dc.SetBkMode(TRANSPARENT);
    dc.SetTextColor(RGB(255, 255, 255));
    CString str;
    str.Format("%d%%", nPercent);
    dc.DrawText(str, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    std::vector<bool> mask;
    for (int y = 0; y < kBarHeight; ++y)
        for (int x = 0; x < kBarWidth; ++x)
            mask.push_back(::GetPixel(dc, x, y) != RGB(0, 0, 0));
    dc.SelectObject(pOld);
    screen.Detach();
    ::ReleaseDC(nullptr, hScreen);
    return mask;
}

class EMProgressCtrlTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        INITCOMMONCONTROLSEX icc = {sizeof(icc), ICC_PROGRESS_CLASS};
        ::InitCommonControlsEx(&icc);
        // One shown top-level window for the whole program, left to the process's end: under wine
        // without a window manager, destroying a mapped window waits two seconds for X.
        if (!s_hParent)
            s_hParent = ::CreateWindowExA(WS_EX_TOPMOST, "STATIC", "",
                                          WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, 0, 0, kBarWidth + 40,
                                          kBarHeight + 40, nullptr, nullptr, nullptr, nullptr);
    }
    void SetUp() override
    {
        m_hBar = ::CreateWindowExA(0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE, 20, 20, kBarWidth,
                                   kBarHeight, s_hParent, nullptr, nullptr, nullptr);
        ASSERT_TRUE(m_hBar);
        Pump();
    }
    void TearDown() override
    {
        m_bar.DestroyWindow();
        ::DestroyWindow(m_hBar);
    }
    void Attach()
    {
        ASSERT_TRUE(m_bar.SubclassWindow(m_hBar));
        Pump();
        m_bar.nPaints = 0;
    }
    // The text pixels of a picture: whatever differs from the fill of its side (the default font may
    // be smoothed, so edge pixels blend the text colour into the fill).
    static std::vector<bool> TextMask(const Picture& pic, int nFilled)
    {
        std::vector<bool> mask;
        for (int y = 0; y < pic.nHeight; ++y)
            for (int x = 0; x < pic.nWidth; ++x) {
                bool bFrame = x == 0 || y == 0 || x == pic.nWidth - 1 || y == pic.nHeight - 1;
                COLORREF crFill = x < nFilled ? ::GetSysColor(COLOR_HIGHLIGHT) : ::GetSysColor(COLOR_WINDOW);
                mask.push_back(!bFrame && pic.At(x, y) != crFill);
            }
        return mask;
    }
    // The reference mask without the frame, where the bar draws no text.
    static std::vector<bool> InsideFrame(std::vector<bool> mask)
    {
        for (int y = 0; y < kBarHeight; ++y)
            for (int x = 0; x < kBarWidth; ++x)
                if (x == 0 || y == 0 || x == kBarWidth - 1 || y == kBarHeight - 1)
                    mask[static_cast<size_t>(y) * kBarWidth + x] = false;
        return mask;
    }

    static HWND s_hParent;
    HWND m_hBar = nullptr;
    CCountingProgressCtrl m_bar;
};
HWND EMProgressCtrlTest::s_hParent = nullptr;
} // namespace

TEST_F(EMProgressCtrlTest, PaintsFillBackgroundAndSunkenFrame)
{
    Attach();
    m_bar.SetRange(0, 100);
    EXPECT_EQ(0, m_bar.SetPos(57));
    EXPECT_EQ(1, m_bar.nPaints) << "SetPos repaints before it returns";

    Picture pic = Capture(m_hBar);
    const COLORREF crBar = ::GetSysColor(COLOR_HIGHLIGHT), crBack = ::GetSysColor(COLOR_WINDOW);
    const COLORREF crShadow = ::GetSysColor(COLOR_BTNSHADOW), crLight = ::GetSysColor(COLOR_BTNHIGHLIGHT);
    for (int y = 1; y < kBarHeight - 1; ++y) {
        EXPECT_EQ(crBar, pic.At(1, y));
        EXPECT_EQ(crBar, pic.At(113, y)) << "57 of 0..100 fills 114 of 200 pixels";
        EXPECT_EQ(crBack, pic.At(114, y));
        EXPECT_EQ(crBack, pic.At(kBarWidth - 2, y));
        EXPECT_EQ(crShadow, pic.At(0, y));
        EXPECT_EQ(crLight, pic.At(kBarWidth - 1, y));
    }
    for (int x = 0; x < kBarWidth - 1; ++x) {
        EXPECT_EQ(crShadow, pic.At(x, 0));
        EXPECT_EQ(crLight, pic.At(x, kBarHeight - 1));
    }
    EXPECT_EQ(crLight, pic.At(kBarWidth - 1, 0)) << "the top-right corner belongs to the right column";
    EXPECT_EQ(crLight, pic.At(0, kBarHeight - 1)) << "the bottom-left corner belongs to the bottom row";

    // No background erase: the bar answers it without touching a pixel.
    FillWindow(m_hBar, kSentinel);
    HDC hDC = ::GetDC(m_hBar);
    EXPECT_NE(0, ::SendMessage(m_hBar, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0));
    ::ReleaseDC(m_hBar, hDC);
    EXPECT_EQ(kSentinel, Capture(m_hBar).At(50, 10));
}

TEST_F(EMProgressCtrlTest, EveryWholePercentFillsAndShowsExactly)
{
    Attach();
    m_bar.SetRange(0, 100);
    m_bar.SetShowText(TRUE);
    for (int p = 0; p <= 100; ++p) {
        m_bar.SetPos(p);
        Picture pic = Capture(m_hBar);
        const int nFilled = 2 * p;
        if (nFilled > 1 && nFilled < kBarWidth) { // the last filled column, unless it is the frame
            EXPECT_EQ(::GetSysColor(COLOR_HIGHLIGHT), pic.At(nFilled - 1, 1)) << p;
        }
        if (nFilled > 0 && nFilled < kBarWidth - 1) { // the first unfilled column
            EXPECT_EQ(::GetSysColor(COLOR_WINDOW), pic.At(nFilled, 1)) << p;
        }
        EXPECT_EQ(InsideFrame(ExpectedTextMask(p)), TextMask(pic, nFilled)) << "text of position " << p;
    }
}

TEST_F(EMProgressCtrlTest, TextStraddlingTheEdgeIsInvertedOnEachSide)
{
    Attach();
    m_bar.SetShowText(TRUE);
    m_bar.SetPos(50);
    Picture pic = Capture(m_hBar);
    int nOnBar = 0, nOnBack = 0;
    for (int y = 1; y < kBarHeight - 1; ++y)
        for (int x = 1; x < kBarWidth - 1; ++x) {
            nOnBar += x < 100 && pic.At(x, y) == ::GetSysColor(COLOR_WINDOW);
            nOnBack += x >= 100 && pic.At(x, y) == ::GetSysColor(COLOR_HIGHLIGHT);
        }
    EXPECT_GT(nOnBar, 0) << "text over the filled part is in the window colour";
    EXPECT_GT(nOnBack, 0) << "text over the rest is in the highlight colour";
}

TEST_F(EMProgressCtrlTest, RepaintsOnlyWhenTheFilledWidthChanges)
{
    Attach();
    EXPECT_EQ(0, m_bar.SetPos(0));
    EXPECT_EQ(1, m_bar.nPaints) << "the first SetPos after construction always repaints";
    EXPECT_EQ(0, m_bar.SetPos(0));
    EXPECT_EQ(1, m_bar.nPaints);
    EXPECT_EQ(0, m_bar.SetPos(1));
    EXPECT_EQ(2, m_bar.nPaints);

    // Half as many pixels as steps: one step moves no pixel.
    ::SetWindowPos(m_hBar, nullptr, 0, 0, 50, kBarHeight, SWP_NOMOVE | SWP_NOZORDER);
    Pump();
    m_bar.nPaints = 0;
    EXPECT_EQ(1, m_bar.SetPos(1));
    EXPECT_EQ(1, m_bar.nPaints) << "the first SetPos after a size change repaints";
    EXPECT_EQ(1, m_bar.SetPos(2)); // 0 -> 1 pixel
    EXPECT_EQ(2, m_bar.nPaints);
    EXPECT_EQ(2, m_bar.SetPos(3));
    EXPECT_EQ(2, m_bar.nPaints);

    // Text switches invalidate only on a change.
    m_bar.SetShowText(TRUE);
    EXPECT_TRUE(::GetUpdateRect(m_hBar, nullptr, FALSE));
    ::UpdateWindow(m_hBar);
    m_bar.SetShowText(TRUE);
    EXPECT_FALSE(::GetUpdateRect(m_hBar, nullptr, FALSE));
    m_bar.SetShowText(FALSE);
    EXPECT_TRUE(::GetUpdateRect(m_hBar, nullptr, FALSE));
}

TEST_F(EMProgressCtrlTest, BeforeItsWindowExistsTheBarStoresNoPosition)
{
    EXPECT_EQ(-1, m_bar.SetPos(40));
    m_bar.SetShowText(TRUE); // kept for later, nothing to invalidate
    Attach();
    EXPECT_EQ(0, m_bar.SetPos(70));
    EXPECT_EQ(Art(InsideFrame(ExpectedTextMask(70))), Art(TextMask(Capture(m_hBar), 140)));
}

TEST_F(EMProgressCtrlTest, EmptyRangeDrawsNothingButAcknowledgesThePaint)
{
    Attach();
    for (auto range : {std::make_pair(10, 10), std::make_pair(100, 0)}) {
        m_bar.SetRange(range.first, range.second);
        FillWindow(m_hBar, kSentinel);
        ::InvalidateRect(m_hBar, nullptr, FALSE);
        m_bar.SetPos(range.first);
        ::UpdateWindow(m_hBar);
        EXPECT_FALSE(::GetUpdateRect(m_hBar, nullptr, FALSE));
        Picture pic = Capture(m_hBar);
        for (COLORREF cr : pic.pixels)
            ASSERT_EQ(kSentinel, cr);
    }
}

TEST_F(EMProgressCtrlTest, PositionsOutsideTheRangeShowTheNearestEnd)
{
    Attach();
    m_bar.SetShowText(TRUE);
    m_bar.SetPos(250);
    Picture full = Capture(m_hBar);
    EXPECT_EQ(::GetSysColor(COLOR_HIGHLIGHT), full.At(kBarWidth - 2, 1));
    EXPECT_EQ(InsideFrame(ExpectedTextMask(100)), TextMask(full, kBarWidth));
    m_bar.SetPos(-5);
    Picture empty = Capture(m_hBar);
    EXPECT_EQ(::GetSysColor(COLOR_WINDOW), empty.At(1, 1));
    EXPECT_EQ(InsideFrame(ExpectedTextMask(0)), TextMask(empty, 0));

    // The extremes of the integer range do not overflow the fraction.
    m_bar.SetRange(INT_MIN, INT_MAX);
    m_bar.SetPos(INT_MAX);
    EXPECT_EQ(InsideFrame(ExpectedTextMask(100)), TextMask(Capture(m_hBar), kBarWidth));
    m_bar.SetPos(0);
    EXPECT_EQ(InsideFrame(ExpectedTextMask(50)), TextMask(Capture(m_hBar), kBarWidth / 2));
}

TEST_F(EMProgressCtrlTest, PaintOfPartOfTheBarClipsTheTextToTheSameRectangles)
{
    Attach();
    m_bar.SetShowText(TRUE);
    m_bar.SetPos(50);
    Picture whole = Capture(m_hBar);

    // Repaint only a strip across the edge: the off-screen picture then starts at x = 80.
    FillWindow(m_hBar, kSentinel);
    RECT rcStrip = {80, 0, 130, kBarHeight};
    ::InvalidateRect(m_hBar, &rcStrip, FALSE);
    ::UpdateWindow(m_hBar);
    Picture part = Capture(m_hBar);
    for (int y = 0; y < kBarHeight; ++y)
        for (int x = 0; x < kBarWidth; ++x) {
            if (x >= rcStrip.left && x < rcStrip.right)
                ASSERT_EQ(whole.At(x, y), part.At(x, y)) << x << "," << y;
            else
                ASSERT_EQ(kSentinel, part.At(x, y)) << x << "," << y;
        }
}

TEST(EMMemDC, OnAPrinterContextDrawsStraightToTheTarget)
{
    HDC hScreen = ::GetDC(nullptr);
    CDC screen;
    screen.Attach(hScreen);
    CDC target;
    target.CreateCompatibleDC(&screen);
    CBitmap bitmap;
    bitmap.CreateCompatibleBitmap(&screen, 20, 20);
    CGdiObject* pOld = target.SelectObject(&bitmap);
    target.m_bPrinting = TRUE;
    target.SetBkColor(RGB(0, 128, 0));
    RECT rcArea = {5, 5, 15, 15};
    {
        CEMMemDC memDC(&target, &rcArea);
        EXPECT_TRUE(memDC.IsPrinting());
        EXPECT_EQ(target.GetSafeHdc(), memDC.GetSafeHdc());
        EXPECT_EQ(RGB(0, 128, 0), ::GetPixel(target, 5, 5)) << "the area starts in the background colour";
        memDC.FillSolidRect(6, 6, 1, 1, RGB(255, 0, 0));
        EXPECT_EQ(RGB(255, 0, 0), ::GetPixel(target, 6, 6));
    }
    EXPECT_NE(0u, ::GetObjectType(target.GetSafeHdc())) << "the borrowed context outlives the memory context";
    target.SelectObject(pOld);
    screen.Detach();
    ::ReleaseDC(nullptr, hScreen);
}
