#pragma once
// What the COM module's registration needs from the system besides the registry: the module file
// name, the other bitness's view, the shell's notification and the type-library services. The
// module reaches Windows only through these (and IRegistrarPlatform), so its logic runs against
// doubles in tests.
#include <windows.h>
#include <memory>
#include <vector>

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
    // The interfaces whose keys Register writes below the classes' "Interface" key (those OLE
    // Automation can marshal: dual, oleautomation and dispatch interfaces).
    virtual HRESULT GetRegisteredInterfaces(std::vector<GUID>* pIids) = 0;
};

class ITypeLibService {
public:
    virtual ~ITypeLibService() = default;
    virtual HRESULT Load(const wchar_t* lpszPath, std::unique_ptr<ILoadedTypeLib>* ppLib) = 0;
};

class IServerPlatform {
public:
    virtual ~IServerPlatform() = default;
    // As GetModuleFileNameW; a result equal to cchSize means the name did not fit.
    virtual DWORD GetModuleFileName(HMODULE hModule, wchar_t* lpszName, DWORD cchSize) = 0;
    virtual DWORD GetLastError() = 0;
    // The process's main executable (GetModuleHandleW(nullptr)).
    virtual HMODULE GetMainModule() = 0;
    // The registry access flag that reaches the other bitness's view of the classes
    // (KEY_WOW64_32KEY from a 64-bit build, KEY_WOW64_64KEY from a 32-bit one under WOW64), or 0
    // where there is no other view (32-bit Windows, which ignores the flag and would show our own keys).
    virtual DWORD OtherBitnessView() = 0;
    // Whether a file exists at the path (a server file that another registration names).
    virtual bool FileExists(const wchar_t* lpszPath) = 0;
    // SHChangeNotify(SHCNE_ASSOCCHANGED): tells a running Explorer that handlers were added or removed.
    virtual void NotifyAssociationsChanged() = 0;
};
