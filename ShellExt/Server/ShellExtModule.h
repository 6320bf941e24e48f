#pragma once
// The in-process server's module: lock count, class tables, type-library identity, and the
// registration steps. Exactly one per process (g_ShellExtModule), living from load to unload.
#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "CriticalSection.h"
#include "ServerPlatform.h"

class IRegistrarPlatform;

using InstanceCreatorFunc = HRESULT (*)(void* pUnkOuter, REFIID riid, void** ppv);
using ClassObjectCreatorFunc = HRESULT (*)(InstanceCreatorFunc pfnCreateInstance, REFIID riid, void** ppv);
struct CategoryMapEntry;

// One row of a class table, in the order the tables are laid out.
struct ClassEntry {
    const CLSID* pclsid;
    HRESULT (*pfnUpdateRegistry)(BOOL bRegister);
    ClassObjectCreatorFunc pfnGetClassObject;
    InstanceCreatorFunc pfnCreateInstance;
    IUnknown* pCF; // cached class object, owned by the row; read and written atomically
    const CategoryMapEntry* (*pfnGetCategoryMap)();
    void (*pfnObjectMain)(bool bStarting);
};

class CShellExtModule {
public:
    CShellExtModule() noexcept = default;
    CShellExtModule(const CShellExtModule&) = delete;
    CShellExtModule& operator=(const CShellExtModule&) = delete;

    // pEntries ends with a row whose class identifier is null.
    HRESULT Init(ClassEntry* pEntries, HINSTANCE hInstance, const GUID* plibid);
    // Runs at unload, under the loader lock: releases the cached class objects (this module's own)
    // and nothing that belongs to another module.
    void Term();

    LONG Lock() noexcept { return ::InterlockedIncrement(&m_nLockCount); }
    LONG Unlock() noexcept { return ::InterlockedDecrement(&m_nLockCount); }
    LONG GetLockCount() const noexcept { return m_nLockCount; }

    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
    // What DllRegisterServer and DllUnregisterServer do: the shell's approval entry, then
    // RegisterServer / UnregisterServer for all classes with the type library, then the shell is
    // told. A registration that fails takes the approval entry back with everything else.
    HRESULT RegisterWithApproval();
    HRESULT UnregisterWithApproval();
    // What DllInstall does: with the command text "user", registers (bInstall) or unregisters every
    // class and the type library for the current user only, with no approval entry; any other
    // text answers E_INVALIDARG and changes nothing.
    HRESULT Install(BOOL bInstall, const wchar_t* pszCmdLine);
    // A failure anywhere takes back every class registered before it and a type library whose
    // registration was begun.
    HRESULT RegisterServer(BOOL bRegTypeLib, const CLSID* pCLSID = nullptr);
    // Keeps the keys both bitnesses share (and the type library, but not this view's interface
    // keys) while the other bitness's build is still registered; nothing to remove is success.
    HRESULT UnregisterServer(BOOL bUnRegTypeLib, const CLSID* pCLSID = nullptr);
    HRESULT UpdateRegistryFromResource(UINT nResID, BOOL bRegister);
    HRESULT RegisterTypeLib();
    // Unless bEvenIfNotFound, a library whose registration cannot be found is left alone (S_OK).
    HRESULT UnRegisterTypeLib(bool bEvenIfNotFound = false);

    // Termination callbacks, in the order added (E_OUTOFMEMORY if the list cannot grow). They let go
    // of what other modules handed out, which must not happen under the loader lock, so they run
    // when the module may be unloaded (RunTermFuncs from DllCanUnloadNow), not at Term.
    HRESULT AddTermFunc(void (*pfn)(DWORD_PTR dw), DWORD_PTR dw);
    void RunTermFuncs() noexcept;
    // The module's lock, also guarding one-time loads of process-wide data such as type information.
    CCriticalSection& GetLock() noexcept { return m_csClassTable; }

    // Platform seams; the Win32 implementations unless replaced (tests).
    void SetPlatform(IRegistrarPlatform* pRegistry, ITypeLibService* pTypeLibs, IServerPlatform* pPlatform);
    IServerPlatform& Platform();
    IRegistrarPlatform& Registry();
    ITypeLibService& TypeLibs();

    // The class tables in use: the explicit one handed to Init, and the auto table (the build's
    // self-announcing classes, null rows skipped).
    void SetAutoClassTable(ClassEntry** ppBegin, ClassEntry** ppEnd) noexcept;
    HINSTANCE GetModuleInstance() const noexcept { return m_hInstance; }
    const GUID& GetLibId() const noexcept { return m_libid; }

private:
    struct TermFunc {
        void (*pfn)(DWORD_PTR);
        DWORD_PTR dw;
    };
    HRESULT GetClassObjectFrom(ClassEntry& entry, REFIID riid, void** ppv);
    HRESULT GetModuleFileName(wchar_t (&szName)[MAX_PATH]);
    HRESULT LoadTypeLib(std::wstring* pstrPath, std::unique_ptr<ILoadedTypeLib>* ppLib);
    template <typename F>
    HRESULT ForEachRow(const CLSID* pCLSID, F f);
    bool IsOtherBitnessRegistered(const CLSID* pCLSID);
    HRESULT RemoveInterfaceKeys();
    void RemoveApproval();

    // Where the current registration call writes: the machine's classes or the user's, and whether
    // the keys both bitnesses share are kept. Registration runs one call at a time, so this is
    // plain state, set for the length of one call.
    struct RegistrationScope {
        bool bPerUser = false;
        bool bKeepShared = false;
    };
    class CScopeChange;
    RegistrationScope m_scope;

    volatile LONG m_nLockCount = 0;
    ClassEntry* m_pEntries = nullptr;
    ClassEntry** m_ppAutoBegin = nullptr;
    ClassEntry** m_ppAutoEnd = nullptr;
    GUID m_libid = {};
    HINSTANCE m_hInstTypeLib = nullptr;
    HINSTANCE m_hInstance = nullptr;
    CCriticalSection m_csClassTable;
    std::vector<TermFunc> m_termFuncs;
    IRegistrarPlatform* m_pRegistry = nullptr;
    ITypeLibService* m_pTypeLibs = nullptr;
    IServerPlatform* m_pPlatform = nullptr;
};

extern CShellExtModule g_ShellExtModule;
