#pragma once
// Drawing contexts. A CDC either owns its HDC (made by CreateCompatibleDC; deleted with the object)
// or borrows one (Attach ... Detach, as the paint context does with BeginPaint's): a borrowed handle
// is never deleted, so a context from BeginPaint or GetDC cannot be destroyed by mistake.
#include <memory>
#include <vector>
#include "GdiObject.h"
#include "StringT.h"

class CWnd;

class CDC : public CObject {
    DECLARE_DYNAMIC(CDC)
public:
    CDC() = default;
    ~CDC() override;

    BOOL m_bPrinting = FALSE; // the context draws on a printer page

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    BOOL IsPrinting() const { return m_bPrinting; }

    // Borrows an HDC (fails when the object already has one).
    BOOL Attach(HDC hDC);
    HDC Detach();
    BOOL CreateCompatibleDC(CDC* pDC);
    BOOL DeleteDC();

    // Selects pObject and returns the object it replaced. When that one was not selected through
    // this context, a wrapper that does not own it is returned, valid as long as this context.
    CGdiObject* SelectObject(CGdiObject* pObject);
    CBitmap* SelectObject(CBitmap* pBitmap);
    int SelectClipRgn(CRgn* pRgn)
    {
        return ::SelectClipRgn(m_hDC, pRgn ? static_cast<HRGN>(*pRgn) : nullptr);
    }
    int GetClipBox(LPRECT lpRect) const { return ::GetClipBox(m_hDC, lpRect); }

    COLORREF GetBkColor() const { return ::GetBkColor(m_hDC); }
    COLORREF SetBkColor(COLORREF crColor) { return ::SetBkColor(m_hDC, crColor); }
    int SetBkMode(int nBkMode) { return ::SetBkMode(m_hDC, nBkMode); }
    COLORREF SetTextColor(COLORREF crColor) { return ::SetTextColor(m_hDC, crColor); }

    // Fills with a plain colour; a negative width or height extends left or up from (x, y).
    void FillSolidRect(int x, int y, int cx, int cy, COLORREF clr);
    void FillSolidRect(LPCRECT lpRect, COLORREF clr)
    {
        FillSolidRect(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top,
                      clr);
    }
    // A one-pixel frame: top row and left column in clrTopLeft, right column and bottom row in
    // clrBottomRight (the bottom-right corner pixels belong to the latter).
    void Draw3dRect(int x, int y, int cx, int cy, COLORREF clrTopLeft, COLORREF clrBottomRight);
    void Draw3dRect(LPCRECT lpRect, COLORREF clrTopLeft, COLORREF clrBottomRight)
    {
        Draw3dRect(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top,
                   clrTopLeft, clrBottomRight);
    }
    int DrawText(LPCTSTR lpszString, int nCount, LPRECT lpRect, UINT nFormat)
    {
        return ::DrawText(m_hDC, lpszString, nCount, lpRect, nFormat);
    }
    int DrawText(const CString& str, LPRECT lpRect, UINT nFormat)
    {
        return DrawText(str.GetString(), str.GetLength(), lpRect, nFormat);
    }
    BOOL BitBlt(int x, int y, int nWidth, int nHeight, CDC* pSrcDC, int xSrc, int ySrc, DWORD dwRop)
    {
        return ::BitBlt(m_hDC, x, y, nWidth, nHeight, pSrcDC ? pSrcDC->m_hDC : nullptr, xSrc, ySrc, dwRop);
    }

    int GetMapMode() const { return ::GetMapMode(m_hDC); }
    int SetMapMode(int nMapMode) { return ::SetMapMode(m_hDC, nMapMode); }
    SIZE GetWindowExt() const;
    SIZE SetWindowExt(SIZE size);
    SIZE GetViewportExt() const;
    SIZE SetViewportExt(SIZE size);
    POINT SetWindowOrg(int x, int y);
    BOOL LPtoDP(LPRECT lpRect) const { return ::LPtoDP(m_hDC, reinterpret_cast<LPPOINT>(lpRect), 2); }

private:
    template <typename T>
    T* Previous(HGDIOBJ hOld, const CRuntimeClass* pClass);

    HDC m_hDC = nullptr;
    BOOL m_bOwnsDC = FALSE;
    std::vector<std::unique_ptr<CGdiObject>> m_borrowedObjects;
};

// The context of one WM_PAINT: BeginPaint on construction, EndPaint on destruction.
class CPaintDC : public CDC {
    DECLARE_DYNAMIC(CPaintDC)
public:
    explicit CPaintDC(CWnd* pWnd);
    ~CPaintDC() override;

    PAINTSTRUCT m_ps = {};

private:
    HWND m_hWnd;
};

// Lends a context handle that someone else owns (a message's WPARAM) to framework code.
class CBorrowedDC : public CDC {
public:
    explicit CBorrowedDC(HDC hDC) { Attach(hDC); }
};
