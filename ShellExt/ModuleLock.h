#pragma once
// The module's lock count: every live extension object holds one lock, so the module is not
// unloaded under it. Changed only atomically: Explorer may create objects on several threads.
#include <windows.h>

LONG ShellExtLockModule();
LONG ShellExtUnlockModule();
LONG ShellExtGetLockCount();
