#include "KorvaneShellExt.h"
#include <shellapi.h>
#include <algorithm>
#include <new>
#include "ComSupport.h"
#include "MenuPicture.h"
#include "Module.h"
#include "PackagedMenuCheck.h"
#include "resource.h"
#include "ShellExtModule.h"
#include "TypeInfoHolder.h"

namespace {
// A storage medium handed out by the data object, released on every return path.
class CStgMedium {
public:
    CStgMedium() : m_medium() {}
    ~CStgMedium()
    {
        if (m_bHeld)
            ::ReleaseStgMedium(&m_medium);
    }
    CStgMedium(const CStgMedium&) = delete;
    CStgMedium& operator=(const CStgMedium&) = delete;
    STGMEDIUM* Put()
    {
        m_bHeld = true;
        return &m_medium;
    }
    void Abandon() { m_bHeld = false; } // the data object kept it: nothing to release
    HGLOBAL Global() const { return m_medium.tymed == TYMED_HGLOBAL ? m_medium.hGlobal : nullptr; }

private:
    STGMEDIUM m_medium;
    bool m_bHeld = false;
};

class CGlobalLock {
public:
    explicit CGlobalLock(HGLOBAL h) : m_h(h), m_p(h ? ::GlobalLock(h) : nullptr) {}
    const void* Get() const { return m_p; }
    ~CGlobalLock()
    {
        if (m_p)
            ::GlobalUnlock(m_h);
    }
    CGlobalLock(const CGlobalLock&) = delete;
    CGlobalLock& operator=(const CGlobalLock&) = delete;
    bool IsLocked() const { return m_p != nullptr; }

private:
    HGLOBAL m_h;
    void* m_p;
};

// The name list must end inside its block: the shell's list reader trusts the offset and walks
// to the double terminator, so a short or unterminated list would be read past its end.
bool IsWellFormedDropList(const void* pBlock, SIZE_T cbBlock)
{
    if (cbBlock < sizeof(DROPFILES))
        return false;
    const DROPFILES* pDrop = static_cast<const DROPFILES*>(pBlock);
    if (pDrop->pFiles < sizeof(DROPFILES) || pDrop->pFiles >= cbBlock)
        return false;
    const BYTE* pList = static_cast<const BYTE*>(pBlock) + pDrop->pFiles;
    SIZE_T cbList = cbBlock - pDrop->pFiles;
    if (pDrop->fWide) {
        const WCHAR* pch = reinterpret_cast<const WCHAR*>(pList);
        SIZE_T cch = cbList / sizeof(WCHAR);
        for (SIZE_T i = 0; i < cch; ++i)
            if (pch[i] == 0 && (i == 0 || pch[i - 1] == 0))
                return true;
    } else {
        for (SIZE_T i = 0; i < cbList; ++i)
            if (pList[i] == 0 && (i == 0 || pList[i - 1] == 0))
                return true;
    }
    return false;
}
} // namespace

CKorvaneShellExt::CKorvaneShellExt(IUnknown* pUnkOuter)
    : m_bmpMenu(nullptr), m_cRef(0), m_pUnkOuter(pUnkOuter), m_inner(*this)
{
    g_ShellExtModule.Lock(); // the module is not unloaded while an object lives
    m_bmpMenu = SharedMenuBitmap();
}

CKorvaneShellExt::~CKorvaneShellExt()
{
    g_ShellExtModule.Unlock();
}

HBITMAP CKorvaneShellExt::SharedMenuBitmap()
{
    return CMenuPicture::ForDpi(CMenuPicture::MenuDpi());
}

// ---- IUnknown ----

namespace {
// The type information of IKorvaneShellExt, shared by every object of the process.
CTypeInfoHolder s_typeInfo(LIBID_ShellExtLib, IID_IKorvaneShellExt, 1, 0);
} // namespace

