#pragma once
// The compare commands in Windows 11's own context menu: a root command "Korvane" whose
// sub-commands are the classic menu's items for the same selection. Explorer there shows only
// commands of a packaged IExplorerCommand; the classic handler appears under "Show more options".
// Both front ends take their state, texts and actions from CCompareMenu.
#include <windows.h>
#include <shobjidl.h>
#include "CompareMenu.h"
#include "ComSupport.h"
#include "CriticalSection.h"
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

    // What the root and its sub-commands share for one menu: the selection's files, decided once
    // per item array from the attributes its items carry, and the product key, read again by each
    // root GetState (a new menu may reuse the root).
    void DecideMenu(IShellItemArray* psiItemArray, bool bReadKey);
    // Whether the item shows for the selection last decided (false while undecided or switched off).
    bool IsItemShown(UINT nItemId);
    // The item's title, "&" doubled in the remembered file's name.
    CStringW GetItemTitle(UINT nItemId);

private:
    void ReadKey();

    // Sub-commands may be asked on another of the host's threads.
    CCriticalSection m_cs;
    CCompareMenu m_menu;
    // The array decided, held so that its address keeps naming it.
    CUniqueInterface<IShellItemArray> m_pSelection;
    bool m_bSelectionDecided = false;
    bool m_bKeyRead = false;
    bool m_bEnabled = false;
};

// Hands the host a copy of a text in task memory, as IExplorerCommand's text methods must.
HRESULT CopyToTaskMemory(const CStringW& strText, LPWSTR* ppsz) noexcept;
