#include "GdiObject.h"
#include "DC.h"

IMPLEMENT_DYNAMIC(CGdiObject, CObject)
IMPLEMENT_DYNAMIC(CBitmap, CGdiObject)
IMPLEMENT_DYNAMIC(CRgn, CGdiObject)

BOOL CGdiObject::Attach(HGDIOBJ hObject)
{
    if (!hObject || m_object)
        return FALSE;
    m_object.Reset(hObject);
    return TRUE;
}

BOOL CGdiObject::DeleteObject()
{
    if (!m_object)
        return FALSE;
    m_object.Reset();
    return TRUE;
}

BOOL CBitmap::CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight)
{
    return !GetSafeHandle() && Attach(::CreateCompatibleBitmap(pDC->GetSafeHdc(), nWidth, nHeight));
}

BOOL CRgn::CreateRectRgn(int x1, int y1, int x2, int y2)
{
    return !GetSafeHandle() && Attach(::CreateRectRgn(x1, y1, x2, y2));
}
