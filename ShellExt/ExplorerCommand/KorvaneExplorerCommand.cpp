#include "KorvaneExplorerCommand.h"
#include <new>
#include <vector>
#include "MenuSelection.h"
#include "Module.h"
#include "SubCommandEnum.h"
#include "resource.h"

// {606485C3-F299-4A73-BD61-41773E2170D3}
const CLSID CLSID_KorvaneExplorerCommand = {
    0x606485c3, 0xf299, 0x4a73, {0xbd, 0x61, 0x41, 0x77, 0x3e, 0x21, 0x70, 0xd3}};

namespace {
const WCHAR kRootTitle[] = L"Korvane";
} // namespace

HRESULT CopyToTaskMemory(const CStringW& strText, LPWSTR* ppsz) noexcept
{
    if (!ppsz)
        return E_POINTER;
    const size_t cb = (static_cast<size_t>(strText.GetLength()) + 1) * sizeof(WCHAR);
    *ppsz = static_cast<LPWSTR>(::CoTaskMemAlloc(cb));
    if (!*ppsz)
        return E_OUTOFMEMORY;
    ::CopyMemory(*ppsz, strText.GetString(), cb);
    return S_OK;
}

HRESULT CKorvaneExplorerCommand::CreateInstance(void* pUnkOuter, REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    if (pUnkOuter)
        return CLASS_E_NOAGGREGATION;
    CKorvaneExplorerCommand* pCommand = new (std::nothrow) CKorvaneExplorerCommand();
    if (!pCommand)
        return E_OUTOFMEMORY;
    pCommand->AddRef();
    HRESULT hr = pCommand->QueryInterface(riid, ppv);
    pCommand->Release(); // destroys the object again if the interface was refused
    return hr;
}

CStringW CKorvaneExplorerCommand::GetIconLocation()
{
    // The module may sit in a folder whose path is longer than MAX_PATH.
    std::vector<WCHAR> path(MAX_PATH);
    for (;;) {
        DWORD cch =
            ::GetModuleFileNameW(AfxGetInstanceHandle(), path.data(), static_cast<DWORD>(path.size()));
        if (cch == 0)
            return CStringW();
        if (cch < path.size())
            break;
        if (path.size() >= 32768)
            return CStringW();
        path.resize(path.size() * 2);
    }
    CStringW strLocation;
    strLocation.Format(L"%s,-%d", path.data(), IDI_MENU);
    return strLocation;
}

STDMETHODIMP CKorvaneExplorerCommand::GetTitle(IShellItemArray*, LPWSTR* ppszName)
{
    try {
        return CopyToTaskMemory(kRootTitle, ppszName);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneExplorerCommand::GetIcon(IShellItemArray*, LPWSTR* ppszIcon)
{
    try {
        CStringW strIcon = GetIconLocation();
        if (strIcon.IsEmpty()) {
            if (ppszIcon)
                *ppszIcon = nullptr;
            return E_FAIL;
        }
        return CopyToTaskMemory(strIcon, ppszIcon);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneExplorerCommand::GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip)
{
    if (ppszInfotip)
        *ppszInfotip = nullptr;
    return E_NOTIMPL; // the host then shows none
}

STDMETHODIMP CKorvaneExplorerCommand::GetCanonicalName(GUID* pguidCommandName)
{
    if (!pguidCommandName)
        return E_POINTER;
    *pguidCommandName = CLSID_KorvaneExplorerCommand;
    return S_OK;
}

STDMETHODIMP CKorvaneExplorerCommand::GetState(IShellItemArray* psiItemArray, BOOL, EXPCMDSTATE* pCmdState)
{
    if (!pCmdState)
        return E_POINTER;
    try {
        // Shown exactly when the classic menu would add items: the product's switch is on, whatever
        // the selection. Deciding the selection here serves the sub-commands asked next. The
        // decision reads only what the items hold in memory, so a quick answer (fOkToBeSlow FALSE)
        // is the full one.
        DecideMenu(psiItemArray, true);
        CCriticalSectionLock lock(m_cs);
        *pCmdState = m_bEnabled ? ECS_ENABLED : ECS_HIDDEN;
        return S_OK;
    } catch (...) {
        *pCmdState = ECS_HIDDEN;
        return ResultOfCurrentException();
    }
}

void CKorvaneExplorerCommand::ReadKey()
{
    m_bEnabled = m_menu.Refresh();
    m_bKeyRead = true;
}

void CKorvaneExplorerCommand::DecideMenu(IShellItemArray* psiItemArray, bool bReadKey)
{
    CCriticalSectionLock lock(m_cs);
    const bool bNewSelection = !m_bSelectionDecided || m_pSelection.Get() != psiItemArray;
    if (bNewSelection) {
        m_bSelectionDecided = false;
        m_pSelection = CUniqueInterface<IShellItemArray>();
        TakeSelectedFiles(m_menu, psiItemArray);
        m_pSelection = CUniqueInterface<IShellItemArray>::Share(psiItemArray);
        m_bSelectionDecided = true;
    }
    // The menu state follows from the files and the key together.
    if (bNewSelection || bReadKey || !m_bKeyRead)
        ReadKey();
}

bool CKorvaneExplorerCommand::IsItemShown(UINT nItemId)
{
    CCriticalSectionLock lock(m_cs);
    return m_bSelectionDecided && m_bEnabled && m_menu.IsItemOfState(nItemId);
}

CStringW CKorvaneExplorerCommand::GetItemTitle(UINT nItemId)
{
    CCriticalSectionLock lock(m_cs);
    // The title names the remembered file, which the key holds whatever the selection.
    if (!m_bKeyRead)
        ReadKey();
    return m_menu.GetItemText(nItemId, true);
}

STDMETHODIMP CKorvaneExplorerCommand::Invoke(IShellItemArray*, IBindCtx*)
{
    return E_NOTIMPL; // a menu of sub-commands: only they are invoked
}

STDMETHODIMP CKorvaneExplorerCommand::GetFlags(EXPCMDFLAGS* pFlags)
{
    if (!pFlags)
        return E_POINTER;
    *pFlags = ECF_HASSUBCOMMANDS;
    return S_OK;
}

STDMETHODIMP CKorvaneExplorerCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum)
{
    return CSubCommandEnum::Create(this, 0, ppEnum);
}
