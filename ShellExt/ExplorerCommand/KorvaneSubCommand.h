#pragma once
// One compare command under the Windows 11 root command: one kind of the classic menu's items
// (named by its text id), shown exactly when the classic menu would show that item for the same
// selection and registry values, with the same title and the same action.
#include <windows.h>
#include <shobjidl.h>
#include "ComSupport.h"
#include "KorvaneExplorerCommand.h"
#include "ExplorerCommandObject.h"

class CKorvaneSubCommand final : public CExplorerCommandObject {
public:
    // The kinds, in the order the root enumerates them.
    static ULONG GetKindCount() noexcept;
    // A new command of kind nKind below pRoot, whose site it falls back on.
    static HRESULT Create(ULONG nKind, CKorvaneExplorerCommand* pRoot, IExplorerCommand** ppCommand) noexcept;

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
    CKorvaneSubCommand(ULONG nKind, CKorvaneExplorerCommand* pRoot) noexcept;
    // The site's window, else the root's site's window (the host may set only the root's site).
    HWND GetOwnerWindow() const noexcept;

    const ULONG m_nKind;
    CUniqueInterface<CKorvaneExplorerCommand> m_pRoot;
};
