#include "PackagedMenuCheck.h"
#include "PackageIdentity.h"
#include "SystemFunction.h"

namespace {
// Windows 11's first build, the package's minimum: from here on Explorer's menu shows packaged
// commands at its top level. Windows 10 never registers the package (its manifest asks for this
// build), so there the classic items are the only ones.
constexpr DWORD kFirstWindows11Build = KV_PACKAGE_MIN_BUILD;
static_assert(kFirstWindows11Build >= 22000, "packaged commands show at the menu's top from Windows 11 on");

DWORD TrueBuildNumber()
{
    // GetVersionEx answers what the host's manifest declares (Windows 8 for a host without one);
    // RtlGetVersion answers the running system.
    using RtlGetVersionFunc = LONG(WINAPI*)(OSVERSIONINFOW*);
    auto pfnRtlGetVersion = GetSystemFunction<RtlGetVersionFunc>(L"ntdll.dll", "RtlGetVersion");
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (pfnRtlGetVersion == nullptr || pfnRtlGetVersion(&info) != 0)
        return 0;
    return info.dwBuildNumber;
}

USHORT ProcessMachine()
{
    // The machine this very code was built for: a DLL loads only into a process that runs code of
    // its machine type, so this is the question "could a DLL like the package's server load here".
    // IsWow64Process2 cannot answer it: an x64 process on Arm64 Windows 11 runs under emulation,
    // not WOW64, and the function names no process machine for it, only the native ARM64.
#if defined(__x86_64__) || defined(_M_X64)
    return IMAGE_FILE_MACHINE_AMD64;
#elif defined(__i386__) || defined(_M_IX86)
    return IMAGE_FILE_MACHINE_I386;
#elif defined(__aarch64__) || defined(_M_ARM64)
    return IMAGE_FILE_MACHINE_ARM64;
#else
    return IMAGE_FILE_MACHINE_UNKNOWN;
#endif
}

// Set by a test; otherwise the system's calls, resolved on first use rather than while the library
// loads.
bool g_bCallsSet = false;
CPackagedMenuCalls g_calls = {};

CPackagedMenuCalls CallsInUse()
{
    static const CPackagedMenuCalls s_system = SystemPackagedMenuCalls();
    return g_bCallsSet ? g_calls : s_system;
}
} // namespace

CPackagedMenuCalls SystemPackagedMenuCalls()
{
    using FamilyNameFunc = decltype(CPackagedMenuCalls::pfnPackageFamilyNameFromId);
    using PackagesFunc = decltype(CPackagedMenuCalls::pfnGetPackagesByPackageFamily);
    return {&TrueBuildNumber, &ProcessMachine,
            GetSystemFunction<FamilyNameFunc>(L"kernel32.dll", "PackageFamilyNameFromId"),
            GetSystemFunction<PackagesFunc>(L"kernel32.dll", "GetPackagesByPackageFamily")};
}

CPackagedMenuCalls SetPackagedMenuCalls(const CPackagedMenuCalls& calls)
{
    CPackagedMenuCalls old = CallsInUse();
    g_calls = calls;
    g_bCallsSet = true;
    return old;
}

bool IsPackagedMenuRegistered()
{
    const CPackagedMenuCalls calls = CallsInUse();
    if (calls.pfnGetBuildNumber() < kFirstWindows11Build || calls.pfnPackageFamilyNameFromId == nullptr ||
        calls.pfnGetPackagesByPackageFamily == nullptr)
        return false;
    // The package names one in-process server, the x64 DLL: a 32-bit program's file dialog (and
    // any process of another machine type) cannot load it, and there only the classic items show.
    if (calls.pfnGetProcessMachine() != KV_PACKAGE_SERVER_MACHINE)
        return false;

    wchar_t szName[] = KV_PACKAGE_NAME;
    wchar_t szPublisher[] = KV_PACKAGE_PUBLISHER;
    CPackageIdentity id = {};
    id.name = szName;
    id.publisher = szPublisher;
    wchar_t szFamily[128]; // a family name holds at most 64 characters; the call is told the size
    UINT32 cchFamily = ARRAYSIZE(szFamily);
    if (calls.pfnPackageFamilyNameFromId(&id, &cchFamily, szFamily) != ERROR_SUCCESS)
        return false;
    szFamily[ARRAYSIZE(szFamily) - 1] = L'\0';

    // Asked for the count alone: any package of the family answers "buffer too small" with a count.
    UINT32 nCount = 0;
    UINT32 cchBuffer = 0;
    const LONG lResult = calls.pfnGetPackagesByPackageFamily(szFamily, &nCount, nullptr, &cchBuffer, nullptr);
    return (lResult == ERROR_SUCCESS || lResult == ERROR_INSUFFICIENT_BUFFER) && nCount > 0;
}
