#include "ClassFactory.h"
#include <new>

CClassFactory::CClassFactory(InstanceCreatorFunc pfnCreateInstance) noexcept : m_pfnCreateInstance(pfnCreateInstance)
{
}

HRESULT CClassFactory::CreateClassObject(InstanceCreatorFunc pfnCreateInstance, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    CClassFactory* pFactory = new (std::nothrow) CClassFactory(pfnCreateInstance);
    if (pFactory == nullptr)
        return E_OUTOFMEMORY;
    HRESULT hr = pFactory->QueryInterface(riid, ppv);
    if (FAILED(hr))
        delete pFactory;
    return hr;
}

STDMETHODIMP CClassFactory::QueryInterface(REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    if (::IsEqualIID(riid, IID_IUnknown) || ::IsEqualIID(riid, IID_IClassFactory)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *ppv = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) CClassFactory::AddRef()
{
    CCriticalSectionLock lock(m_cs);
    LONG cRef = ::InterlockedIncrement(&m_cRef);
    // The first reference is the class table's own; a second one means a client holds the factory.
    if (cRef == 2)
        g_ShellExtModule.Lock();
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP_(ULONG) CClassFactory::Release()
{
    LONG cRef;
    {
        CCriticalSectionLock lock(m_cs);
        cRef = ::InterlockedDecrement(&m_cRef);
    }
    if (cRef == 1)
        g_ShellExtModule.Unlock();
    else if (cRef == 0)
        delete this;
    return static_cast<ULONG>(cRef);
}

STDMETHODIMP CClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter != nullptr && !::IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return m_pfnCreateInstance(pUnkOuter, riid, ppv);
}

STDMETHODIMP CClassFactory::LockServer(BOOL fLock)
{
    if (fLock)
        g_ShellExtModule.Lock();
    else
        g_ShellExtModule.Unlock();
    return S_OK;
}
