#pragma once
// Whether Windows 11's own context menu already shows the compare commands: from build 22000 on,
// File Explorer shows the command of the extension's sparse package (ShellExt/ExplorerCommand/Package) at the top
// level and lists classic handlers such as ours under "Show more options". When that package is
// registered for the current user, the classic handler adds nothing there, so that the commands
// are not listed twice.
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

// True on Windows 11 with the extension's package registered for the current user. Any failure
// to ask (the functions are missing before Windows 8 and under wine) counts as "no package":
// the classic menu then shows, as it always has.
bool IsPackagedMenuRegistered();

// Where the question goes to the platform: the true build number (RtlGetVersion, which no
// compatibility shim lowers) and the two package functions, resolved at run time, unless a test
// puts others in their place (neither Windows 11 nor package identity exist where the tests run).
struct CPackagedMenuCalls {
    DWORD (*pfnGetBuildNumber)();
    LONG(WINAPI* pfnPackageFamilyNameFromId)(const CPackageIdentity* pId, UINT32* pcchName, PWSTR pszName);
    LONG(WINAPI* pfnGetPackagesByPackageFamily)
    (PCWSTR pszFamily, UINT32* pnCount, PWSTR* ppszFullNames, UINT32* pcchBuffer, WCHAR* pBuffer);
};
// Answers the calls in use before; null members stand for functions the system lacks.
CPackagedMenuCalls SetPackagedMenuCalls(const CPackagedMenuCalls& calls);
// The calls of the running system.
CPackagedMenuCalls SystemPackagedMenuCalls();
