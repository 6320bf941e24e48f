#include "MenuSelection.h"
#include "CompareMenu.h"
#include "ComSupport.h"

namespace {
constexpr SFGAOF kKindMask = SFGAO_FOLDER | SFGAO_FILESYSTEM | SFGAO_STREAM;

bool IsFile(SFGAOF nAttributes)
{
    return (nAttributes & SFGAO_FILESYSTEM) &&
           ((nAttributes & SFGAO_STREAM) || !(nAttributes & SFGAO_FOLDER));
}
} // namespace

void TakeSelectedFiles(CCompareMenu& menu, IShellItemArray* psiItemArray)
{
    menu.ResetSelection();
    DWORD nItems = 0;
    if (!psiItemArray || FAILED(psiItemArray->GetCount(&nItems)))
        return;
    for (DWORD i = 0; i < nItems; ++i) {
        CUniqueInterface<IShellItem> pItem;
        if (FAILED(psiItemArray->GetItemAt(i, pItem.Put())) || !pItem)
            continue;
        // Without SFGAO_VALIDATE the item answers from what its folder read when it listed it.
        SFGAOF nAttributes = 0;
        if (FAILED(pItem->GetAttributes(kKindMask, &nAttributes)) || !IsFile(nAttributes))
            continue;
        CUniqueCoTaskText strPath;
        if (FAILED(pItem->GetDisplayName(SIGDN_FILESYSPATH, strPath.Put())) || !strPath)
            continue;
        if (!menu.TakeKnownFile(strPath.Get()))
            break;
    }
}
