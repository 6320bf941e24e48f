#include "Win32ServerPlatform.h"
#include "SystemFunction.h"

DWORD CWin32ServerPlatform::GetVersion()
{
#if defined(_MSC_VER)
#pragma warning(suppress : 4996) // the packed major/minor/family word is exactly what is wanted
#endif
    return ::GetVersion();
}

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
