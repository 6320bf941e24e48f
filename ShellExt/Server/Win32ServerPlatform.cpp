#include "Win32ServerPlatform.h"
#include <shlobj.h>
#include "SystemFunction.h"

DWORD CWin32ServerPlatform::GetModuleFileName(HMODULE hModule, wchar_t* lpszName, DWORD cchSize)
{
    return ::GetModuleFileNameW(hModule, lpszName, cchSize);
}

DWORD CWin32ServerPlatform::GetLastError()
{
    return ::GetLastError();
}

HMODULE CWin32ServerPlatform::GetMainModule()
{
    return ::GetModuleHandleW(nullptr);
}

DWORD CWin32ServerPlatform::OtherBitnessView()
{
#if defined(_WIN64)
    return KEY_WOW64_32KEY;
#else
    // IsWow64Process is missing before Windows XP SP2: resolved at run time, its absence means no WOW64.
    using IsWow64ProcessFunc = BOOL(WINAPI*)(HANDLE, PBOOL);
    auto pfnIsWow64Process = GetSystemFunction<IsWow64ProcessFunc>(L"kernel32.dll", "IsWow64Process");
    BOOL bWow64 = FALSE;
    if (pfnIsWow64Process == nullptr || !pfnIsWow64Process(::GetCurrentProcess(), &bWow64) || !bWow64)
        return 0;
    return KEY_WOW64_64KEY;
#endif
}

bool CWin32ServerPlatform::FileExists(const wchar_t* lpszPath)
{
    const DWORD dwAttributes = ::GetFileAttributesW(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void CWin32ServerPlatform::NotifyAssociationsChanged()
{
    // "Registering Shell Extension Handlers": without this event a running Explorer may not see an
    // added or removed handler until the system restarts. The event takes no items.
    ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
}
