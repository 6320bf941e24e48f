#include "Module.h"

// The image base of whatever module (exe or dll) this code is linked into.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {
HINSTANCE g_hResources = nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    return reinterpret_cast<HINSTANCE>(&__ImageBase);
}

HINSTANCE AfxGetResourceHandle()
{
    return g_hResources ? g_hResources : AfxGetInstanceHandle();
}

void AfxSetResourceHandle(HINSTANCE hResources)
{
    g_hResources = hResources;
}
