#pragma once
// The compare commands in Windows 11's own context menu: a root command "Korvane" whose
// sub-commands are the classic menu's items for the same selection. Explorer there shows only
// commands of a packaged IExplorerCommand; the classic handler appears under "Show more options".
// Both front ends take their state, texts and actions from CCompareMenu.
#include <windows.h>
#include <shobjidl.h>
#include "ObjectWithSite.h"
#include "StringT.h"

extern const CLSID CLSID_KorvaneExplorerCommand;

class CKorvaneExplorerCommand final : public IExplorerCommand, public CObjectWithSite {
public:
    CKorvaneExplorerCommand() noexcept;
    ~CKorvaneExplorerCommand() override;
    CKorvaneExplorerCommand(const CKorvaneExplorerCommand&) = delete;
    CKorvaneExplorerCommand& operator=(const CKorvaneExplorerCommand&) = delete;

    // The class's instance creator; the class cannot be aggregated.
    static HRESULT CreateInstance(void* pUnkOuter, REFIID riid, void** ppv);
    // "<module path>,-<icon id>": the menu picture, as the shell reads an icon location.
    static CStringW GetIconLocation();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IExplorerCommand
    STDMETHODIMP GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName) override;
    STDMETHODIMP GetIcon(IShellItemArray* psiItemArray, LPWSTR* ppszIcon) override;
    STDMETHODIMP GetToolTip(IShellItemArray* psiItemArray, LPWSTR* ppszInfotip) override;
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) override;
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) override;
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx* pbc) override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) override;
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override;

private:
    LONG m_cRef;
};

// Hands the host a copy of a text in task memory, as IExplorerCommand's text methods must.
HRESULT CopyToTaskMemory(const CStringW& strText, LPWSTR* ppsz) noexcept;
