#pragma once
// A progress bar that paints itself: the filled part in the highlight colour, the rest in the
// window colour, a sunken one-pixel frame and, optionally, the percentage centred over the bar in
// inverted colours. It takes over an existing msctls_progress32 window; range and position live
// here, never in the platform control, so the control's own questions (what screen readers ask)
// are answered from here too.
#include "DC.h"
#include "ProgressCtrl.h"

class CEMProgressCtrl : public CProgressCtrl {
public:
    CEMProgressCtrl();
    ~CEMProgressCtrl() override = default;

    void SetRange(int nLower, int nUpper);
    // Returns the previous position, or -1 (storing nothing) when there is no window yet.
    // Repaints at once, and only when the filled width changes.
    int SetPos(int nPos);
    void SetShowText(BOOL bShow);

protected:
    BOOL OnEraseBkgnd(CDC* pDC);
    void OnPaint();
    void OnSize(UINT nType, int cx, int cy);
    LRESULT OnGetPos(WPARAM wp, LPARAM lp);
    LRESULT OnGetRange(WPARAM wp, LPARAM lp);
    LRESULT OnGetState(WPARAM wp, LPARAM lp);
    LRESULT OnSysColorChange(WPARAM wp, LPARAM lp);
    DECLARE_MESSAGE_MAP()

private:
    // The position's share of the range as an exact fraction llDone / llSpan.
    void GetFraction(long long& llDone, long long& llSpan) const;
    // Filled width in pixels of a bar nWidth wide at the current position, and the percentage.
    int FilledWidth(int nWidth) const;
    int Percent() const;
    // Tells accessibility clients that the value they read changed, when nOldPercent is not the
    // percentage now.
    void NotifyValueChange(int nOldPercent);
    void ReadColours();

    int m_nUpper = 100;
    int m_nLower = 0;
    int m_nPos = 0;
    float m_fFraction = 0.0f;
    BOOL m_bShowText = FALSE;
    int m_nFilledWidth = -1;
    COLORREF m_crBar;
    COLORREF m_crBack;
    COLORREF m_crTextOnBack;
    COLORREF m_crTextOnBar;
};
