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

HRESULT TakeSelectedFiles(CCompareMenu& menu, IShellItemArray* psiItemArray, bool bOkToBeSlow)
{
    menu.ResetSelection();
    DWORD nItems = 0;
    if (!psiItemArray || FAILED(psiItemArray->GetCount(&nItems)))
        return S_OK;
    for (DWORD i = 0; i < nItems; ++i) {
        if (!bOkToBeSlow && i >= kQuickSelectionItems) {
            menu.ResetSelection();
            return E_PENDING;
        }
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
    return S_OK;
}
