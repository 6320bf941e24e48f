#pragma once
// Failures of the framework's internet classes arrive as CInternetException, carrying the WinInet
// or system error code, so that callers handle name resolution, connection and read errors in one
// place.
#include <windows.h>
#include <wininet.h>
#include "UniqueHandle.h"

class CInternetException {
public:
    explicit CInternetException(DWORD dwError) noexcept : m_dwError(dwError) {}
    DWORD m_dwError;
};

struct InternetHandleTraits {
    using HandleType = HINTERNET;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::InternetCloseHandle(h); }
};
using CUniqueInternetHandle = CUniqueHandle<InternetHandleTraits>;
