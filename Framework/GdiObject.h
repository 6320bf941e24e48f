#pragma once
// Owners of GDI objects: each framework object deletes the handle it holds when it goes, so a
// bitmap or region cannot outlive its use nor be deleted twice.
#include "Object.h"
#include "UniqueHandle.h"

class CDC;

class CGdiObject : public CObject {
    DECLARE_DYNAMIC(CGdiObject)
public:
    CGdiObject() = default;

    HGDIOBJ GetSafeHandle() const { return m_object.Get(); }
    operator HGDIOBJ() const { return GetSafeHandle(); }

    // Takes ownership of a handle; fails when this object already holds one.
    BOOL Attach(HGDIOBJ hObject);
    HGDIOBJ Detach() { return m_object.Detach(); }
    BOOL DeleteObject();

private:
    CUniqueGdiObject m_object;
};

class CBitmap : public CGdiObject {
    DECLARE_DYNAMIC(CBitmap)
public:
    CBitmap() = default;
    operator HBITMAP() const { return static_cast<HBITMAP>(GetSafeHandle()); }

    BOOL CreateCompatibleBitmap(CDC* pDC, int nWidth, int nHeight);
};

class CRgn : public CGdiObject {
    DECLARE_DYNAMIC(CRgn)
public:
    CRgn() = default;
    operator HRGN() const { return static_cast<HRGN>(GetSafeHandle()); }

    BOOL CreateRectRgn(int x1, int y1, int x2, int y2);
    BOOL CreateRectRgnIndirect(LPCRECT lpRect)
    {
        return CreateRectRgn(lpRect->left, lpRect->top, lpRect->right, lpRect->bottom);
    }
};
