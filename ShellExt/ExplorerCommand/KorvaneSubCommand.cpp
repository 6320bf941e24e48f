#include "KorvaneSubCommand.h"
#include <new>
#include "CompareMenu.h"
#include "MenuSelection.h"
#include "resource.h"

namespace {
struct SubCommandKind {
    UINT nItemId;
    GUID guidName; // the canonical name: fixed, so hosts and policies can refer to the command
};

// Every item the classic menu can show, in an order that keeps each state's items in the classic
// order: the items shown for any selection are then, in order, the classic menu's.
const SubCommandKind kKinds[] = {
    {IDS_RUN, {0x1d6ce589, 0x2396, 0x408e, {0x8e, 0xd5, 0xa3, 0x05, 0x8b, 0xc9, 0x39, 0x8f}}},
    {IDS_SELECT_FIRST, {0x13df6f1a, 0xa321, 0x4945, {0x9b, 0xa7, 0x6b, 0x59, 0x54, 0x83, 0x31, 0xd8}}},
    {IDS_COMPARE_TO_TEXT, {0x1558ebee, 0x7046, 0x4215, {0x9b, 0xdc, 0xfd, 0xdc, 0x39, 0x82, 0xce, 0x46}}},
    {IDS_COMPARE_TO_BINARY, {0x860cf711, 0x357c, 0x45bd, {0x8c, 0x99, 0x98, 0x0b, 0x61, 0x37, 0x87, 0xb6}}},
    {IDS_COMPARE_OTHER_TEXT, {0x8e33ad88, 0x1b3b, 0x4347, {0xbf, 0xa6, 0xfa, 0xd1, 0x7b, 0x91, 0x0c, 0x5d}}},
    {IDS_COMPARE_OTHER_BINARY,
     {0x5afe7b50, 0x930a, 0x423b, {0x85, 0xbb, 0x32, 0x90, 0xac, 0x74, 0x0a, 0x7f}}},
    {IDS_COMPARE_PAIR_TEXT, {0xd1c135a7, 0x1c3a, 0x4b39, {0x8e, 0x13, 0x0f, 0x56, 0x4b, 0x39, 0x83, 0x83}}},
    {IDS_COMPARE_PAIR_BINARY, {0x7dbb68a5, 0x5599, 0x4fdb, {0xbd, 0x12, 0x87, 0x44, 0xbf, 0xc5, 0xff, 0x41}}},
};

} // namespace

CKorvaneSubCommand::CKorvaneSubCommand(ULONG nKind, CKorvaneExplorerCommand* pRoot) noexcept
    : m_nKind(nKind), m_pRoot(CUniqueInterface<CKorvaneExplorerCommand>::Share(pRoot))
{
}

ULONG CKorvaneSubCommand::GetKindCount() noexcept
{
    return ARRAYSIZE(kKinds);
}

HRESULT CKorvaneSubCommand::Create(ULONG nKind, CKorvaneExplorerCommand* pRoot,
                                   IExplorerCommand** ppCommand) noexcept
{
    if (!ppCommand)
        return E_POINTER;
    *ppCommand = nullptr;
    if (nKind >= GetKindCount())
        return E_INVALIDARG;
    CKorvaneSubCommand* pCommand = new (std::nothrow) CKorvaneSubCommand(nKind, pRoot);
    if (!pCommand)
        return E_OUTOFMEMORY;
    pCommand->AddRef();
    *ppCommand = pCommand;
    return S_OK;
}

HWND CKorvaneSubCommand::GetOwnerWindow() const noexcept
{
    HWND hWnd = GetSiteWindow();
    if (!hWnd && m_pRoot)
        hWnd = m_pRoot->GetSiteWindow();
    return hWnd;
}

STDMETHODIMP CKorvaneSubCommand::GetTitle(IShellItemArray*, LPWSTR* ppszName)
{
    if (!ppszName)
        return E_POINTER;
    *ppszName = nullptr;
    if (!m_pRoot)
        return E_UNEXPECTED;
    try {
        // Menu markup, "&" doubled in the file name. A command's title is a verb's display text,
        // which Microsoft documents as menu text whose "&" marks the access key ("&Do It" is
        // chosen with D, "Creating Shortcut Menu Handlers"); "Show more options" shows the title
        // so, where only "&&" shows an "&". Windows 11's own menu shows the same title and is
        // documented no other way, so the title keeps the one documented form.
        return CopyToTaskMemory(m_pRoot->GetItemTitle(kKinds[m_nKind].nItemId), ppszName);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneSubCommand::GetIcon(IShellItemArray*, LPWSTR* ppszIcon)
{
    if (!ppszIcon)
        return E_POINTER;
    *ppszIcon = nullptr;
    try {
        // Each classic item carries the picture too.
        CStringW strIcon = CKorvaneExplorerCommand::GetIconLocation();
        return strIcon.IsEmpty() ? E_FAIL : CopyToTaskMemory(strIcon, ppszIcon);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneSubCommand::GetToolTip(IShellItemArray*, LPWSTR* ppszInfotip)
{
    if (!ppszInfotip)
        return E_POINTER;
    *ppszInfotip = nullptr;
    try {
        CCompareMenu menu;
        return CopyToTaskMemory(menu.GetItemHelp(kKinds[m_nKind].nItemId), ppszInfotip);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneSubCommand::GetCanonicalName(GUID* pguidCommandName)
{
    if (!pguidCommandName)
        return E_POINTER;
    *pguidCommandName = kKinds[m_nKind].guidName;
    return S_OK;
}

STDMETHODIMP CKorvaneSubCommand::GetState(IShellItemArray* psiItemArray, BOOL, EXPCMDSTATE* pCmdState)
{
    if (!pCmdState)
        return E_POINTER;
    *pCmdState = ECS_HIDDEN;
    if (!m_pRoot)
        return S_OK;
    try {
        // The root decided this selection when it was asked: only a new one is walked again, from
        // memory, so a quick question gets the full answer.
        m_pRoot->DecideMenu(psiItemArray, false);
        if (m_pRoot->IsItemShown(kKinds[m_nKind].nItemId))
            *pCmdState = ECS_ENABLED;
        return S_OK;
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneSubCommand::Invoke(IShellItemArray* psiItemArray, IBindCtx*)
{
    try {
        // The state is taken afresh: the remembered file may have changed since the menu was shown,
        // and then this command does what the classic menu would do now, or nothing.
        CCompareMenu menu;
        TakeSelectedFiles(menu, psiItemArray);
        if (!menu.Refresh())
            return S_FALSE;
        // This menu has no "no user interface" request: the dialog and the failure message are allowed.
        return menu.RunCommand(kKinds[m_nKind].nItemId, GetOwnerWindow(), true);
    } catch (...) {
        return ResultOfCurrentException();
    }
}

STDMETHODIMP CKorvaneSubCommand::GetFlags(EXPCMDFLAGS* pFlags)
{
    if (!pFlags)
        return E_POINTER;
    *pFlags = ECF_DEFAULT;
    return S_OK;
}

STDMETHODIMP CKorvaneSubCommand::EnumSubCommands(IEnumExplorerCommand** ppEnum)
{
    if (ppEnum)
        *ppEnum = nullptr;
    return E_NOTIMPL;
}
