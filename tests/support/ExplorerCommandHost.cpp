#include "ExplorerCommandHost.h"
#include <cstdio>

const CLSID kClsidKorvaneExplorerCommand = {
    0x606485c3, 0xf299, 0x4a73, {0xbd, 0x61, 0x41, 0x77, 0x3e, 0x21, 0x70, 0xd3}};

std::vector<CUniqueInterface<IExplorerCommand>> EnumerateSubCommands(IExplorerCommand* pRoot)
{
    std::vector<CUniqueInterface<IExplorerCommand>> commands;
    CUniqueInterface<IEnumExplorerCommand> pEnum;
    if (FAILED(pRoot->EnumSubCommands(pEnum.Put())) || !pEnum)
        return commands;
    for (;;) {
        CUniqueInterface<IExplorerCommand> pCommand;
        ULONG nFetched = 0;
        if (pEnum->Next(1, pCommand.Put(), &nFetched) != S_OK || nFetched != 1)
            break;
        commands.push_back(std::move(pCommand));
    }
    return commands;
}

std::wstring TitleOf(IExplorerCommand* pCommand, IShellItemArray* pSelection)
{
    CUniqueCoTaskText strTitle;
    HRESULT hr = pCommand->GetTitle(pSelection, strTitle.Put());
    if (FAILED(hr) || !strTitle) {
        wchar_t szFailed[32];
        std::swprintf(szFailed, 32, L"<failed 0x%08lX>", static_cast<unsigned long>(hr));
        return szFailed;
    }
    return strTitle.Get();
}

std::vector<ShownCommand> ShownSubCommands(IExplorerCommand* pRoot, IShellItemArray* pSelection)
{
    std::vector<ShownCommand> shown;
    // The root first, as the menu asks it before it opens its flyout; every question a quick one
    // (fOkToBeSlow FALSE), as a menu on its user-interface thread may ask, with no second chance.
    EXPCMDSTATE rootState = ECS_HIDDEN;
    if (FAILED(pRoot->GetState(pSelection, FALSE, &rootState)) || (rootState & ECS_HIDDEN))
        return shown;
    for (CUniqueInterface<IExplorerCommand>& pCommand : EnumerateSubCommands(pRoot)) {
        EXPCMDSTATE state = ECS_HIDDEN;
        if (FAILED(pCommand->GetState(pSelection, FALSE, &state)) || (state & ECS_HIDDEN))
            continue;
        std::wstring strTitle = TitleOf(pCommand.Get(), pSelection);
        shown.push_back({std::move(pCommand), std::move(strTitle)});
    }
    return shown;
}
