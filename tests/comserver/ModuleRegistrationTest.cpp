// The module's registration steps against the in-memory registry and a recording type-library
// service: what DllRegisterServer and DllUnregisterServer do, without touching the machine.
#include <gtest/gtest.h>
#include <algorithm>
#include <vector>
#include "ClassTable.h"
#include "ModuleDoubles.h"

namespace {
using kv::RegRoot;
const wchar_t kClsid[] = L"{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}";
const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsid;
const std::wstring kHandlerKey = L"*\\ShellEx\\ContextMenuHandlers\\Korvane";
const wchar_t kApproved[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const HINSTANCE kModule = reinterpret_cast<HINSTANCE>(0x10000000);
// Below HKEY_LOCAL_MACHINE (a machine-wide registration) or HKEY_CURRENT_USER (a per-user one).
const std::wstring kClasses = L"Software\\Classes\\";
const RegRoot kMachine = RegRoot::LocalMachine;

// "CLSID\{...}" of every class of the module's table, whatever classes it holds.
std::vector<std::wstring> ClassKeysOfTheTable()
{
    std::vector<std::wstring> keys;
    for (const ClassEntry* p = g_ClassEntries; p->pclsid; ++p) {
        wchar_t szClsid[40];
        ::StringFromGUID2(*p->pclsid, szClsid, 40);
        keys.push_back(std::wstring(L"CLSID\\") + szClsid);
    }
    return keys;
}

// A script as the build embeds it, read from this test program's own resources.
std::string EmbeddedScript(UINT nId = IDR_KORVANESHELLEXT)
{
    HRSRC hRes = ::FindResourceW(nullptr, MAKEINTRESOURCEW(nId), L"REGISTRY");
    HGLOBAL hData = hRes ? ::LoadResource(nullptr, hRes) : nullptr;
    if (!hData)
        return {};
    return std::string(static_cast<const char*>(::LockResource(hData)), ::SizeofResource(nullptr, hRes));
}

class ModuleRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        UsePath(platform.strModule);
        platform.pLog = &log;
        typeLibs.interfaces = {IID_IKorvaneShellExt};
        g_ShellExtModule.SetPlatform(&registry, &typeLibs, &platform);
        g_ShellExtModule.SetAutoClassTable(AutoClassTableBegin(), AutoClassTableEnd());
        g_ShellExtModule.Init(g_ClassEntries, kModule, &LIBID_ShellExtLib);
    }
    void TearDown() override
    {
        g_ShellExtModule.Term();
        g_ShellExtModule.SetPlatform(nullptr, nullptr, nullptr);
    }
    void UsePath(const std::wstring& strPath)
    {
        platform.strModule = strPath;
        registry.AddResource(strPath, IDR_KORVANESHELLEXT, L"REGISTRY", EmbeddedScript());
        registry.AddResource(strPath, IDR_KORVANEEXPLORERCOMMAND, L"REGISTRY",
                             EmbeddedScript(IDR_KORVANEEXPLORERCOMMAND));
        typeLibs.loadable.push_back(strPath);
    }
    std::optional<std::wstring> Text(RegRoot root, const std::wstring& key, const std::wstring& name = L"")
    {
        return registry.GetString(root, key, name);
    }
    long Count(const std::wstring& event) const
    {
        return static_cast<long>(std::count(log.begin(), log.end(), event));
    }

    EventLog log;
    CLoggingRegistry registry{log};
    CRecordingTypeLibs typeLibs{log};
    CFakeServerPlatform platform;
};

TEST_F(ModuleRegistration, RegistersBothTablesThenTheTypeLibraryAndUnregistersKeepingSharedKeys)
{
    ASSERT_EQ(EmbeddedScript().size(), 520u);
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);

    EXPECT_EQ(Text(kMachine, kClasses + kClassKey), L"Korvane Context Menu Handler");
    EXPECT_EQ(Text(kMachine, kClasses + kClassKey + L"\\InprocServer32"), platform.strModule);
    EXPECT_EQ(Text(kMachine, kClasses + kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Text(kMachine, kClasses + kHandlerKey), kClsid);
    EXPECT_EQ(Text(kMachine, kClasses + L"CLSID\\{606485C3-F299-4A73-BD61-41773E2170D3}\\InprocServer32"),
              platform.strModule);
    // The classic class stands in both tables, so its script runs twice, the Windows 11 command's
    // once, the type library comes last, and then the shell hears of it.
    EXPECT_EQ(Count(L"set ThreadingModel"), 3);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log[log.size() - 2],
              L"typelib register " + platform.strModule + L" help C:\\Program Files\\Korvane\\");
    EXPECT_EQ(log.back(), L"notify assocchanged");

    std::string once = registry.Dump();
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    EXPECT_EQ(registry.Dump(), once);

    log.clear();
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kClassKey));
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kHandlerKey));
    EXPECT_TRUE(registry.KeyExists(kMachine, kClasses + L"CLSID"));
    EXPECT_TRUE(registry.KeyExists(kMachine, kClasses + L"*\\ShellEx\\ContextMenuHandlers"));
    EXPECT_EQ(Count(L"typelib unregister"), 1);
    EXPECT_EQ(log.back(), L"notify assocchanged");

    // Nothing left to remove (a second uninstall): success, and the type library is not asked.
    log.clear();
    EXPECT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_EQ(Count(L"typelib unregister"), 0);
}

