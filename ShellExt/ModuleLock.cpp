#include "ModuleLock.h"

namespace {
volatile LONG g_nModuleLocks = 0;
}

LONG ShellExtLockModule()
{
    return ::InterlockedIncrement(&g_nModuleLocks);
}

LONG ShellExtUnlockModule()
{
    return ::InterlockedDecrement(&g_nModuleLocks);
}

LONG ShellExtGetLockCount()
{
    return ::InterlockedCompareExchange(&g_nModuleLocks, 0, 0);
}
