#include "ModuleLock.h"
#include "ShellExtModule.h"

// The count itself belongs to the COM module, which answers DllCanUnloadNow from it.
LONG ShellExtLockModule()
{
    return g_ShellExtModule.Lock();
}

LONG ShellExtUnlockModule()
{
    return g_ShellExtModule.Unlock();
}

LONG ShellExtGetLockCount()
{
    return g_ShellExtModule.GetLockCount();
}
