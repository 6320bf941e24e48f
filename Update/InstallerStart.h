#pragma once
// Hands over to the downloaded installer: starts it, asking Windows for elevation when it needs
// administrator rights, and never waits for it.
#include <windows.h>
#include <shellapi.h> // after windows.h, which it needs

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L // winerror.h of Windows SDKs; missing from mingw-w64's
#endif

// TRUE once the installer runs. hwndOwner owns the system's consent prompt. A declined prompt,
// like any other failure, is FALSE: the installer was not started.
BOOL StartInstallerProcess(HWND hwndOwner, LPCSTR lpszPath);

// Where the starts go to the platform: CreateProcessA and ShellExecuteExA, unless a test puts
// others in their place (Windows' elevation prompt cannot be produced where the tests run).
struct CInstallerStartCalls {
    decltype(&::CreateProcessA) pfnCreateProcess;
    decltype(&::ShellExecuteExA) pfnShellExecuteEx;
};
CInstallerStartCalls SetInstallerStartCalls(const CInstallerStartCalls& calls);
