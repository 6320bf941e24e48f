#include "Win32ServerPlatform.h"

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
