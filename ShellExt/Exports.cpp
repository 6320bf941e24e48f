// The library's entry points. No C++ exception may leave them: each catches at its boundary.
#include <windows.h>
#include "ShellExtApp.h"
#include "ShellExtModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID)
{
    try {
        if (dwReason == DLL_PROCESS_ATTACH) {
            theApp.InitApplication(hInstance);
            if (!theApp.InitInstance()) {
                theApp.ExitInstance();
                return FALSE;
            }
        } else if (dwReason == DLL_PROCESS_DETACH) {
            theApp.ExitInstance();
        }
        return TRUE;
    } catch (...) {
        return dwReason == DLL_PROCESS_ATTACH ? FALSE : TRUE;
    }
}

STDAPI DllCanUnloadNow()
{
    // The framework layer keeps no objects of its own, so only the module's lock count decides.
    return g_ShellExtModule.GetLockCount() == 0 ? S_OK : S_FALSE;
}

STDAPI DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv)
{
    try {
        return g_ShellExtModule.GetClassObject(rclsid, riid, ppv);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllRegisterServer()
{
    try {
        return g_ShellExtModule.RegisterWithApproval();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

STDAPI DllUnregisterServer()
{
    try {
        return g_ShellExtModule.UnregisterWithApproval();
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
