#include "KorvaneShellExt.h"
#include <shellapi.h>
#include <cstring>
#include <new>
#include "EMRegistryKey.h"
#include "FileDialog.h"
#include "Module.h"
#include "resource.h"
#include "ShellExtModule.h"
#include "TypeInfoHolder.h"

const WCHAR g_szProductKey[] = L"Software\\Halden Forge\\Korvane";

namespace {
const WCHAR kValueMenuEnabled[] = L"ContextMenuEnabled";
const WCHAR kValueFirstSelection[] = L"FirstSelection";
const WCHAR kValueProgram[] = L"Korvane";
const WCHAR kProgramFile[] = L"korvane.exe";

// Item texts of each menu state, in menu order; 0 ends a row. Each help text is at id + 1.
const UINT kMenuItems[4][4] = {
    {IDS_RUN},
    {IDS_SELECT_FIRST, IDS_COMPARE_OTHER_TEXT, IDS_COMPARE_OTHER_BINARY},
    {IDS_COMPARE_TO_TEXT, IDS_COMPARE_TO_BINARY, IDS_COMPARE_OTHER_TEXT, IDS_COMPARE_OTHER_BINARY},
    {IDS_COMPARE_PAIR_TEXT, IDS_COMPARE_PAIR_BINARY},
};

// The string table lookups of the COM methods must find the extension's texts, not the host's.
class CModuleResourceScope {
public:
    CModuleResourceScope() : m_hPrevious(AfxGetResourceHandle()) { AfxSetResourceHandle(AfxGetInstanceHandle()); }
    ~CModuleResourceScope() { AfxSetResourceHandle(m_hPrevious); }
    CModuleResourceScope(const CModuleResourceScope&) = delete;
    CModuleResourceScope& operator=(const CModuleResourceScope&) = delete;

private:
    HINSTANCE m_hPrevious;
};

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

// The menu picture, decoded from its resource here: the system's bitmap loader creates and
// deletes a screen device context for every bitmap, which under wine made it most of the cost of
// a context menu. Pictures of another form than a small palette image go to the system's loader.
HBITMAP LoadMenuBitmap(HINSTANCE hModule)
{
    const int kMaxSide = 64;
    HRSRC hInfo = ::FindResourceW(hModule, MAKEINTRESOURCEW(IDB_MENU), MAKEINTRESOURCEW(2) /* RT_BITMAP */);
    HGLOBAL hData = hInfo ? ::LoadResource(hModule, hInfo) : nullptr;
    const BYTE* pData = hData ? static_cast<const BYTE*>(::LockResource(hData)) : nullptr;
    DWORD cbData = hInfo ? ::SizeofResource(hModule, hInfo) : 0;
    BITMAPINFOHEADER bih = {};
    if (pData && cbData >= sizeof(bih))
        std::memcpy(&bih, pData, sizeof(bih));
    const int nWidth = bih.biWidth, nHeight = bih.biHeight < 0 ? -bih.biHeight : bih.biHeight;
    const DWORD nColors = bih.biClrUsed ? bih.biClrUsed : (1u << (bih.biBitCount & 15));
    const DWORD cbStride = ((static_cast<DWORD>(nWidth) * bih.biBitCount + 31) / 32) * 4;
    if (bih.biSize != sizeof(bih) || nWidth < 1 || nWidth > kMaxSide || nHeight < 1 || nHeight > kMaxSide ||
        bih.biPlanes != 1 || (bih.biBitCount != 4 && bih.biBitCount != 8) || bih.biCompression != BI_RGB ||
        nColors > (1u << bih.biBitCount) || sizeof(bih) + nColors * 4 + cbStride * nHeight > cbData)
        return static_cast<HBITMAP>(
            ::LoadImageW(hModule, MAKEINTRESOURCEW(IDB_MENU), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));

    const BYTE* pPalette = pData + sizeof(bih);
    const BYTE* pBits = pPalette + nColors * 4;
    DWORD pixels[kMaxSide * kMaxSide] = {};
    for (int y = 0; y < nHeight; ++y) {
        // Stored bottom-up unless the height is negative.
        const BYTE* pRow = pBits + cbStride * (bih.biHeight > 0 ? nHeight - 1 - y : y);
        for (int x = 0; x < nWidth; ++x) {
            DWORD nIndex = bih.biBitCount == 8 ? pRow[x] : (x & 1 ? pRow[x / 2] & 0x0F : pRow[x / 2] >> 4);
            if (nIndex < nColors) {
                const BYTE* q = pPalette + nIndex * 4; // blue, green, red, reserved
                pixels[y * nWidth + x] = q[0] | (q[1] << 8) | (q[2] << 16);
            }
        }
    }
    return ::CreateBitmap(nWidth, nHeight, 1, 32, pixels);
}

// The COM result for an exception stopped at a method boundary.
HRESULT ResultOfException()
{
    try {
        throw;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
} // namespace

CKorvaneShellExt::CKorvaneShellExt(IUnknown* pUnkOuter)
    : m_nFileCount(0), m_nMenuState(MENU_STATE_RUN), m_cRef(0), m_pUnkOuter(pUnkOuter), m_inner(*this)
{
    g_ShellExtModule.Lock(); // the module is not unloaded while an object lives
    m_bmpMenu.Reset(LoadMenuBitmap(AfxGetInstanceHandle()));
}

CKorvaneShellExt::~CKorvaneShellExt()
{
    g_ShellExtModule.Unlock();
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
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IKorvaneShellExt) || IsEqualIID(riid, IID_IDispatch))
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

STDMETHODIMP CKorvaneShellExt::GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    return s_typeInfo.GetIDsOfNames(rgszNames, cNames, lcid, rgDispId);
}

