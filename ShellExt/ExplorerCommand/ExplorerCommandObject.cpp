#include "ExplorerCommandObject.h"
#include "ShellExtModule.h"

CExplorerCommandObject::CExplorerCommandObject() noexcept : m_cRef(0)
{
    g_ShellExtModule.Lock();
}

CExplorerCommandObject::~CExplorerCommandObject()
{
    g_ShellExtModule.Unlock();
}

STDMETHODIMP CExplorerCommandObject::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IExplorerCommand))
        *ppv = static_cast<IExplorerCommand*>(this);
    else if (IsEqualIID(riid, IID_IObjectWithSite))
        *ppv = static_cast<IObjectWithSite*>(this);
    else {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// Counted atomically: the host may hand a command to another of its threads.
STDMETHODIMP_(ULONG) CExplorerCommandObject::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_cRef));
}

STDMETHODIMP_(ULONG) CExplorerCommandObject::Release()
{
    LONG cRef = ::InterlockedDecrement(&m_cRef);
    if (cRef == 0)
        delete this;
    return static_cast<ULONG>(cRef);
}