TEST_F(ModuleRegistration, StaleSubkeysAreReplacedAndQuotesInThePathStoredExactly)
{
    UsePath(L"C:\\Users\\O'Brien's tools\\KorvaneShellExt.dll");
    registry.CreatePath(kMachine, kClasses + kClassKey + L"\\Stale");
    registry.CreatePath(kMachine, kClasses + kHandlerKey + L"\\Stale");
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kClassKey + L"\\Stale"));
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kHandlerKey + L"\\Stale"));
    EXPECT_EQ(Text(kMachine, kClasses + kClassKey + L"\\InprocServer32"), platform.strModule);
}

// Written on every system, the key created when missing; unregistration removes our value only.
TEST_F(ModuleRegistration, ApprovalEntryIsWrittenEverywhereAndOnlyItsValueRemoved)
{
    ASSERT_FALSE(registry.KeyExists(RegRoot::LocalMachine, kApproved));
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    EXPECT_EQ(Text(RegRoot::LocalMachine, kApproved, kClsid), L"Korvane Context Menu Handler");
    const wchar_t kOther[] = L"{00000000-1111-2222-3333-444444444444}";
    registry.SetString(RegRoot::LocalMachine, kApproved, kOther, L"another handler");
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_EQ(registry.ValueNames(RegRoot::LocalMachine, kApproved), std::vector<std::wstring>{kOther});
}

// A key that refuses writes: the approval key (nothing is registered), the handler's key (rolled back
// within its script), or a later class's key (the classes before it and the approval entry go too).
// Never the type library, and every key closed.
struct CDeniedKey {
    const char* pszName;
    std::wstring strKey;
};
void PrintTo(const CDeniedKey& key, std::ostream* pOut)
{
    *pOut << key.pszName;
}
class FailedRegistration : public ModuleRegistration, public ::testing::WithParamInterface<CDeniedKey> {};

TEST_P(FailedRegistration, TakesBackEverythingItWrote)
{
    const std::wstring& strDenied = GetParam().strKey;
    const bool bApproval = strDenied == kApproved;
    registry.CreatePath(kMachine, strDenied);
    registry.DenyWrite(kMachine, strDenied);
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kClassKey));
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kHandlerKey));
    EXPECT_FALSE(registry.GetValue(kMachine, kApproved, kClsid).has_value());
    EXPECT_EQ(Count(L"typelib load " + platform.strModule), 0);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
    // Nothing written without the approval key; otherwise a rollback removes what it wrote, not
    // the keys that others share, and the shell still hears of it.
    EXPECT_EQ(registry.KeyExists(kMachine, kClasses + L"CLSID"), !bApproval);
    EXPECT_EQ(Count(L"notify assocchanged"), bApproval ? 0 : 1);
}
INSTANTIATE_TEST_SUITE_P(
    ModuleRegistration, FailedRegistration,
    ::testing::Values(CDeniedKey{"ApprovalKey", kApproved}, CDeniedKey{"HandlerKey", kClasses + L"*"},
                      CDeniedKey{"LaterClass", kClasses + L"CLSID\\{606485C3-F299-4A73-BD61-41773E2170D3}"}),
    [](const ::testing::TestParamInfo<CDeniedKey>& info) { return std::string(info.param.pszName); });

TEST_F(ModuleRegistration, ModuleNamesThatDoNotFitOrCannotBeReadAreReported)
{
    UsePath(L"C:\\" + std::wstring(252, L'k') + L".dll"); // 259 characters: fits
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    UsePath(L"C:\\" + std::wstring(253, L'k') + L".dll"); // 260 characters: cut by the system
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(g_ShellExtModule.UnregisterWithApproval(), HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER));
    platform.bFailName = true;
    platform.dwLastError = ERROR_MOD_NOT_FOUND;
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
}

