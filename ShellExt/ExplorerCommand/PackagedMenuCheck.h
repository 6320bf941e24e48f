#pragma once
// Whether the packaged command already shows the compare commands in this process's menus: from
// build 22000 on, File Explorer shows the command of the extension's sparse package
// (ExplorerCommand/Package) at the top level and lists classic handlers such as ours under "Show
// more options". Where that package is registered for the current user and its server can load,
// the classic handler adds nothing, so that the commands are not listed twice; everywhere else
// (Windows 10, 32-bit programs' file dialogs, no package) the classic items are the only ones.
#include <windows.h>

// The package's family name is made from its identity (name and publisher) by the system.
struct CPackageIdentity {
    UINT32 reserved;
    UINT32 processorArchitecture;
    UINT64 version;
    PWSTR name;
    PWSTR publisher;
    PWSTR resourceId;
    PWSTR publisherId;
}; // the layout of PACKAGE_ID (appmodel.h, which mingw-w64 lacks and older SDKs hide below Windows 8)

// True on Windows 11 with the extension's package registered for the current user, in a process
// of the machine type the package's server is built for: the server is a DLL, which loads only
// into a process of its own machine type. Any failure to ask (the functions are missing before
// Windows 8 and under wine) counts as "no package": the classic menu then shows, as it always has.
bool IsPackagedMenuRegistered();

// Where the question goes to the platform: the true build number (RtlGetVersion, which no
// compatibility shim lowers), the process's machine type and the two package functions, resolved
// at run time, unless a test puts others in their place (neither Windows 11, package identity nor
// a 32-bit process exist where the tests run).
struct CPackagedMenuCalls {
    DWORD (*pfnGetBuildNumber)();
    // IMAGE_FILE_MACHINE_* of the code this process runs, the machine this DLL was built for (I386
    // in a 32-bit program on 64-bit Windows, AMD64 in an x64 program emulated on Arm64).
    USHORT (*pfnGetProcessMachine)();
    LONG(WINAPI* pfnPackageFamilyNameFromId)(const CPackageIdentity* pId, UINT32* pcchName, PWSTR pszName);
    LONG(WINAPI* pfnGetPackagesByPackageFamily)
    (PCWSTR pszFamily, UINT32* pnCount, PWSTR* ppszFullNames, UINT32* pcchBuffer, WCHAR* pBuffer);
};
// Answers the calls in use before; null members stand for functions the system lacks.
CPackagedMenuCalls SetPackagedMenuCalls(const CPackagedMenuCalls& calls);
// The calls of the running system.
CPackagedMenuCalls SystemPackagedMenuCalls();
