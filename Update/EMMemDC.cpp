#include "EMMemDC.h"
#include <cstdlib>

CEMMemDC::CEMMemDC(CDC* pDC, const RECT* pRect) : m_pTargetDC(pDC), m_bOffscreen(!pDC->IsPrinting())
{
    if (pRect)
        m_rcArea = *pRect;
    else
        pDC->GetClipBox(&m_rcArea);

    if (m_bOffscreen) {
        // The bitmap is measured in device pixels; logical and device units differ under other
        // mapping modes than the plain one.
        RECT rcDevice = m_rcArea;
        pDC->LPtoDP(&rcDevice);
        if (CreateCompatibleDC(pDC) &&
            m_bmpOffscreen.CreateCompatibleBitmap(pDC, std::abs(rcDevice.right - rcDevice.left),
                                                  std::abs(rcDevice.bottom - rcDevice.top))) {
            m_pOldBitmap = SelectObject(static_cast<CGdiObject*>(&m_bmpOffscreen));
            SetMapMode(pDC->GetMapMode());
            SetWindowExt(pDC->GetWindowExt());
            SetViewportExt(pDC->GetViewportExt());
            SetWindowOrg(m_rcArea.left, m_rcArea.top);
        } else {
            // Without a bitmap the picture would be lost: draw straight to the target instead.
            DeleteDC();
            m_bOffscreen = FALSE;
        }
    }
    if (!m_bOffscreen) {
        Attach(pDC->GetSafeHdc());
        m_bPrinting = pDC->IsPrinting();
    }
    FillSolidRect(&m_rcArea, pDC->GetBkColor());
}

CEMMemDC::~CEMMemDC()
{
    if (m_bOffscreen) {
        m_pTargetDC->BitBlt(m_rcArea.left, m_rcArea.top, m_rcArea.right - m_rcArea.left,
                            m_rcArea.bottom - m_rcArea.top, this, m_rcArea.left, m_rcArea.top, SRCCOPY);
        SelectObject(m_pOldBitmap);
    } else {
        Detach();
    }
}
