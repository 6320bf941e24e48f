#include "DataObjectDouble.h"
#include <shlobj.h>
#include <cstring>

// Handed out as the medium's release object: ReleaseStgMedium then calls Release here instead
// of freeing the block itself, which lets the double count releases and free the block.
class CDataObjectDouble::CMediumOwner final : public IUnknown {
public:
    CMediumOwner(CDataObjectDouble* pOwner, HGLOBAL hBlock) : m_pOwner(pOwner), m_hBlock(hBlock)
    {
        m_pOwner->AddRef();
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG cRef = --m_cRef;
        if (cRef == 0) {
            ::InterlockedIncrement(&m_pOwner->m_nReleased);
            if (m_hBlock)
                ::GlobalFree(m_hBlock);
            m_pOwner->Release();
            delete this;
        }
        return cRef;
    }

private:
    ULONG m_cRef = 1;
    CDataObjectDouble* m_pOwner;
    HGLOBAL m_hBlock;
};

CDataObjectDouble::CDataObjectDouble(const std::vector<std::wstring>& names) : m_block(MakeDropBlock(names)) {}

CDataObjectDouble* CDataObjectDouble::FromBytes(const std::vector<BYTE>& block)
{
    CDataObjectDouble* p = new CDataObjectDouble;
    p->m_block = block;
    return p;
}

std::vector<BYTE> CDataObjectDouble::MakeDropBlock(const std::vector<std::wstring>& names)
{
    std::vector<BYTE> block(sizeof(DROPFILES));
    DROPFILES header = {};
    header.pFiles = sizeof(DROPFILES);
    header.fWide = TRUE;
    std::memcpy(block.data(), &header, sizeof(header));
    for (const std::wstring& name : names) {
        const BYTE* p = reinterpret_cast<const BYTE*>(name.c_str());
        block.insert(block.end(), p, p + (name.size() + 1) * sizeof(wchar_t));
    }
    block.insert(block.end(), sizeof(wchar_t), 0);
    return block;
}

STDMETHODIMP CDataObjectDouble::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
        *ppv = static_cast<IDataObject*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CDataObjectDouble::AddRef()
{
    return ::InterlockedIncrement(&m_cRef);
}

STDMETHODIMP_(ULONG) CDataObjectDouble::Release()
{
    LONG cRef = ::InterlockedDecrement(&m_cRef);
    if (cRef == 0)
        delete this;
    return cRef;
}

STDMETHODIMP CDataObjectDouble::GetData(FORMATETC* pFormat, STGMEDIUM* pMedium)
{
    if (!pFormat || !pMedium)
        return E_INVALIDARG;
    if (m_mode == Mode::FailGetData)
        return E_FAIL;
    if (pFormat->cfFormat != CF_HDROP || !(pFormat->tymed & TYMED_HGLOBAL))
        return DV_E_FORMATETC;

    HGLOBAL hBlock = nullptr;
    if (m_mode == Mode::Serve) {
        hBlock = ::GlobalAlloc(GMEM_MOVEABLE, m_block.size());
        if (!hBlock)
            return E_OUTOFMEMORY;
        void* p = ::GlobalLock(hBlock);
        std::memcpy(p, m_block.data(), m_block.size());
        ::GlobalUnlock(hBlock);
    }
    pMedium->tymed = TYMED_HGLOBAL;
    pMedium->hGlobal = hBlock;
    pMedium->pUnkForRelease = new CMediumOwner(this, hBlock);
    ::InterlockedIncrement(&m_nHandedOut);
    return S_OK;
}

STDMETHODIMP CDataObjectDouble::QueryGetData(FORMATETC* pFormat)
{
    if (!pFormat)
        return E_INVALIDARG;
    return pFormat->cfFormat == CF_HDROP && (pFormat->tymed & TYMED_HGLOBAL) ? S_OK : DV_E_FORMATETC;
}

STDMETHODIMP CDataObjectDouble::GetCanonicalFormatEtc(FORMATETC*, FORMATETC* pOut)
{
    if (pOut)
        pOut->ptd = nullptr;
    return DATA_S_SAMEFORMATETC;
}

STDMETHODIMP CDataObjectDouble::EnumFormatEtc(DWORD, IEnumFORMATETC** ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}
