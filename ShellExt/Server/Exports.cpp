// The library's entry points. No C++ exception may leave them: each catches at its boundary.
#include <windows.h>
#include "ShellExtApp.h"
#include "ShellExtModule.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved)
{
    // Runs under the loader lock: nothing here may load a library, wait on another thread or call
    // into a module that could be torn down already.
    if (dwReason == DLL_PROCESS_ATTACH) {
        // This library's code keeps no per-thread data, and every thread Explorer starts would
        // otherwise call in here. A runtime with static thread-local storage makes the system
        // refuse, and then keeps the notices it needs.
        ::DisableThreadLibraryCalls(hInstance);
        try {
            theApp.InitApplication(hInstance);
            if (!theApp.InitInstance()) {
                theApp.ExitInstance();
                return FALSE;
            }
        } catch (...) {
            return FALSE;
        }
    } else if (dwReason == DLL_PROCESS_DETACH) {
        // At process exit the other threads are already gone, wherever they stood, and the system
        // reclaims everything: any clean-up could only find half-changed state and hang or crash.
        if (lpReserved != nullptr)
            return TRUE;
        try {
            theApp.ExitInstance();
        } catch (...) {
        }
    }
    return TRUE;
}

STDAPI DllCanUnloadNow()
{
    // The framework layer keeps no objects of its own, so only the module's lock count decides.
    if (g_ShellExtModule.GetLockCount() != 0)
        return S_FALSE;
    // The runtime may unload the library after this answer; what the termination callbacks hold
    // comes from other modules and is let go of here, outside the loader lock.
    g_ShellExtModule.RunTermFuncs();
    return S_OK;
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

STDAPI DllInstall(BOOL bInstall, LPCWSTR pszCmdLine)
{
    try {
        return g_ShellExtModule.Install(bInstall, pszCmdLine);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}