HRESULT CKorvaneShellExt::CreateInstance(void* pUnkOuter, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    try {
        CKorvaneShellExt* pObject = new CKorvaneShellExt(static_cast<IUnknown*>(pUnkOuter));
        // Asked through the inner unknown, so an aggregated object hands the outer object its own.
        pObject->m_inner.AddRef();
        HRESULT hr = pObject->m_inner.QueryInterface(riid, ppv);
        pObject->m_inner.Release(); // destroys the object again if the interface was refused
        return hr;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CKorvaneShellExt::InternalQueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKorvaneShellExt) ||
        IsEqualIID(riid, IID_IDispatch))
        *ppv = static_cast<IKorvaneShellExt*>(this);
    else if (IsEqualIID(riid, IID_IShellExtInit))
        *ppv = static_cast<IShellExtInit*>(this);
    else if (IsEqualIID(riid, IID_IContextMenu))
        *ppv = static_cast<IContextMenu*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

STDMETHODIMP CKorvaneShellExt::CInnerUnknown::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (m_owner.m_pUnkOuter && IsEqualIID(riid, IID_IUnknown)) {
        *ppv = static_cast<IUnknown*>(this);
        AddRef();
        return S_OK;
    }
    return m_owner.InternalQueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CKorvaneShellExt::CInnerUnknown::AddRef()
{
    return ++m_owner.m_cRef;
}

STDMETHODIMP_(ULONG) CKorvaneShellExt::CInnerUnknown::Release()
{
    ULONG cRef = --m_owner.m_cRef;
    if (cRef == 0)
        delete &m_owner;
    return cRef;
}

STDMETHODIMP CKorvaneShellExt::QueryInterface(REFIID riid, void** ppv)
{
    return m_pUnkOuter ? m_pUnkOuter->QueryInterface(riid, ppv) : m_inner.QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) CKorvaneShellExt::AddRef()
{
    return m_pUnkOuter ? m_pUnkOuter->AddRef() : m_inner.AddRef();
}

STDMETHODIMP_(ULONG) CKorvaneShellExt::Release()
{
    return m_pUnkOuter ? m_pUnkOuter->Release() : m_inner.Release();
}

// ---- end of IUnknown ----

STDMETHODIMP CKorvaneShellExt::GetTypeInfoCount(UINT* pctinfo)
{
    return s_typeInfo.GetTypeInfoCount(pctinfo);
}

STDMETHODIMP CKorvaneShellExt::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    return s_typeInfo.GetTypeInfo(iTInfo, lcid, ppTInfo);
}

STDMETHODIMP CKorvaneShellExt::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                             DISPID* rgDispId)
{
    return s_typeInfo.GetIDsOfNames(rgszNames, cNames, lcid, rgDispId);
}

STDMETHODIMP CKorvaneShellExt::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags,
                                      DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                      UINT* puArgErr)
{
    return s_typeInfo.Invoke(static_cast<IKorvaneShellExt*>(this), dispIdMember, lcid, wFlags, pDispParams,
                             pVarResult, pExcepInfo, puArgErr);
}

STDMETHODIMP CKorvaneShellExt::Initialize(PCIDLIST_ABSOLUTE, IDataObject* pDataObj, HKEY)
{
    if (!pDataObj)
        return E_INVALIDARG;
    return DoInitialize(pDataObj);
}

HRESULT CKorvaneShellExt::DoInitialize(IDataObject* pDataObj)
{
    FORMATETC fmt = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    CStgMedium medium;
    if (FAILED(pDataObj->GetData(&fmt, medium.Put()))) {
        medium.Abandon();
        return E_INVALIDARG;
    }
    CGlobalLock lock(medium.Global());
    if (!lock.IsLocked() || !IsWellFormedDropList(lock.Get(), ::GlobalSize(medium.Global())))
        return E_INVALIDARG;

    HDROP hDrop = static_cast<HDROP>(medium.Global());
    UINT nNames = ::DragQueryFileW(hDrop, 0xFFFFFFFF, nullptr, 0);
    if (nNames == 0)
        return E_INVALIDARG;

    HRESULT hr = S_OK;
    // A walk cut short by an exception leaves the count the object had before it.
    const int nCountBefore = m_nFileCount;
    try {
        ResetSelection();
        for (UINT i = 0; i < nNames; ++i) {
            // Names of any length: a selection deep in a synced folder easily passes MAX_PATH.
            UINT nLength = ::DragQueryFileW(hDrop, i, nullptr, 0);
            CStringW strName;
            if (nLength == 0 || ::DragQueryFileW(hDrop, i, strName.GetBuffer(static_cast<int>(nLength) + 1),
                                                 nLength + 1) == 0) {
                hr = E_INVALIDARG;
                break;
            }
            strName.ReleaseBuffer(static_cast<int>(nLength));
            if (!TakeFile(strName))
                break;
        }
    } catch (...) {
        m_nFileCount = nCountBefore;
        hr = S_FALSE;
    }
    return hr;
}

