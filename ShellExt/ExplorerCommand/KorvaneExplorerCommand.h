#pragma once
// The compare commands in Windows 11's own context menu: a root command "Korvane" whose
// sub-commands are the classic menu's items for the same selection. Explorer there shows only
// commands of a packaged IExplorerCommand; the classic handler appears under "Show more options".
// Both front ends take their state, texts and actions from CCompareMenu.
#include <windows.h>
#include <shobjidl.h>
#include "ExplorerCommandObject.h"
#include "StringT.h"

extern const CLSID CLSID_KorvaneExplorerCommand;

class CKorvaneExplorerCommand final : public CExplorerCommandObject {
public:
    // The class's instance creator; the class cannot be aggregated.
    static HRESULT CreateInstance(void* pUnkOuter, REFIID riid, void** ppv);
    // "<module path>,-<icon id>": the menu picture, as the shell reads an icon location.
    static CStringW GetIconLocation();

    // IExplorerCommand
    STDMETHODIMP GetTitle(IShellItemArray* psiItemArray, LPWSTR* ppszName) override;
    STDMETHODIMP GetIcon(IShellItemArray* psiItemArray, LPWSTR* ppszIcon) override;
    STDMETHODIMP GetToolTip(IShellItemArray* psiItemArray, LPWSTR* ppszInfotip) override;
    STDMETHODIMP GetCanonicalName(GUID* pguidCommandName) override;
    STDMETHODIMP GetState(IShellItemArray* psiItemArray, BOOL fOkToBeSlow, EXPCMDSTATE* pCmdState) override;
    STDMETHODIMP Invoke(IShellItemArray* psiItemArray, IBindCtx* pbc) override;
    STDMETHODIMP GetFlags(EXPCMDFLAGS* pFlags) override;
    STDMETHODIMP EnumSubCommands(IEnumExplorerCommand** ppEnum) override;
};

// Hands the host a copy of a text in task memory, as IExplorerCommand's text methods must.
HRESULT CopyToTaskMemory(const CStringW& strText, LPWSTR* ppsz) noexcept;
