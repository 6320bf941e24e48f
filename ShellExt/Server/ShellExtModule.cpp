#include "ShellExtModule.h"
#include <algorithm>
#include <new>
#include <cwchar>
#include "Registrar/ClassesRegistryView.h"
#include "Registrar/PlatformKey.h"
#include "Registrar/Registrar.h"
#include "Win32RegistrarPlatform.h"
#include "Win32ServerPlatform.h"
#include "Win32TypeLibService.h"

CShellExtModule g_ShellExtModule;

namespace {
const wchar_t kApprovedKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kClassIdText[] = L"{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}";
const wchar_t kClassName[] = L"Korvane Context Menu Handler";

// The cached class object is tested outside the class-table lock, so it is read and written atomically.
IUnknown* ReadCached(ClassEntry& entry) noexcept
{
    return static_cast<IUnknown*>(
        ::InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&entry.pCF), nullptr, nullptr));
}
IUnknown* ExchangeCached(ClassEntry& entry, IUnknown* pUnk) noexcept
{
    return static_cast<IUnknown*>(::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&entry.pCF), pUnk));
}

bool Matches(const ClassEntry& entry, const CLSID* pCLSID)
{
    return pCLSID == nullptr || ::IsEqualCLSID(*entry.pclsid, *pCLSID);
}

// The class declares no component categories; a row that did would need the category manager,
// which this server does not carry.
HRESULT UpdateCategories(const ClassEntry& entry)
{
    return entry.pfnGetCategoryMap == nullptr || entry.pfnGetCategoryMap() == nullptr ? S_OK : E_NOTIMPL;
}
} // namespace

// Sets the registration scope for one call and restores the one before it on every return path.
class CShellExtModule::CScopeChange {
public:
    CScopeChange(RegistrationScope& scope, RegistrationScope newScope) noexcept : m_scope(scope), m_old(scope)
    {
        m_scope = newScope;
    }
    ~CScopeChange() { m_scope = m_old; }
    CScopeChange(const CScopeChange&) = delete;
    CScopeChange& operator=(const CScopeChange&) = delete;

private:
    RegistrationScope& m_scope;
    RegistrationScope m_old;
};

HRESULT CShellExtModule::Init(ClassEntry* pEntries, HINSTANCE hInstance, const GUID* plibid)
{
    m_pEntries = pEntries;
    m_hInstance = hInstance;
    m_hInstTypeLib = hInstance;
    if (plibid)
        m_libid = *plibid;
    for (ClassEntry* p = m_pEntries; p && p->pclsid; ++p)
        if (p->pfnObjectMain)
            p->pfnObjectMain(true);
    for (ClassEntry** pp = m_ppAutoBegin; pp < m_ppAutoEnd; ++pp)
        if (*pp && (*pp)->pfnObjectMain)
            (*pp)->pfnObjectMain(true);
    return S_OK;
}

void CShellExtModule::Term()
{
    for (ClassEntry* p = m_pEntries; p && p->pclsid; ++p) {
        if (IUnknown* pCF = ExchangeCached(*p, nullptr))
            pCF->Release();
        if (p->pfnObjectMain)
            p->pfnObjectMain(false);
    }
    for (ClassEntry** pp = m_ppAutoBegin; pp < m_ppAutoEnd; ++pp)
        if (*pp && (*pp)->pfnObjectMain)
            (*pp)->pfnObjectMain(false);
    m_pEntries = nullptr;
}

void CShellExtModule::RunTermFuncs() noexcept
{
    std::vector<TermFunc> funcs;
    {
        CCriticalSectionLock lock(m_csClassTable);
        funcs.swap(m_termFuncs);
    }
    for (const TermFunc& f : funcs)
        f.pfn(f.dw);
}

