#include "KorvaneShellExt.h"
#include <shellapi.h>
#include <new>
#include "EMRegistryKey.h"
#include "FileDialog.h"
#include "Module.h"
#include "PackagedMenuCheck.h"
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
    : m_nFileCount(0), m_bmpMenu(nullptr), m_nMenuState(MENU_STATE_RUN), m_cRef(0), m_pUnkOuter(pUnkOuter),
      m_inner(*this)
{
    g_ShellExtModule.Lock(); // the module is not unloaded while an object lives
    m_bmpMenu = SharedMenuBitmap();
}

CKorvaneShellExt::~CKorvaneShellExt()
{
    g_ShellExtModule.Unlock();
}

namespace {
// The menu picture of every object of the process. A host may keep showing a menu after it
// released the object that built it, so the picture lives until the module is unloaded.
HBITMAP volatile s_hbmpMenu = nullptr;
} // namespace

HBITMAP CKorvaneShellExt::SharedMenuBitmap()
{
    if (HBITMAP hbmp = static_cast<HBITMAP>(::InterlockedCompareExchangePointer(
            reinterpret_cast<PVOID volatile*>(&s_hbmpMenu), nullptr, nullptr)))
        return hbmp;
    // A DIB section keeps the picture's own 16 colours, so it draws on a display of any depth.
    HBITMAP hLoaded = static_cast<HBITMAP>(::LoadImageW(AfxGetInstanceHandle(), MAKEINTRESOURCEW(IDB_MENU),
                                                        IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    if (!hLoaded)
        return nullptr; // tried again by the next object
    // Loaded without a lock: of two threads that raced, the first to publish wins.
    if (PVOID pEarlier = ::InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&s_hbmpMenu),
                                                             hLoaded, nullptr)) {
        ::DeleteObject(hLoaded);
        return static_cast<HBITMAP>(pEarlier);
    }
    return hLoaded;
}

void CKorvaneShellExt::FreeSharedMenuBitmap()
{
    if (PVOID hbmp = ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&s_hbmpMenu), nullptr))
        ::DeleteObject(static_cast<HBITMAP>(hbmp));
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
        return DoQueryContextMenu(hMenu, indexMenu, idCmdFirst, uFlags);
    } catch (...) {
        return ResultOfException();
    }
}

HRESULT CKorvaneShellExt::DoQueryContextMenu(HMENU hMenu, UINT indexMenu, UINT idCmdFirst, UINT uFlags)
{
    if (uFlags & CMF_DEFAULTONLY)
        return MAKE_HRESULT(SEVERITY_SUCCESS, 0, 0);
    // Windows 11 shows the same commands from the extension's package: not twice.
    if (IsPackagedMenuRegistered())
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
        if (nSlash >= 0) {
            CStringW strFile = m_strFirstSelection.Mid(nSlash + 1);
            // A menu takes "&" for the mark of an underlined access key; doubled, it shows as itself.
            strFile.Replace(L"&", L"&&");
            strName = L"\"" + strFile + L"\"";
        }
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
        ::SetMenuItemBitmaps(hMenu, nPosition + i, MF_BYPOSITION, m_bmpMenu, nullptr);
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
        return DoInvokeCommand(static_cast<UINT>(nVerb & 0xFFFF), *pici);
    } catch (...) {
        return ResultOfException();
    }
}

HRESULT CKorvaneShellExt::DoInvokeCommand(UINT nCmdIndex, const CMINVOKECOMMANDINFO& ici)
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
        // A caller that forbids any user interface gets nothing rather than a dialog it cannot expect.
        if ((ici.fMask & CMIC_MASK_FLAG_NO_UI) == 0)
            bStart = AskForSecondFile(m_strFile2, ici.hwnd);
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

bool CKorvaneShellExt::AskForSecondFile(CStringW& strPath, HWND hWndOwner)
{
    // Owned by the host's window, the dialog stays above it, disables it while open and takes no
    // taskbar button of its own. A window that is gone meanwhile would make the dialog fail.
    CFileDialog dlg(TRUE, L"*.*", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"All Files (*.*)|*.*||",
                    ::IsWindow(hWndOwner) ? hWndOwner : nullptr);
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