TEST_F(ModuleRegistration, TypeLibraryFallsBackToTheTlbFileBesideTheModule)
{
    typeLibs.loadable = {L"C:\\Program Files\\Korvane\\KorvaneShellExt.tlb"};
    ASSERT_EQ(g_ShellExtModule.RegisterTypeLib(), S_OK);
    EXPECT_EQ(log.back(), L"typelib register C:\\Program Files\\Korvane\\KorvaneShellExt.tlb help "
                          L"C:\\Program Files\\Korvane\\");

    // Neither loads: the second load's error.
    typeLibs.loadable.clear();
    typeLibs.hrLoad = TYPE_E_INVALIDSTATE;
    EXPECT_EQ(g_ShellExtModule.RegisterTypeLib(), TYPE_E_INVALIDSTATE);

    // A module name without extension whose ".tlb" name would not fit.
    platform.strModule = L"C:\\" + std::wstring(254, L'k');
    EXPECT_EQ(g_ShellExtModule.RegisterTypeLib(), E_FAIL);
}

TEST_F(ModuleRegistration, ATypeLibraryThatFailsTakesBackTheClassesAndItsOwnHalfRegistration)
{
    typeLibs.hrRegister = TYPE_E_REGISTRYACCESS;
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), TYPE_E_REGISTRYACCESS);
    // Removed although a lookup would not find it registered.
    EXPECT_EQ(Count(L"typelib unregister"), 1);
    EXPECT_FALSE(registry.GetValue(RegRoot::LocalMachine, kApproved, kClsid).has_value());
    for (const std::wstring& strKey : ClassKeysOfTheTable())
        EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + strKey)) << strKey;
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kHandlerKey));
    EXPECT_TRUE(registry.KeyExists(kMachine, kClasses + L"*\\ShellEx\\ContextMenuHandlers")); // NoRemove
}

// 64-bit Windows keeps one handler key and one type library for both builds; the 32-bit build's
// class lies in the 32-bit view of the machine's classes, which this 64-bit build reaches through
// KEY_WOW64_32KEY. The interface keys are kept per view, so this build's own go in any case.
TEST_F(ModuleRegistration, SharedKeysStayOnlyWhileTheOtherBitnessIsRegistered)
{
    const std::wstring strOtherServer = L"Wow6432Node\\" + kClassKey + L"\\InprocServer32";
    const std::wstring strOtherDll = L"C:\\Program Files (x86)\\Korvane\\KorvaneShellExt.dll";
    const std::wstring strDeletedDll = L"C:\\Deleted\\KorvaneShellExt.dll";
    platform.missingFiles = {strDeletedDll};
    wchar_t szIid[40], szLibId[40];
    ::StringFromGUID2(IID_IKorvaneShellExt, szIid, 40);
    ::StringFromGUID2(LIBID_ShellExtLib, szLibId, 40);
    const std::wstring strInterface = kClasses + L"Interface\\" + szIid;
    const std::wstring strForeignInterface = kClasses + L"Interface\\{00000000-1111-2222-3333-444444444444}";
    const RegRoot kHklm = RegRoot::LocalMachine;
    struct Case {
        const char* name;
        RegRoot root;           // where the other build's class is planted
        std::wstring strPrefix; // the path there, before strOtherServer
        std::wstring strServer; // the server file it names
        DWORD dwOtherView;
        bool bKept;
    } cases[] = {
        {"its file deleted", kHklm, kClasses, strDeletedDll, KEY_WOW64_32KEY, false},
        {"in the merged view only", RegRoot::ClassesRoot, L"", strOtherDll, KEY_WOW64_32KEY, false},
        {"view shows this module", kHklm, kClasses, platform.strModule, KEY_WOW64_32KEY, false},
        {"no other view", kHklm, kClasses, strOtherDll, 0, false},
        // Last: its failing registration leaves a key that refuses writes.
        {"other build registered", kHklm, kClasses, strOtherDll, KEY_WOW64_32KEY, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        platform.dwOtherView = c.dwOtherView;
        ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
        registry.SetString(c.root, c.strPrefix + strOtherServer, L"", c.strServer);
        registry.SetString(kHklm, strInterface + L"\\TypeLib", L"", szLibId);
        registry.SetString(kHklm, strForeignInterface + L"\\TypeLib", L"", szLibId + std::wstring(L"x"));
        log.clear();
        ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
        EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kClassKey));
        EXPECT_EQ(registry.KeyExists(kMachine, kClasses + kHandlerKey), c.bKept);
        EXPECT_EQ(Count(L"typelib unregister"), c.bKept ? 0 : 1);
        if (c.bKept) {
            EXPECT_FALSE(registry.KeyExists(kHklm, strInterface));
            EXPECT_TRUE(registry.KeyExists(kHklm, strForeignInterface));

            // A failing registration's clean-up keeps them too.
            registry.CreatePath(kMachine, kClasses + L"CLSID\\{606485C3-F299-4A73-BD61-41773E2170D3}");
            registry.DenyWrite(kMachine, kClasses + L"CLSID\\{606485C3-F299-4A73-BD61-41773E2170D3}");
            EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
            EXPECT_EQ(Text(kMachine, kClasses + kHandlerKey), kClsid);
            EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kClassKey));
        }
        registry.DeleteKey(kv::RootKey(c.root), (c.strPrefix + strOtherServer).c_str());
    }
}

