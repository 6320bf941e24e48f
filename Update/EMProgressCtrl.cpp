#include "EMProgressCtrl.h"
#include "EMMemDC.h"

BEGIN_MESSAGE_MAP(CEMProgressCtrl, CProgressCtrl)
    ON_WM_ERASEBKGND()
    ON_WM_PAINT()
    ON_WM_SIZE()
    ON_MESSAGE(PBM_GETPOS, OnGetPos)
    ON_MESSAGE(PBM_GETRANGE, OnGetRange)
    ON_MESSAGE(PBM_GETSTATE, OnGetState)
    ON_MESSAGE(WM_SYSCOLORCHANGE, OnSysColorChange)
END_MESSAGE_MAP()

namespace {
const UINT kTextFormat = DT_CENTER | DT_VCENTER | DT_SINGLELINE;

// Clips to a rectangle given in logical coordinates: regions are in device coordinates, and the
// off-screen context's origin sits at the painted area's corner, not at the control's.
void ClipTo(CDC& dc, CRgn& rgn, const RECT& rcLogical)
{
    RECT rcDevice = rcLogical;
    dc.LPtoDP(&rcDevice);
    rgn.DeleteObject();
    rgn.CreateRectRgnIndirect(&rcDevice);
    dc.SelectClipRgn(&rgn);
}
} // namespace

CEMProgressCtrl::CEMProgressCtrl()
{
    ReadColours();
}

void CEMProgressCtrl::ReadColours()
{
    m_crBar = ::GetSysColor(COLOR_HIGHLIGHT);
    m_crBack = ::GetSysColor(COLOR_WINDOW);
    m_crTextOnBack = ::GetSysColor(COLOR_HIGHLIGHT);
    m_crTextOnBar = ::GetSysColor(COLOR_WINDOW);
}

// Both results come from the exact integer fraction, so a whole percentage or pixel count is
// never lowered by floating-point rounding (57 of 0..100 is 57 %, not 56). Positions outside the
// range count as its nearest end, so nothing is drawn beyond the control; an empty range fills 0.
void CEMProgressCtrl::GetFraction(long long& llDone, long long& llSpan) const
{
    llSpan = static_cast<long long>(m_nUpper) - m_nLower;
    llDone = static_cast<long long>(m_nPos) - m_nLower;
    if (llSpan <= 0)
        llSpan = 1, llDone = 0;
    llDone = llDone < 0 ? 0 : (llDone > llSpan ? llSpan : llDone);
}

int CEMProgressCtrl::FilledWidth(int nWidth) const
{
    long long llDone, llSpan;
    GetFraction(llDone, llSpan);
    return nWidth > 0 ? static_cast<int>(nWidth * llDone / llSpan) : 0;
}

int CEMProgressCtrl::Percent() const
{
    return FilledWidth(100);
}

void CEMProgressCtrl::SetRange(int nLower, int nUpper)
{
    int nOldPercent = Percent();
    m_nLower = nLower;
    m_nUpper = nUpper;
    NotifyValueChange(nOldPercent);
}

void CEMProgressCtrl::NotifyValueChange(int nOldPercent)
{
    // Screen readers read the bar through the platform control's accessible object, whose value
    // is the percentage of PBM_GETPOS in PBM_GETRANGE; this event makes them read it again.
    if (Percent() != nOldPercent && m_hWnd)
        ::NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, m_hWnd, OBJID_CLIENT, CHILDID_SELF);
}

int CEMProgressCtrl::SetPos(int nPos)
{
    if (!::IsWindow(m_hWnd))
        return -1;
    int nOldPos = m_nPos;
    int nOldPercent = Percent();
    m_nPos = nPos;
    NotifyValueChange(nOldPercent);
    RECT rcClient;
    GetClientRect(&rcClient);
    int nFilledWidth = FilledWidth(rcClient.right - rcClient.left);
    if (nFilledWidth != m_nFilledWidth) {
        m_nFilledWidth = nFilledWidth;
        RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
    }
    return nOldPos;
}

void CEMProgressCtrl::SetShowText(BOOL bShow)
{
    if (::IsWindow(m_hWnd) && bShow != m_bShowText)
        Invalidate(TRUE);
    m_bShowText = bShow;
}

BOOL CEMProgressCtrl::OnEraseBkgnd(CDC* pDC)
{
    return TRUE; // the paint covers every pixel
}

void CEMProgressCtrl::OnSize(UINT nType, int cx, int cy)
{
    CProgressCtrl::OnSize(nType, cx, cy);
    m_nFilledWidth = -1;
}

LRESULT CEMProgressCtrl::OnGetPos(WPARAM, LPARAM)
{
    return m_nPos;
}

LRESULT CEMProgressCtrl::OnGetRange(WPARAM wp, LPARAM lp)
{
    if (auto* pRange = reinterpret_cast<PBRANGE*>(lp)) {
        pRange->iLow = m_nLower;
        pRange->iHigh = m_nUpper;
    }
    return wp ? m_nLower : m_nUpper; // wp TRUE asks for the lower end
}

LRESULT CEMProgressCtrl::OnGetState(WPARAM, LPARAM)
{
    return PBST_NORMAL; // never paused nor in error
}

LRESULT CEMProgressCtrl::OnSysColorChange(WPARAM, LPARAM)
{
    // The colours follow the system's (a high-contrast theme switched on during the download).
    ReadColours();
    Default();
    Invalidate(FALSE);
    return 0;
}

void CEMProgressCtrl::OnPaint()
{
    CPaintDC dc(this); // validates the control even when nothing is drawn
    if (m_nLower >= m_nUpper)
        return;
    CEMMemDC memDC(&dc);

    RECT rcClient;
    GetClientRect(&rcClient);
    int nWidth = rcClient.right - rcClient.left;
    int nHeight = rcClient.bottom - rcClient.top;
    long long llDone, llSpan;
    GetFraction(llDone, llSpan);
    m_fFraction = static_cast<float>(static_cast<double>(llDone) / static_cast<double>(llSpan));
    int nFilled = FilledWidth(nWidth);

    RECT rcLeft = rcClient;
    rcLeft.right = rcLeft.left + nFilled;
    memDC.FillSolidRect(&rcLeft, m_crBar);
    RECT rcRight = rcClient;
    rcRight.left = rcLeft.right;
    memDC.FillSolidRect(&rcRight, m_crBack);
    memDC.Draw3dRect(rcClient.left, rcClient.top, nWidth, nHeight, ::GetSysColor(COLOR_BTNSHADOW),
                     ::GetSysColor(COLOR_BTNHIGHLIGHT));

    if (!m_bShowText)
        return;
    CString strPercent;
    strPercent.Format(TEXT("%d%%"), Percent());
    int nOldBkMode = memDC.SetBkMode(TRANSPARENT);
    CRgn rgnClip;
    RECT rcText = rcClient;
    ClipTo(memDC, rgnClip, rcLeft);
    memDC.SetTextColor(m_crTextOnBar);
    memDC.DrawText(strPercent, &rcText, kTextFormat);
    rcText = rcClient;
    ClipTo(memDC, rgnClip, rcRight);
    memDC.SetTextColor(m_crTextOnBack);
    memDC.DrawText(strPercent, &rcText, kTextFormat);
    memDC.SetBkMode(nOldBkMode);
    memDC.SelectClipRgn(nullptr);
}
