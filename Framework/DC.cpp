#include "DC.h"
#include "Wnd.h"

IMPLEMENT_DYNAMIC(CDC, CObject)
IMPLEMENT_DYNAMIC(CPaintDC, CDC)

namespace {
// Stands for an object selected into a context by someone else: it must not delete the handle.
template <typename T>
class CBorrowedGdiObject : public T {
public:
    explicit CBorrowedGdiObject(HGDIOBJ hObject) { this->Attach(hObject); }
    ~CBorrowedGdiObject() override { this->Detach(); }
};
} // namespace

CDC::~CDC()
{
    DeleteDC();
}

BOOL CDC::Attach(HDC hDC)
{
    if (!hDC || m_hDC)
        return FALSE;
    m_hDC = hDC;
    m_bOwnsDC = FALSE;
    return TRUE;
}

HDC CDC::Detach()
{
    HDC hDC = m_hDC;
    m_hDC = nullptr;
    m_bOwnsDC = FALSE;
    return hDC;
}

BOOL CDC::CreateCompatibleDC(CDC* pDC)
{
    if (m_hDC)
        return FALSE;
    m_hDC = ::CreateCompatibleDC(pDC ? pDC->GetSafeHdc() : nullptr);
    m_bOwnsDC = m_hDC != nullptr;
    return m_bOwnsDC;
}

BOOL CDC::DeleteDC()
{
    if (!m_hDC)
        return FALSE;
    BOOL bOwned = m_bOwnsDC;
    HDC hDC = Detach();
    return bOwned ? ::DeleteDC(hDC) : TRUE;
}

template <typename T>
T* CDC::Previous(HGDIOBJ hOld, const CRuntimeClass* pClass)
{
    if (!hOld || hOld == HGDI_ERROR)
        return nullptr;
    // Reuse the wrapper of a handle seen before, so that swapping back and forth stays bounded.
    for (const auto& p : m_borrowedObjects) {
        if (p->GetSafeHandle() == hOld && p->GetRuntimeClass() == pClass)
            return static_cast<T*>(p.get());
    }
    m_borrowedObjects.push_back(std::make_unique<CBorrowedGdiObject<T>>(hOld));
    return static_cast<T*>(m_borrowedObjects.back().get());
}

CGdiObject* CDC::SelectObject(CGdiObject* pObject)
{
    // Selecting a region sets the clip and answers a region type, not a handle to wrap.
    if (pObject && ::GetObjectType(pObject->GetSafeHandle()) == OBJ_REGION) {
        ::SelectObject(m_hDC, pObject->GetSafeHandle());
        return nullptr;
    }
    return Previous<CGdiObject>(pObject ? ::SelectObject(m_hDC, pObject->GetSafeHandle()) : nullptr,
                                RUNTIME_CLASS(CGdiObject));
}

CBitmap* CDC::SelectObject(CBitmap* pBitmap)
{
    return Previous<CBitmap>(pBitmap ? ::SelectObject(m_hDC, pBitmap->GetSafeHandle()) : nullptr,
                             RUNTIME_CLASS(CBitmap));
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF clr)
{
    RECT rc = {cx < 0 ? x + cx : x, cy < 0 ? y + cy : y, cx < 0 ? x : x + cx, cy < 0 ? y : y + cy};
    // An opaque empty text paints exactly the rectangle, with no brush to create and delete.
    COLORREF crOld = ::SetBkColor(m_hDC, clr);
    ::ExtTextOut(m_hDC, 0, 0, ETO_OPAQUE, &rc, nullptr, 0, nullptr);
    ::SetBkColor(m_hDC, crOld);
}

void CDC::Draw3dRect(int x, int y, int cx, int cy, COLORREF clrTopLeft, COLORREF clrBottomRight)
{
    FillSolidRect(x, y, cx - 1, 1, clrTopLeft);
    FillSolidRect(x, y, 1, cy - 1, clrTopLeft);
    FillSolidRect(x + cx - 1, y, 1, cy, clrBottomRight);
    FillSolidRect(x, y + cy - 1, cx, 1, clrBottomRight);
}

SIZE CDC::GetWindowExt() const
{
    SIZE size = {};
    ::GetWindowExtEx(m_hDC, &size);
    return size;
}

SIZE CDC::SetWindowExt(SIZE size)
{
    SIZE old = {};
    ::SetWindowExtEx(m_hDC, size.cx, size.cy, &old);
    return old;
}

SIZE CDC::GetViewportExt() const
{
    SIZE size = {};
    ::GetViewportExtEx(m_hDC, &size);
    return size;
}

SIZE CDC::SetViewportExt(SIZE size)
{
    SIZE old = {};
    ::SetViewportExtEx(m_hDC, size.cx, size.cy, &old);
    return old;
}

POINT CDC::SetWindowOrg(int x, int y)
{
    POINT old = {};
    ::SetWindowOrgEx(m_hDC, x, y, &old);
    return old;
}

CPaintDC::CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->GetSafeHwnd())
{
    Attach(::BeginPaint(m_hWnd, &m_ps));
}

CPaintDC::~CPaintDC()
{
    Detach();
    ::EndPaint(m_hWnd, &m_ps);
}
