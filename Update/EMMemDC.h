#pragma once
// An off-screen drawing context for one paint: drawing goes into a bitmap of the painted area, and
// the whole picture reaches the target in a single copy when the object goes, so nothing flickers.
// On a printer context it draws straight to the target instead.
#include "DC.h"

class CEMMemDC : public CDC {
public:
    // pRect: the area to cover in the target's logical coordinates; NULL means the target's clip box.
    explicit CEMMemDC(CDC* pDC, const RECT* pRect = nullptr);
    ~CEMMemDC() override;

private:
    CBitmap m_bmpOffscreen;
    CGdiObject* m_pOldBitmap = nullptr;
    CDC* m_pTargetDC;
    RECT m_rcArea = {};
    BOOL m_bOffscreen;
};
