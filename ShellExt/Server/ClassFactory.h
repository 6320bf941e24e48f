#pragma once
// The class object of the server's class. It is cached: the class table's row holds one reference
// for the module's lifetime, so the module is locked only while a client holds a reference too.
#include <windows.h>
#include <unknwn.h>
#include "CriticalSection.h"
#include "ShellExtModule.h"

class CClassFactory : public IClassFactory {
public:
    explicit CClassFactory(InstanceCreatorFunc pfnCreateInstance) noexcept;
    virtual ~CClassFactory() = default;
    CClassFactory(const CClassFactory&) = delete;
    CClassFactory& operator=(const CClassFactory&) = delete;

    // The class-object creator of a class-table row.
    static HRESULT CreateClassObject(InstanceCreatorFunc pfnCreateInstance, REFIID riid, void** ppv);

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP CreateInstance(IUnknown* pUnkOuter, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL fLock) override;

private:
    LONG m_cRef = 0;
    CCriticalSection m_cs;
    InstanceCreatorFunc m_pfnCreateInstance;
};