STDMETHODIMP CKorvaneShellExt::QueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                                UINT uFlags)
{
    try {
        return DoQueryContextMenu(hMenu, indexMenu, idCmdFirst, idCmdLast, uFlags);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

HRESULT CKorvaneShellExt::DoQueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT idCmdLast,
                                             UINT uFlags)
{
    m_bMenuRead = false;
    if (uFlags & CMF_DEFAULTONLY)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    // Windows 11 shows the same commands from the extension's package: not twice.
    if (IsPackagedMenuRegistered())
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

    if (!Refresh())
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

    m_bMenuRead = true;
    return MAKE_HRESULT(SEVERITY_SUCCESS, 0,
                        static_cast<USHORT>(BuildMenu(hMenu, indexMenu, idCmdFirst, idCmdLast)));
}

int CKorvaneShellExt::BuildMenu(HMENU hMenu, UINT nPosition, UINT nFirstCmdId, UINT nLastCmdId)
{
    // Ids past nLastCmdId belong to the next handler of the same menu: only the items that fit
    // are inserted, and the host learns how many ids were used.
    const ULONGLONG ullRoom =
        nLastCmdId >= nFirstCmdId ? static_cast<ULONGLONG>(nLastCmdId) - nFirstCmdId + 1 : 0;
    const int nCount = static_cast<int>(std::min<ULONGLONG>(GetItemCount(), ullRoom));
    m_bmpMenu = SharedMenuBitmap(); // at the DPI the menu is drawn now
    // A position past the end (a host's -1 included) appends: the items then follow each other
    // there instead of the position wrapping round to the top.
    const int nHostItems = ::GetMenuItemCount(hMenu);
    if (nHostItems >= 0 && nPosition > static_cast<UINT>(nHostItems))
        nPosition = static_cast<UINT>(nHostItems);
    for (int i = 0; i < nCount; ++i) {
        CStringW strText = GetItemText(GetItemId(i), true);
        // Text, id and picture in one call, so that an insert that fails leaves the host's items
        // as they were. The item's own bitmap: menus since Windows Vista draw it alpha-blended
        // beside the text (Microsoft, "Visual Style Menus"), on light and dark menus alike; a
        // check-mark bitmap would show as an opaque box.
        MENUITEMINFOW mii = {};
        mii.cbSize = sizeof(mii);
        mii.fMask = MIIM_FTYPE | MIIM_STRING | MIIM_ID | (m_bmpMenu ? MIIM_BITMAP : 0);
        mii.fType = MFT_STRING;
        mii.wID = nFirstCmdId + i;
        mii.dwTypeData = strText.GetBuffer();
        mii.hbmpItem = m_bmpMenu;
        // Inserted whether or not the one before worked: the ids stay tied to the item order.
        ::InsertMenuItemW(hMenu, nPosition + i, TRUE, &mii);
    }
    return nCount;
}

CStringW CKorvaneShellExt::GetHelpText(UINT_PTR nCmdIndex) const
{
    if (nCmdIndex >= 0x10000)
        return CStringW();
    return GetItemHelp(GetItemId(static_cast<int>(nCmdIndex)));
}

STDMETHODIMP CKorvaneShellExt::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax)
{
    const UINT nItemId = idCmd < 0x10000 ? GetItemId(static_cast<int>(idCmd)) : 0;
    try {
        switch (uType) {
        case GCS_VALIDATEA:
        case GCS_VALIDATEW:
            return nItemId != 0 ? S_OK : S_FALSE;
        case GCS_VERBA:
        case GCS_VERBW: {
            // The verb a client hands back to InvokeCommand, so only an item has one.
            LPCSTR lpszVerb = GetItemVerb(nItemId);
            if (!lpszVerb)
                return E_INVALIDARG;
            // Never cut: "KorvaneCompareToFirstText" and "...Binary" cut short are the same verb,
            // which a host matching names would then give to the wrong item.
            if (!pszName || cchMax <= static_cast<UINT>(::lstrlenA(lpszVerb)))
                return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
            CStringW strVerb; // ASCII, the same in every code page
            for (; *lpszVerb; ++lpszVerb)
                strVerb += static_cast<WCHAR>(*lpszVerb);
            return CopyCommandString(strVerb, uType, pszName, cchMax);
        }
        case GCS_HELPTEXTA:
        case GCS_HELPTEXTW:
            return CopyCommandString(GetItemHelp(nItemId), uType, pszName, cchMax);
        case GCS_VERBICONW:
            return E_NOTIMPL; // the items' picture is in the menu already
        default:
            return E_INVALIDARG;
        }
    } catch (...) {
        return ResultOfCurrentException();
    }
}