TEST_F(ModuleRegistration, PerUserRegistrationWritesOnlyTheUsersClassesAndRemovesExactlyThat)
{
    registry.CreatePath(RegRoot::LocalMachine, kApproved);
    ASSERT_EQ(g_ShellExtModule.Install(TRUE, L"user"), S_OK);
    for (const std::wstring& strKey : ClassKeysOfTheTable()) {
        EXPECT_EQ(Text(RegRoot::CurrentUser, kClasses + strKey + L"\\InprocServer32"), platform.strModule);
        EXPECT_EQ(Text(RegRoot::CurrentUser, kClasses + strKey + L"\\InprocServer32", L"ThreadingModel"),
                  L"Apartment");
        EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + strKey)) << strKey;
    }
    EXPECT_EQ(Text(RegRoot::CurrentUser, kClasses + kHandlerKey), kClsid);
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kHandlerKey));
    EXPECT_TRUE(registry.ValueNames(RegRoot::LocalMachine, kApproved).empty());
    EXPECT_EQ(
        Count(L"typelib register " + platform.strModule + L" help C:\\Program Files\\Korvane\\ for user"), 1);
    EXPECT_EQ(log.back(), L"notify assocchanged");

    log.clear();
    ASSERT_EQ(g_ShellExtModule.Install(FALSE, L"USER"), S_OK);
    EXPECT_EQ(Count(L"typelib unregister for user"), 1);
    EXPECT_EQ(log.back(), L"notify assocchanged");
    EXPECT_FALSE(registry.KeyExists(RegRoot::CurrentUser, kClasses + kClassKey));
    EXPECT_FALSE(registry.KeyExists(RegRoot::CurrentUser, kClasses + kHandlerKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::CurrentUser, kClasses + L"*\\ShellEx\\ContextMenuHandlers"));
    EXPECT_EQ(g_ShellExtModule.Install(FALSE, L"user"), S_OK); // nothing left: still success

    // A failing registration is rolled back in the user's classes as in the machine's.
    registry.CreatePath(RegRoot::CurrentUser, kClasses + L"*");
    registry.DenyWrite(RegRoot::CurrentUser, kClasses + L"*");
    EXPECT_EQ(g_ShellExtModule.Install(TRUE, L"user"), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(registry.KeyExists(RegRoot::CurrentUser, kClasses + kClassKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::CurrentUser, kClasses + L"CLSID"));
}

// On Windows a value written through HKCR lands in the user's classes wherever the user has the
// key: the machine-wide registration writes the machine's classes by name, beside and apart from
// a per-user registration of the same user.
TEST_F(ModuleRegistration, MachineWideRegistrationLeavesAPerUserOneAlone)
{
    ASSERT_EQ(g_ShellExtModule.Install(TRUE, L"user"), S_OK);
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    for (const std::wstring& strKey : ClassKeysOfTheTable())
        EXPECT_EQ(Text(kMachine, kClasses + strKey + L"\\InprocServer32"), platform.strModule) << strKey;
    EXPECT_EQ(Text(kMachine, kClasses + kHandlerKey), kClsid);

    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(kMachine, kClasses + kClassKey));
    EXPECT_EQ(Text(RegRoot::CurrentUser, kClasses + kClassKey + L"\\InprocServer32"), platform.strModule);
    EXPECT_EQ(Text(RegRoot::CurrentUser, kClasses + kHandlerKey), kClsid);
}

TEST_F(ModuleRegistration, InstallWithAnyOtherCommandTextChangesNothing)
{
    const std::string strBefore = registry.Dump();
    for (const wchar_t* pszCmdLine :
         {static_cast<const wchar_t*>(nullptr), L"", L"machine", L"user ", L"/i:user"}) {
        EXPECT_EQ(g_ShellExtModule.Install(TRUE, pszCmdLine), E_INVALIDARG);
        EXPECT_EQ(g_ShellExtModule.Install(FALSE, pszCmdLine), E_INVALIDARG);
    }
    EXPECT_EQ(registry.Dump(), strBefore);
    EXPECT_TRUE(log.empty());
}
} // namespace
