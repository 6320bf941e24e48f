#pragma once
// What the Windows 11 root command and its sub-commands share as COM objects: their identity
// (IExplorerCommand, IObjectWithSite), a reference count, and a lock on the module for as long as
// they live, so that the module is not unloaded under a command the host still holds.
#include <windows.h>
#include <shobjidl.h>
#include "ObjectWithSite.h"

class CExplorerCommandObject : public IExplorerCommand, public CObjectWithSite {
public:
    CExplorerCommandObject() noexcept;
    ~CExplorerCommandObject() override;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

private:
    LONG m_cRef;
};
