#include "SubCommandEnum.h"
#include <new>
#include "KorvaneSubCommand.h"
#include "ShellExtModule.h"

CSubCommandEnum::CSubCommandEnum(CKorvaneExplorerCommand* pRoot, ULONG nPosition) noexcept
    : m_cRef(0), m_nPosition(nPosition), m_pRoot(CUniqueInterface<CKorvaneExplorerCommand>::Share(pRoot))
{
    g_ShellExtModule.Lock(); // the module is not unloaded while an object lives
}

CSubCommandEnum::~CSubCommandEnum()
{
    g_ShellExtModule.Unlock();
}

HRESULT CSubCommandEnum::Create(CKorvaneExplorerCommand* pRoot, ULONG nPosition,
                                IEnumExplorerCommand** ppEnum) noexcept
{
    if (!ppEnum)
        return E_POINTER;
    *ppEnum = nullptr;
    CSubCommandEnum* pEnum = new (std::nothrow) CSubCommandEnum(pRoot, nPosition);
    if (!pEnum)
        return E_OUTOFMEMORY;
    pEnum->AddRef();
    *ppEnum = pEnum;
    return S_OK;
}

STDMETHODIMP CSubCommandEnum::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IEnumExplorerCommand)) {
        *ppv = static_cast<IEnumExplorerCommand*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CSubCommandEnum::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CSubCommandEnum::Release()
{
    LONG cRef = ::InterlockedDecrement(&m_cRef);
    if (cRef == 0)
        delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CSubCommandEnum::Next(ULONG celt, IExplorerCommand** pUICommand, ULONG* pceltFetched)
{
    if (pceltFetched)
        *pceltFetched = 0;
    // The fetched count is optional for any count (IEnumExplorerCommand::Next); the result tells
    // whether all were fetched.
    if (!pUICommand)
        return E_POINTER;
    ULONG nFetched = 0;
    HRESULT hr = S_OK;
    while (nFetched < celt && m_nPosition < CKorvaneSubCommand::GetKindCount()) {
        hr = CKorvaneSubCommand::Create(m_nPosition, m_pRoot.Get(), &pUICommand[nFetched]);
        if (FAILED(hr))
            break;
        ++m_nPosition;
        ++nFetched;
    }
    if (FAILED(hr)) {
        // Nothing handed out on failure: the caller owns no part of the batch.
        m_nPosition -= nFetched;
        while (nFetched > 0) {
            pUICommand[--nFetched]->Release();
            pUICommand[nFetched] = nullptr;
        }
        return hr;
    }
    if (pceltFetched)
        *pceltFetched = nFetched;
    return nFetched == celt ? S_OK : S_FALSE;
}

STDMETHODIMP CSubCommandEnum::Skip(ULONG celt)
{
    const ULONG nLeft = CKorvaneSubCommand::GetKindCount() - m_nPosition;
    m_nPosition += celt < nLeft ? celt : nLeft;
    return celt <= nLeft ? S_OK : S_FALSE;
}

STDMETHODIMP CSubCommandEnum::Reset()
{
    m_nPosition = 0;
    return S_OK;
}

STDMETHODIMP CSubCommandEnum::Clone(IEnumExplorerCommand** ppenum)
{
    return Create(m_pRoot.Get(), m_nPosition, ppenum);
}
