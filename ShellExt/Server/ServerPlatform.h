#pragma once
// What the COM module's registration needs from the system besides the registry: the platform
// version, the module file name, and the type-library services. The module reaches Windows only
// through these (and IRegistrarPlatform), so its logic runs against doubles in tests.
#include <windows.h>
#include <memory>

// A type library loaded from a file, able to add or remove its own registration.
class ILoadedTypeLib {
public:
    virtual ~ILoadedTypeLib() = default;
    // bPerUser: for the current user only (RegisterTypeLibForUser), else for the machine.
    virtual HRESULT Register(const wchar_t* lpszPath, const wchar_t* lpszHelpDir, bool bPerUser) = 0;
    // Unregisters by the identity read from the library's own attributes.
    virtual HRESULT Unregister(bool bPerUser) = 0;
    // Whether a registration of this library's identity can be found at all.
    virtual bool IsRegistered() = 0;
};

class ITypeLibService {
public:
    virtual ~ITypeLibService() = default;
    virtual HRESULT Load(const wchar_t* lpszPath, std::unique_ptr<ILoadedTypeLib>* ppLib) = 0;
};

class IServerPlatform {
public:
    virtual ~IServerPlatform() = default;
    // As GetVersion: low byte major, next byte minor, top bit set on the 95/98/Me family.
    virtual DWORD GetVersion() = 0;
    // As GetModuleFileNameW; a result equal to cchSize means the name did not fit.
    virtual DWORD GetModuleFileName(HMODULE hModule, wchar_t* lpszName, DWORD cchSize) = 0;
    virtual DWORD GetLastError() = 0;
    // The process's main executable (GetModuleHandleW(nullptr)).
    virtual HMODULE GetMainModule() = 0;
    // The registry access flag that reaches the other bitness's view of the classes
    // (KEY_WOW64_32KEY from a 64-bit build, KEY_WOW64_64KEY from a 32-bit one under WOW64), or 0
    // where there is no other view (32-bit Windows, which ignores the flag and would show our own keys).
    virtual DWORD OtherBitnessView() = 0;
};
