#include "ClassTable.h"
#include "ClassFactory.h"
#include "KorvaneExplorerCommand.h"
#include "KorvaneShellExt.h"

namespace {
const CategoryMapEntry* GetNoCategories()
{
    return nullptr;
}

void ObjectMainNothing(bool)
{
}

constexpr ClassEntry MakeRow()
{
    return {&CLSID_KorvaneShellExt,       &UpdateKorvaneShellExtRegistry,
            &CClassFactory::CreateClassObject, &CKorvaneShellExt::CreateInstance,
            nullptr,                         &GetNoCategories,
            &ObjectMainNothing};
}

constexpr ClassEntry MakeExplorerCommandRow()
{
    return {&CLSID_KorvaneExplorerCommand,
            &UpdateKorvaneExplorerCommandRegistry,
            &CClassFactory::CreateClassObject,
            &CKorvaneExplorerCommand::CreateInstance,
            nullptr,
            &GetNoCategories,
            &ObjectMainNothing};
}

ClassEntry s_autoRow = MakeRow();
} // namespace

ClassEntry g_ClassEntries[3] = {MakeRow(), MakeExplorerCommandRow(), {}};
ClassEntry* g_pAutoClassEntries[1] = {&s_autoRow};

ClassEntry** AutoClassTableBegin()
{
    return g_pAutoClassEntries;
}

ClassEntry** AutoClassTableEnd()
{
    return g_pAutoClassEntries + 1;
}

HRESULT UpdateKorvaneShellExtRegistry(BOOL bRegister)
{
    return g_ShellExtModule.UpdateRegistryFromResource(IDR_KORVANESHELLEXT, bRegister);
}

HRESULT UpdateKorvaneExplorerCommandRegistry(BOOL bRegister)
{
    return g_ShellExtModule.UpdateRegistryFromResource(IDR_KORVANEEXPLORERCOMMAND, bRegister);
}