STDMETHODIMP CKorvaneShellExt::Invoke(DISPID dispIdMember, REFIID, LCID lcid, WORD wFlags, DISPPARAMS* pDispParams,
                                      VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr)
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
    try {
        int nTaken = 0;
        for (UINT i = 0; i < nNames; ++i) {
            WCHAR szName[MAX_PATH];
            // A name that does not fit is passed over like a vanished path: cut short, it would
            // name some other file.
            UINT nLength = ::DragQueryFileW(hDrop, i, nullptr, 0);
            if (nLength >= MAX_PATH)
                continue;
            if (::DragQueryFileW(hDrop, i, szName, MAX_PATH) == 0) {
                hr = E_INVALIDARG;
                break;
            }
            DWORD dwAttributes = ::GetFileAttributesW(szName);
            if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
                continue;
            if (nTaken == 0) {
                m_strFile1 = szName;
                nTaken = 1;
            } else {
                m_strFile2 = szName;
                nTaken = 2;
                break;
            }
        }
        m_nFileCount = nTaken;
    } catch (...) {
        hr = S_FALSE;
    }
    return hr;
}

STDMETHODIMP CKorvaneShellExt::QueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT, UINT uFlags)
{
    try {
        CModuleResourceScope resources;
        return DoQueryContextMenu(hMenu, indexMenu, idCmdFirst, uFlags);
    } catch (...) {
        return ResultOfException();
    }
}

HRESULT CKorvaneShellExt::DoQueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT uFlags)
{
    if (uFlags & CMF_DEFAULTONLY)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);

    CEMRegistryKey key;
    if (key.CreateKey(HKEY_CURRENT_USER, g_szProductKey) != ERROR_SUCCESS)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    m_strFirstSelection = key.QueryString(kValueFirstSelection, L"");
    if (key.QueryDword(kValueMenuEnabled, 0) == 0)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    key.Close();

    if (m_nFileCount == 1)
        m_nMenuState = m_strFirstSelection.IsEmpty() ? MENU_STATE_SELECT_FIRST : MENU_STATE_COMPARE_TO_FIRST;
    else if (m_nFileCount == 2)
        m_nMenuState = MENU_STATE_COMPARE_PAIR;
    else
        m_nMenuState = MENU_STATE_RUN;

    return MAKE_HRESULT(SEVERITY_SUCCESS, 0, static_cast<USHORT>(BuildMenu(hMenu, indexMenu, idCmdFirst)));
}