HRESULT CKorvaneShellExt::CopyCommandString(const CStringW& strText, UINT uType, CHAR* pszName, UINT cchMax)
{
    if (!pszName || cchMax == 0)
        return S_OK;
    if (uType & GCS_UNICODE) {
        ::lstrcpynW(reinterpret_cast<LPWSTR>(pszName), strText, static_cast<int>(cchMax));
        return S_OK;
    }
    // Sized by the conversion itself: a fixed two bytes per character would cut a text of a
    // multi-byte code page such as UTF-8 and leave it unterminated.
    int cbAnsi = ::WideCharToMultiByte(CP_THREAD_ACP, 0, strText, -1, nullptr, 0, nullptr, nullptr);
    CStringA strAnsi;
    if (cbAnsi > 0) {
        char* p = strAnsi.GetBuffer(cbAnsi);
        int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, strText, -1, p, cbAnsi, nullptr, nullptr);
        strAnsi.ReleaseBuffer(n > 0 ? n - 1 : 0);
    }
    ::lstrcpynA(pszName, strAnsi, static_cast<int>(cchMax));
    return S_OK;
}

STDMETHODIMP CKorvaneShellExt::InvokeCommand(CMINVOKECOMMANDINFO* pici)
{
    if (!pici)
        return E_INVALIDARG;
    try {
        // The Unicode fields exist only in the extended record, which its size announces.
        LPCWSTR lpVerbW = nullptr;
        if (pici->cbSize >= sizeof(CMINVOKECOMMANDINFOEX) && (pici->fMask & CMIC_MASK_UNICODE))
            lpVerbW = reinterpret_cast<CMINVOKECOMMANDINFOEX*>(pici)->lpVerbW;
        // A verb string, or an index in the low word (nothing above it).
        const bool bByVerb = !IS_INTRESOURCE(lpVerbW) || !IS_INTRESOURCE(pici->lpVerb);
        // The shell hands a script's verb (ShellExecuteEx) to every handler of the selection until
        // one takes it, also to one that added no item: with the default-only flag, beside the
        // Windows 11 package, or with no menu asked for at all. The verb then means what the
        // selection and the product key call for now, and nothing while the menu is switched off.
        if (bByVerb && !m_bMenuRead && !Refresh())
            return E_FAIL;
        UINT nItemId;
        if (!IS_INTRESOURCE(lpVerbW))
            nItemId = FindItemByVerb(lpVerbW);
        else if (bByVerb)
            nItemId = FindItemByVerb(pici->lpVerb);
        else
            nItemId = GetItemId(LOWORD(reinterpret_cast<ULONG_PTR>(pici->lpVerb)));
        if (nItemId == 0)
            return E_FAIL; // not an item of this menu: nothing is done
        // A caller that forbids any user interface gets neither the dialog nor a message.
        return RunCommand(nItemId, pici->hwnd, (pici->fMask & CMIC_MASK_FLAG_NO_UI) == 0);
    } catch (...) {
        return ResultOfCurrentException();
    }
}
