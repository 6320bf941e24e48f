#pragma once
#include "ServerPlatform.h"

// The real system behind IServerPlatform.
class CWin32ServerPlatform : public IServerPlatform {
public:
    DWORD GetVersion() override;
    DWORD GetModuleFileName(HMODULE hModule, wchar_t* lpszName, DWORD cchSize) override;
    DWORD GetLastError() override;
    HMODULE GetMainModule() override;
    DWORD OtherBitnessView() override;
};
