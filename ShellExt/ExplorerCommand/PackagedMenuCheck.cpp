#include "PackagedMenuCheck.h"
#include "PackageIdentity.h"
#include "SystemFunction.h"

namespace {
// Windows 11's first build: from here on Explorer's menu shows packaged commands at its top level.
constexpr DWORD kFirstWindows11Build = 22000;

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
    return {&TrueBuildNumber, GetSystemFunction<FamilyNameFunc>(L"kernel32.dll", "PackageFamilyNameFromId"),
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
