#pragma once
// The module the framework is linked into. The framework is linked statically into each
// deliverable, so every module has its own copy of this state: resource lookups made by the
// extension's code inside Explorer therefore find the extension's resources, not the host's.
#include <windows.h>

HINSTANCE AfxGetInstanceHandle();
// Where resources are looked up: the module itself, as no resource-only library is used.
HINSTANCE AfxGetResourceHandle();
