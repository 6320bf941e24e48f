#pragma once
// The module the framework is linked into. The framework is linked statically into each
// deliverable, so every module has its own copy of this state: resource lookups made by the
// extension's code inside Explorer therefore find the extension's resources, not the host's.
#include <windows.h>

HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE hResources);
