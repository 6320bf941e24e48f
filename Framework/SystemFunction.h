#pragma once
// A function of a system library the process has loaded already, looked up when it is used: the
// caller's module must also load on a Windows (or wine) that lacks it. Null when the library is
// not loaded or has no such function.
#include <windows.h>

template <typename Function> Function GetSystemFunction(LPCWSTR lpszModule, const char* pszName) noexcept
{
    HMODULE hModule = ::GetModuleHandleW(lpszModule);
    return hModule ? reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(hModule, pszName)))
                   : nullptr;
}