int CKorvaneShellExt::BuildMenu(HMENU hMenu, UINT nPosition, UINT nFirstCmdId)
{
    if (m_nMenuState < 0 || m_nMenuState > MENU_STATE_COMPARE_PAIR)
        return 0;

    CStringW strName;
    if (m_nMenuState == MENU_STATE_COMPARE_TO_FIRST) {
        int nSlash = m_strFirstSelection.ReverseFind(L'\\');
        if (nSlash >= 0)
            strName = L"\"" + m_strFirstSelection.Mid(nSlash + 1) + L"\"";
    }

    int nCount = 0;
    for (UINT nTextId : kMenuItems[m_nMenuState]) {
        if (nTextId == 0)
            break;
        CStringW strText;
        strText.LoadString(nTextId);
        if (nTextId == IDS_COMPARE_TO_TEXT || nTextId == IDS_COMPARE_TO_BINARY)
            strText.Replace(L"FILENAME", strName);
        // Counted whether or not the insertion worked: the ids stay tied to the table rows.
        ::InsertMenuW(hMenu, nPosition + nCount, MF_BYPOSITION | MF_STRING, nFirstCmdId + nCount, strText);
        ++nCount;
    }
    for (int i = 0; i < nCount; ++i)
        ::SetMenuItemBitmaps(hMenu, nPosition + i, MF_BYPOSITION, m_bmpMenu.Get(), nullptr);
    return nCount;
}

CStringW CKorvaneShellExt::GetHelpText(UINT_PTR nCmdIndex) const
{
    CStringW strHelp;
    if (m_nMenuState < 0 || m_nMenuState > MENU_STATE_COMPARE_PAIR || nCmdIndex >= 4)
        return strHelp;
    UINT nTextId = kMenuItems[m_nMenuState][nCmdIndex];
    if (nTextId != 0)
        strHelp.LoadString(nTextId + 1);
    return strHelp;
}

STDMETHODIMP CKorvaneShellExt::GetCommandString(UINT_PTR idCmd, UINT uType, UINT*, CHAR* pszName, UINT cchMax)
{
    // A bit test, as the shell's own handlers do: every Unicode request and the ANSI help text.
    if ((uType & (GCS_HELPTEXTA | GCS_UNICODE)) == 0)
        return E_INVALIDARG;
    try {
        CModuleResourceScope resources;
        CStringW strHelp = GetHelpText(idCmd);
        if (!pszName || cchMax == 0)
            return S_OK;
        if (uType & GCS_UNICODE) {
            ::lstrcpynW(reinterpret_cast<LPWSTR>(pszName), strHelp, static_cast<int>(cchMax));
            return S_OK;
        }
        // Sized by the conversion itself: a fixed two bytes per character would cut a text of a
        // multi-byte code page such as UTF-8 and leave it unterminated.
        int cbAnsi = ::WideCharToMultiByte(CP_THREAD_ACP, 0, strHelp, -1, nullptr, 0, nullptr, nullptr);
        CStringA strAnsi;
        if (cbAnsi > 0) {
            char* p = strAnsi.GetBuffer(cbAnsi);
            int n = ::WideCharToMultiByte(CP_THREAD_ACP, 0, strHelp, -1, p, cbAnsi, nullptr, nullptr);
            strAnsi.ReleaseBuffer(n > 0 ? n - 1 : 0);
        }
        ::lstrcpynA(pszName, strAnsi, static_cast<int>(cchMax));
        return S_OK;
    } catch (...) {
        return ResultOfException();
    }
}

STDMETHODIMP CKorvaneShellExt::InvokeCommand(CMINVOKECOMMANDINFO* pici)
{
    if (!pici)
        return E_INVALIDARG;
    // Commands come by index only; anything above the low word is a pointer to a verb string.
    ULONG_PTR nVerb = reinterpret_cast<ULONG_PTR>(pici->lpVerb);
    if ((nVerb >> 16) != 0)
        return E_INVALIDARG;
    try {
        CModuleResourceScope resources;
        return DoInvokeCommand(static_cast<UINT>(nVerb & 0xFFFF));
    } catch (...) {
        return ResultOfException();
    }
}

