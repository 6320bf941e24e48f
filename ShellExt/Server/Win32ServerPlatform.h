#pragma once
#include "ServerPlatform.h"

// The real system behind IServerPlatform.
class CWin32ServerPlatform : public IServerPlatform {
public:
    DWORD GetModuleFileName(HMODULE hModule, wchar_t* lpszName, DWORD cchSize) override;
    DWORD GetLastError() override;
    HMODULE GetMainModule() override;
    DWORD OtherBitnessView() override;
    bool FileExists(const wchar_t* lpszPath) override;
    void NotifyAssociationsChanged() override;
};
