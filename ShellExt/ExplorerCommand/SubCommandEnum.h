#pragma once
// The enumeration of the root command's sub-commands: every kind, each time a new command object.
#include <windows.h>
#include <shobjidl.h>
#include "ComSupport.h"
#include "KorvaneExplorerCommand.h"

class CSubCommandEnum final : public IEnumExplorerCommand {
public:
    ~CSubCommandEnum();
    CSubCommandEnum(const CSubCommandEnum&) = delete;
    CSubCommandEnum& operator=(const CSubCommandEnum&) = delete;

    // A new enumeration of pRoot's sub-commands, starting at kind nPosition.
    static HRESULT Create(CKorvaneExplorerCommand* pRoot, ULONG nPosition,
                          IEnumExplorerCommand** ppEnum) noexcept;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IEnumExplorerCommand
    STDMETHODIMP Next(ULONG celt, IExplorerCommand** pUICommand, ULONG* pceltFetched) override;
    STDMETHODIMP Skip(ULONG celt) override;
    STDMETHODIMP Reset() override;
    STDMETHODIMP Clone(IEnumExplorerCommand** ppenum) override;

private:
    CSubCommandEnum(CKorvaneExplorerCommand* pRoot, ULONG nPosition) noexcept;

    LONG m_cRef;
    ULONG m_nPosition;
    CUniqueInterface<CKorvaneExplorerCommand> m_pRoot;
};
