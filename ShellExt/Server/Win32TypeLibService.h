#pragma once
#include "ServerPlatform.h"

// OLE Automation's type-library functions behind ITypeLibService.
class CWin32TypeLibService : public ITypeLibService {
public:
    HRESULT Load(const wchar_t* lpszPath, std::unique_ptr<ILoadedTypeLib>* ppLib) override;
};