HRESULT CKorvaneShellExt::DoInvokeCommand(UINT nCmdIndex)
{
    // The command is the item the menu showed at that index: the same table built it.
    UINT nTextId = 0;
    if (m_nMenuState >= MENU_STATE_RUN && m_nMenuState <= MENU_STATE_COMPARE_PAIR && nCmdIndex < 4)
        nTextId = kMenuItems[m_nMenuState][nCmdIndex];
    const int nText = (nTextId == IDS_RUN || nTextId == IDS_COMPARE_TO_TEXT || nTextId == IDS_COMPARE_OTHER_TEXT ||
                       nTextId == IDS_COMPARE_PAIR_TEXT)
                          ? 1
                          : 0;
    bool bStart = false;
    switch (nTextId) {
    case IDS_SELECT_FIRST:
        m_strFirstSelection = m_strFile1;
        WriteFirstSelection(m_strFirstSelection);
        break;
    case IDS_COMPARE_TO_TEXT:
    case IDS_COMPARE_TO_BINARY:
        m_strFile2 = m_strFile1;
        m_strFile1 = m_strFirstSelection;
        // Cleared before the start, so a failed start does not leave it offered again.
        WriteFirstSelection(L"");
        bStart = true;
        break;
    case IDS_COMPARE_OTHER_TEXT:
    case IDS_COMPARE_OTHER_BINARY:
        bStart = AskForSecondFile(m_strFile2);
        break;
    case IDS_RUN:
    case IDS_COMPARE_PAIR_TEXT:
    case IDS_COMPARE_PAIR_BINARY:
        bStart = true;
        break;
    }
    if (!bStart)
        return S_FALSE;

    CStringW strProgram;
    if (!GetProgramPath(strProgram))
        strProgram = GetDefaultProgramPath();
    CStringW strCommandLine = BuildCommandLine(strProgram, nText, m_strFile1, m_strFile2);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // The system may write into the command line, so it gets a buffer of its own.
    if (!::CreateProcessW(nullptr, strCommandLine.GetBuffer(), nullptr, nullptr, FALSE, CREATE_DEFAULT_ERROR_MODE,
                          nullptr, nullptr, &si, &pi))
        return S_FALSE;
    // Not waited for: the comparison program lives on its own.
    CUniqueKernelHandle hThread(pi.hThread);
    CUniqueKernelHandle hProcess(pi.hProcess);
    hThread.Reset();
    return S_OK;
}

bool CKorvaneShellExt::AskForSecondFile(CStringW& strPath)
{
    CFileDialog dlg(TRUE, L"*.*", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"All Files (*.*)|*.*||");
    if (dlg.DoModal() != IDOK)
        return false;
    strPath = dlg.GetPathName();
    return true;
}

void CKorvaneShellExt::WriteFirstSelection(LPCWSTR lpszPath)
{
    CEMRegistryKey key;
    if (key.CreateKey(HKEY_CURRENT_USER, g_szProductKey) == ERROR_SUCCESS)
        key.SetString(kValueFirstSelection, lpszPath);
}

bool CKorvaneShellExt::GetProgramPath(CStringW& strPath) const
{
    CEMRegistryKey key;
    if (!key.OpenKeyForQuery(g_szProductKey))
        return false;
    CStringW strValue = key.QueryString(kValueProgram, L"");
    if (strValue.IsEmpty())
        return false;
    strPath = strValue;
    return true;
}

CStringW CKorvaneShellExt::GetDefaultProgramPath()
{
    WCHAR szModule[MAX_PATH] = {};
    DWORD nLength = ::GetModuleFileNameW(AfxGetInstanceHandle(), szModule, MAX_PATH);
    CStringW strFolder(szModule, nLength < MAX_PATH ? static_cast<int>(nLength) : MAX_PATH - 1);
    int nCut = strFolder.ReverseFind(L'\\');
    if (nCut < 0)
        nCut = strFolder.ReverseFind(L'/');
    return strFolder.Left(nCut + 1) + kProgramFile;
}

CStringW CKorvaneShellExt::BuildCommandLine(const CStringW& strProgram, int nText, const CStringW& strFile1,
                                            const CStringW& strFile2)
{
    // Quoted, so that a path with blanks such as C:\Program Files\... is not read as
    // C:\Program.exe with arguments by the system's rules for unquoted program names.
    CStringW strCommandLine;
    if (!strProgram.IsEmpty() && strProgram[0] == L'"')
        strCommandLine = strProgram;
    else
        strCommandLine = L"\"" + strProgram + L"\"";
    CStringW strArguments;
    strArguments.Format(nText == 1 ? L" /text /f1 \"%s\" /f2 \"%s\"" : L" /hex /f1 \"%s\" /f2 \"%s\"",
                        strFile1.GetString(), strFile2.GetString());
    return strCommandLine + strArguments;
}