HRESULT CShellExtModule::AddTermFunc(void (*pfn)(DWORD_PTR), DWORD_PTR dw)
{
    try {
        CCriticalSectionLock lock(m_csClassTable);
        m_termFuncs.push_back({pfn, dw});
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

void CShellExtModule::SetPlatform(IRegistrarPlatform* pRegistry, ITypeLibService* pTypeLibs,
                                  IServerPlatform* pPlatform)
{
    m_pRegistry = pRegistry;
    m_pTypeLibs = pTypeLibs;
    m_pPlatform = pPlatform;
}

void CShellExtModule::SetAutoClassTable(ClassEntry** ppBegin, ClassEntry** ppEnd) noexcept
{
    m_ppAutoBegin = ppBegin;
    m_ppAutoEnd = ppEnd;
}

IServerPlatform& CShellExtModule::Platform()
{
    static CWin32ServerPlatform s_platform;
    return m_pPlatform ? *m_pPlatform : s_platform;
}

IRegistrarPlatform& CShellExtModule::Registry()
{
    static CWin32RegistrarPlatform s_registry;
    return m_pRegistry ? *m_pRegistry : s_registry;
}

ITypeLibService& CShellExtModule::TypeLibs()
{
    static CWin32TypeLibService s_typeLibs;
    return m_pTypeLibs ? *m_pTypeLibs : s_typeLibs;
}

HRESULT CShellExtModule::GetClassObjectFrom(ClassEntry& entry, REFIID riid, void** ppv)
{
    if (ReadCached(entry) == nullptr) {
        CCriticalSectionLock lock(m_csClassTable);
        if (ReadCached(entry) == nullptr) {
            IUnknown* pCF = nullptr;
            HRESULT hr = entry.pfnGetClassObject(entry.pfnCreateInstance, IID_IUnknown, reinterpret_cast<void**>(&pCF));
            if (FAILED(hr))
                return hr;
            ExchangeCached(entry, pCF);
        }
    }
    if (IUnknown* pCF = ReadCached(entry))
        return pCF->QueryInterface(riid, ppv);
    return S_OK;
}

HRESULT CShellExtModule::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv)
{
    if (ppv == nullptr)
        return E_POINTER;
    *ppv = nullptr;
    HRESULT hr = S_OK;
    for (ClassEntry* p = m_pEntries; p && p->pclsid; ++p) {
        if (p->pfnGetClassObject && ::IsEqualCLSID(rclsid, *p->pclsid)) {
            hr = GetClassObjectFrom(*p, riid, ppv);
            break;
        }
    }
    if (*ppv == nullptr && hr == S_OK) {
        for (ClassEntry** pp = m_ppAutoBegin; pp < m_ppAutoEnd; ++pp) {
            ClassEntry* p = *pp;
            if (p && p->pfnGetClassObject && ::IsEqualCLSID(rclsid, *p->pclsid)) {
                hr = GetClassObjectFrom(*p, riid, ppv);
                break;
            }
        }
        if (*ppv == nullptr && hr == S_OK)
            hr = CLASS_E_CLASSNOTAVAILABLE;
    }
    return hr;
}

template <typename F>
HRESULT CShellExtModule::ForEachRow(const CLSID* pCLSID, F f)
{
    // The explicit table first; the auto table only when all of it succeeded.
    for (ClassEntry* p = m_pEntries; p && p->pclsid; ++p) {
        if (Matches(*p, pCLSID)) {
            HRESULT hr = f(*p);
            if (FAILED(hr))
                return hr;
        }
    }
    for (ClassEntry** pp = m_ppAutoBegin; pp < m_ppAutoEnd; ++pp) {
        if (*pp && Matches(**pp, pCLSID)) {
            HRESULT hr = f(**pp);
            if (FAILED(hr))
                return hr;
        }
    }
    return S_OK;
}

HRESULT CShellExtModule::RegisterServer(BOOL bRegTypeLib, const CLSID* pCLSID)
{
    auto registerRow = [](ClassEntry& entry) {
        HRESULT hr = entry.pfnUpdateRegistry(TRUE);
        return FAILED(hr) ? hr : UpdateCategories(entry);
    };
    // A ForceRemove line and a failed block's rollback delete keys too: while the other build is
    // registered they must leave the keys it shares with this one.
    CScopeChange scope(m_scope, {m_scope.bPerUser, IsOtherBitnessRegistered(pCLSID)});
    HRESULT hr = ForEachRow(pCLSID, registerRow);
    const bool bTypeLibTried = SUCCEEDED(hr) && bRegTypeLib;
    if (bTypeLibTried)
        hr = RegisterTypeLib();
    if (FAILED(hr)) {
        // An installer that sees the failure must not find classes that look registered: every row
        // written before the one that failed goes, and so does a type library registration that
        // stopped half-way. Such a library answers "not registered" to a lookup, so it is removed
        // regardless; and the system's own removal stops at its missing TypeLib key, leaving the
        // interface keys it wrote, which go by their own.
        UnregisterServer(FALSE, pCLSID);
        if (bTypeLibTried) {
            if (!m_scope.bKeepShared)
                UnRegisterTypeLib(true);
            RemoveInterfaceKeys();
        }
    }
    return hr;
}

HRESULT CShellExtModule::UnregisterServer(BOOL bUnRegTypeLib, const CLSID* pCLSID)
{
    auto unregisterRow = [](ClassEntry& entry) {
        HRESULT hr = UpdateCategories(entry);
        return FAILED(hr) ? hr : entry.pfnUpdateRegistry(FALSE);
    };
    // The other build's handler and type library are the same keys as ours: they go only with the
    // last build that uses them. Asked before anything is removed.
    const bool bKeepShared = IsOtherBitnessRegistered(pCLSID);
    CScopeChange scope(m_scope, {m_scope.bPerUser, bKeepShared});
    HRESULT hr = ForEachRow(pCLSID, unregisterRow);
    if (SUCCEEDED(hr) && bUnRegTypeLib)
        hr = bKeepShared ? RemoveInterfaceKeys() : UnRegisterTypeLib();
    return hr;
}

namespace {
bool EqualsGuidText(const wchar_t* pszText, const GUID& guid)
{
    wchar_t szGuid[40];
    return ::StringFromGUID2(guid, szGuid, ARRAYSIZE(szGuid)) != 0 && ::_wcsicmp(pszText, szGuid) == 0;
}
} // namespace

// Where the type library's registration is kept for the other build (its TypeLib key is one key
// for both), the interface keys that this build's RegisterTypeLib wrote still go: "Interface" is
// kept once per view ("Registry Keys Affected by WOW64"), so they are this build's alone. Only
// keys that name this library are touched.
HRESULT CShellExtModule::RemoveInterfaceKeys()
{
    std::wstring strPath;
    std::unique_ptr<ILoadedTypeLib> pLib;
    HRESULT hr = LoadTypeLib(&strPath, &pLib);
    if (FAILED(hr))
        return hr;
    try {
        std::vector<GUID> iids;
        hr = pLib->GetRegisteredInterfaces(&iids);
        if (FAILED(hr))
            return hr;
        IRegistryPlatform& registry = Registry();
        const RegKey hRoot =
            kv::RootKey(m_scope.bPerUser ? kv::RegRoot::CurrentUser : kv::RegRoot::LocalMachine);
        for (const GUID& iid : iids) {
            wchar_t szIid[40];
            if (::StringFromGUID2(iid, szIid, ARRAYSIZE(szIid)) == 0)
                continue;
            const std::wstring strKey = std::wstring(L"Software\\Classes\\Interface\\") + szIid;
            {
                CPlatformKey key(registry);
                if (registry.OpenKey(hRoot, (strKey + L"\\TypeLib").c_str(), kv::kKeyRead, key.Put()) != 0)
                    continue;
                wchar_t szLibId[40] = {};
                std::uint32_t dwType = 0;
                std::uint32_t cbLibId = sizeof szLibId - sizeof(wchar_t); // the last character stays NUL
                if (registry.QueryValue(key.Get(), nullptr, &dwType, szLibId, &cbLibId) != 0 ||
                    dwType != kv::kRegSz || !EqualsGuidText(szLibId, m_libid))
                    continue;
            }
            const long error = DeleteKeyTree(registry, hRoot, strKey.c_str());
            if (error != kv::kErrorSuccess && error != kv::kErrorFileNotFound)
                return HRESULT_FROM_WIN32(static_cast<DWORD>(error));
        }
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// A class of ours in the other view whose server is another file than this module, and a file
// that exists: a build deleted without unregistering must not keep the shared keys forever. Where
// a view is not kept apart (32-bit Windows; wine 8 for the user's classes) the "other" view shows
// our own registration, which names this module. The machine's registration asks the machine's
// classes (HKLM\Software\Classes), not the merged view, where the user's classes would answer.
bool CShellExtModule::IsOtherBitnessRegistered(const CLSID* pCLSID)
{
    const DWORD dwView = Platform().OtherBitnessView();
    if (dwView == 0)
        return false;
    wchar_t szModule[MAX_PATH];
    if (FAILED(GetModuleFileName(szModule)))
        szModule[0] = L'\0';
    IRegistryPlatform& registry = Registry();
    const RegKey hRoot = kv::RootKey(m_scope.bPerUser ? kv::RegRoot::CurrentUser : kv::RegRoot::LocalMachine);
    bool bFound = false;
    ForEachRow(pCLSID, [&](const ClassEntry& entry) {
        wchar_t szClsid[40];
        if (::StringFromGUID2(*entry.pclsid, szClsid, ARRAYSIZE(szClsid)) == 0)
            return S_OK;
        const std::wstring strKey =
            std::wstring(L"Software\\Classes\\CLSID\\") + szClsid + L"\\InprocServer32";
        CPlatformKey key(registry);
        if (registry.OpenKey(hRoot, strKey.c_str(), kv::kKeyRead | dwView, key.Put()) != 0)
            return S_OK;
        wchar_t szServer[MAX_PATH + 1] = {};
        std::uint32_t dwType = 0;
        std::uint32_t cbServer = sizeof szServer - sizeof(wchar_t); // the last character stays NUL
        // A longer path than MAX_PATH names no server the system would load for this class.
        if (registry.QueryValue(key.Get(), nullptr, &dwType, szServer, &cbServer) == 0 &&
            dwType == kv::kRegSz && szServer[0] != L'\0' && ::_wcsicmp(szServer, szModule) != 0 &&
            Platform().FileExists(szServer))
            bFound = true;
        return S_OK;
    });
    return bFound;
}

HRESULT CShellExtModule::Install(BOOL bInstall, const wchar_t* pszCmdLine)
{
    // "regsvr32 /n /i:user" passes "user": registration for the current user only, which needs
    // no administrator rights, and cannot write the machine's approval entry.
    if (pszCmdLine == nullptr || ::_wcsicmp(pszCmdLine, L"user") != 0)
        return E_INVALIDARG;
    CScopeChange scope(m_scope, {true, false});
    const HRESULT hr = bInstall ? RegisterServer(TRUE) : UnregisterServer(TRUE);
    Platform().NotifyAssociationsChanged();
    return hr;
}

// Where an administrator allows approved shell extensions only, Explorer loads a handler only if
// its class id is a value of this key ("Registering Shell Extension Handlers" asks for it on every
// system). The key lies in the redirected part of HKLM\Software, so each build writes and removes
// the entry of its own view.
HRESULT CShellExtModule::RegisterWithApproval()
{
    {
        IRegistryPlatform& registry = Registry();
        CPlatformKey key(registry);
        long lError =
            registry.CreateKey(kv::RootKey(kv::RegRoot::LocalMachine), kApprovedKey, kv::kKeySetValue, key.Put());
        if (lError == 0)
            lError = registry.SetValue(key.Get(), kClassIdText, kv::kRegSz, kClassName, sizeof(kClassName));
        if (lError != 0)
            return HRESULT_FROM_WIN32(static_cast<unsigned long>(lError));
    }
    const HRESULT hr = RegisterServer(TRUE);
    if (FAILED(hr))
        RemoveApproval();
    Platform().NotifyAssociationsChanged();
    return hr;
}

HRESULT CShellExtModule::UnregisterWithApproval()
{
    RemoveApproval();
    const HRESULT hr = UnregisterServer(TRUE);
    Platform().NotifyAssociationsChanged();
    return hr;
}

void CShellExtModule::RemoveApproval()
{
    // Leaving a stale approval entry behind does no harm, so its failures are not reported.
    IRegistryPlatform& registry = Registry();
    CPlatformKey key(registry);
    if (registry.OpenKey(kv::RootKey(kv::RegRoot::LocalMachine), kApprovedKey, kv::kKeySetValue, key.Put()) ==
        0)
        registry.DeleteValue(key.Get(), kClassIdText);
}

HRESULT CShellExtModule::GetModuleFileName(wchar_t (&szName)[MAX_PATH])
{
    DWORD cch = Platform().GetModuleFileName(m_hInstance, szName, MAX_PATH);
    if (cch == 0)
        return HRESULT_FROM_WIN32(Platform().GetLastError());
    if (cch >= MAX_PATH) // the name was cut short
        return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    szName[cch] = L'\0';
    return S_OK;
}

HRESULT CShellExtModule::UpdateRegistryFromResource(UINT nResID, BOOL bRegister)
{
    try {
        CClassesRegistryView view(Registry(), m_scope.bPerUser, m_scope.bKeepShared);
        CRegistrar registrar(view);
        HRESULT hr = registrar.AddReplacement(L"APPID", L"");
        if (FAILED(hr))
            return hr;
        wchar_t szModule[MAX_PATH];
        hr = GetModuleFileName(szModule);
        if (FAILED(hr))
            return hr;
        // The script quotes its values with single quotes, so the path's own quotes are doubled.
        std::wstring strEscaped;
        for (const wchar_t* p = szModule; *p; ++p) {
            strEscaped += *p;
            if (*p == L'\'')
                strEscaped += L'\'';
        }
        if (m_hInstance == nullptr || m_hInstance == Platform().GetMainModule()) {
            std::wstring strQuoted = L"\"" + strEscaped + L"\"";
            hr = registrar.AddReplacement(L"Module", strQuoted.c_str());
        } else {
            hr = registrar.AddReplacement(L"Module", strEscaped.c_str());
        }
        if (FAILED(hr))
            return hr;
        hr = registrar.AddReplacement(L"Module_Raw", strEscaped.c_str());
        if (FAILED(hr))
            return hr;
        return registrar.RegisterFromResource(szModule, nResID, L"REGISTRY", bRegister != FALSE);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CShellExtModule::LoadTypeLib(std::wstring* pstrPath, std::unique_ptr<ILoadedTypeLib>* ppLib)
{
    wchar_t szModule[MAX_PATH];
    HRESULT hr = GetModuleFileName(szModule);
    if (FAILED(hr))
        return hr;
    hr = TypeLibs().Load(szModule, ppLib);
    if (FAILED(hr)) {
        // Not embedded: try a ".tlb" file of the same name beside the module.
        wchar_t* pExt = ::wcsrchr(szModule, L'.');
        const wchar_t* pSlash = ::wcsrchr(szModule, L'\\');
        if (pExt == nullptr || (pSlash && pExt < pSlash))
            pExt = szModule + ::wcslen(szModule);
        const wchar_t kTlb[] = L".tlb";
        if (static_cast<size_t>(pExt - szModule) + ::wcslen(kTlb) >= MAX_PATH)
            return E_FAIL;
        ::wcscpy_s(pExt, MAX_PATH - (pExt - szModule), kTlb);
        hr = TypeLibs().Load(szModule, ppLib);
        if (FAILED(hr))
            return hr;
    }
    try {
        pstrPath->assign(szModule);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT CShellExtModule::RegisterTypeLib()
{
    std::wstring strPath;
    std::unique_ptr<ILoadedTypeLib> pLib;
    HRESULT hr = LoadTypeLib(&strPath, &pLib);
    if (FAILED(hr))
        return hr;
    try {
        std::wstring strHelpDir = strPath.substr(0, strPath.find_last_of(L"\\/:") + 1);
        return pLib->Register(strPath.c_str(), strHelpDir.c_str(), m_scope.bPerUser);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT CShellExtModule::UnRegisterTypeLib(bool bEvenIfNotFound)
{
    std::wstring strPath;
    std::unique_ptr<ILoadedTypeLib> pLib;
    HRESULT hr = LoadTypeLib(&strPath, &pLib);
    if (FAILED(hr))
        return hr;
    if (!bEvenIfNotFound && !pLib->IsRegistered())
        return S_OK; // nothing to remove is what was asked
    return pLib->Unregister(m_scope.bPerUser);
}
