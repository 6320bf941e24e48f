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
const std::wstring kUserClasses = L"Software\\Classes\\";

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
    long Count(const std::wstring& event) const { return static_cast<long>(std::count(log.begin(), log.end(), event)); }

    EventLog log;
    CLoggingRegistry registry{log};
    CRecordingTypeLibs typeLibs{log};
    CFakeServerPlatform platform;
};

TEST_F(ModuleRegistration, RegistersBothTablesThenTheTypeLibraryAndUnregistersKeepingSharedKeys)
{
    ASSERT_EQ(EmbeddedScript().size(), 520u);
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);

    EXPECT_EQ(Text(RegRoot::ClassesRoot, kClassKey), L"Korvane Context Menu Handler");
    EXPECT_EQ(Text(RegRoot::ClassesRoot, kClassKey + L"\\InprocServer32"), platform.strModule);
    EXPECT_EQ(Text(RegRoot::ClassesRoot, kClassKey + L"\\InprocServer32", L"ThreadingModel"), L"Apartment");
    EXPECT_EQ(Text(RegRoot::ClassesRoot, kHandlerKey), kClsid);
    EXPECT_FALSE(registry.KeyExists(RegRoot::LocalMachine, kApproved));
    EXPECT_EQ(Text(RegRoot::ClassesRoot, L"CLSID\\{606485C3-F299-4A73-BD61-41773E2170D3}\\InprocServer32"),
              platform.strModule);
    // The classic class stands in both tables, so its script runs twice, the Windows 11 command's
    // once, and the type library comes last.
    EXPECT_EQ(Count(L"set ThreadingModel"), 3);
    EXPECT_EQ(log.back(), L"typelib register " + platform.strModule + L" help C:\\Program Files\\Korvane\\");

    std::string once = registry.Dump();
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    EXPECT_EQ(registry.Dump(), once);

    log.clear();
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kClassKey));
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kHandlerKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::ClassesRoot, L"CLSID"));
    EXPECT_TRUE(registry.KeyExists(RegRoot::ClassesRoot, L"*\\ShellEx\\ContextMenuHandlers"));
    EXPECT_EQ(log.back(), L"typelib unregister");

    // Nothing left to remove (a second uninstall): success, and the type library is not asked.
    log.clear();
    EXPECT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_EQ(Count(L"typelib unregister"), 0);
}

TEST_F(ModuleRegistration, StaleSubkeysAreReplacedAndQuotesInThePathStoredExactly)
{
    UsePath(L"C:\\Users\\O'Brien's tools\\KorvaneShellExt.dll");
    registry.CreatePath(RegRoot::ClassesRoot, kClassKey + L"\\Stale");
    registry.CreatePath(RegRoot::ClassesRoot, kHandlerKey + L"\\Stale");
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kClassKey + L"\\Stale"));
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kHandlerKey + L"\\Stale"));
    EXPECT_EQ(Text(RegRoot::ClassesRoot, kClassKey + L"\\InprocServer32"), platform.strModule);
}

TEST_F(ModuleRegistration, AFailingScriptIsRolledBackAndStopsBeforeTheTypeLibrary)
{
    registry.CreatePath(RegRoot::ClassesRoot, L"*");
    registry.DenyWrite(RegRoot::ClassesRoot, L"*");
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    // The class key was written in the same root block, so the rollback removed it again.
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kClassKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::ClassesRoot, L"CLSID"));
    EXPECT_EQ(Count(L"typelib load " + platform.strModule), 0);
}

struct VersionCase {
    const char* name;
    DWORD dwVersion;
    bool bApproval;
};

class ApprovalEntry : public ModuleRegistration, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(ApprovalEntry, IsWrittenAndRemovedOnlyOnNt4)
{
    platform.dwVersion = GetParam().dwVersion;
    registry.CreatePath(RegRoot::LocalMachine, kApproved);
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    auto value = registry.GetValue(RegRoot::LocalMachine, kApproved, kClsid);
    EXPECT_EQ(value.has_value(), GetParam().bApproval);
    if (value) {
        EXPECT_EQ(value->type, kv::kRegSz);
        EXPECT_EQ(value->bytes, CMemoryRegistry::StringBytes(L"Korvane Context Menu Handler"));
    }
    registry.SetString(RegRoot::LocalMachine, kApproved, kClsid, L"left by someone");
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_EQ(registry.GetValue(RegRoot::LocalMachine, kApproved, kClsid).has_value(), !GetParam().bApproval);
}

INSTANTIATE_TEST_SUITE_P(PlatformVersions, ApprovalEntry,
                         ::testing::Values(VersionCase{"Windows95", 0xC3B60004, false},
                                           VersionCase{"Windows98", 0xC0000A04, false},
                                           VersionCase{"WindowsMe", 0xC0005A04, false},
                                           VersionCase{"Nt40", 0x05650004, true},
                                           VersionCase{"Windows2000", 0x08930005, false},
                                           VersionCase{"Windows7", 0x1DB10106, false}),
                         [](const ::testing::TestParamInfo<VersionCase>& info) { return info.param.name; });

TEST_F(ModuleRegistration, Nt4WithoutWritableApprovalKeyRegistersNothing)
{
    platform.dwVersion = 0x05650004;
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), E_ACCESSDENIED); // the key is not created
    registry.CreatePath(RegRoot::LocalMachine, kApproved);
    registry.DenyWrite(RegRoot::LocalMachine, kApproved);
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), E_ACCESSDENIED);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kClassKey));
    EXPECT_EQ(Count(L"typelib load " + platform.strModule), 0);
    EXPECT_EQ(registry.OpenHandleCount(), 0u);
}

TEST_F(ModuleRegistration, ApprovalWrittenBeforeAFailingScriptStays)
{
    platform.dwVersion = 0x05650004;
    registry.CreatePath(RegRoot::LocalMachine, kApproved);
    registry.CreatePath(RegRoot::ClassesRoot, L"*");
    registry.DenyWrite(RegRoot::ClassesRoot, L"*");
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(registry.GetValue(RegRoot::LocalMachine, kApproved, kClsid).has_value());
}

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
    EXPECT_EQ(log.back(), L"typelib register C:\\Program Files\\Korvane\\KorvaneShellExt.tlb help C:\\Program Files\\Korvane\\");

    // Neither loads: the second load's error.
    typeLibs.loadable.clear();
    typeLibs.hrLoad = TYPE_E_INVALIDSTATE;
    EXPECT_EQ(g_ShellExtModule.RegisterTypeLib(), TYPE_E_INVALIDSTATE);

    // A module name without extension whose ".tlb" name would not fit.
    platform.strModule = L"C:\\" + std::wstring(254, L'k');
    EXPECT_EQ(g_ShellExtModule.RegisterTypeLib(), E_FAIL);
}

TEST_F(ModuleRegistration, ATypeLibraryThatFailsTakesBackTheClassesItFollows)
{
    typeLibs.hrRegister = TYPE_E_REGISTRYACCESS;
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), TYPE_E_REGISTRYACCESS);
    for (const std::wstring& strKey : ClassKeysOfTheTable())
        EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, strKey)) << strKey;
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kHandlerKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::ClassesRoot, L"*\\ShellEx\\ContextMenuHandlers")); // NoRemove
}

// 64-bit Windows keeps one handler key and one type library for both builds; the 32-bit build's
// class lies in the 32-bit view, which this 64-bit build reaches through KEY_WOW64_32KEY.
TEST_F(ModuleRegistration, SharedKeysStayWhileTheOtherBitnessIsRegistered)
{
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    const std::wstring strOtherClass = L"Wow6432Node\\" + kClassKey + L"\\InprocServer32";
    const std::wstring strOtherDll = L"C:\\Program Files (x86)\\Korvane\\KorvaneShellExt.dll";
    registry.SetString(RegRoot::ClassesRoot, strOtherClass, L"", strOtherDll);
    log.clear();
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kClassKey));
    EXPECT_EQ(Text(RegRoot::ClassesRoot, kHandlerKey), kClsid);
    EXPECT_EQ(Count(L"typelib unregister"), 0);

    // A failed registration's clean-up keeps them too.
    typeLibs.hrRegister = TYPE_E_REGISTRYACCESS;
    EXPECT_EQ(g_ShellExtModule.RegisterWithApproval(), TYPE_E_REGISTRYACCESS);
    EXPECT_EQ(Text(RegRoot::ClassesRoot, kHandlerKey), kClsid);
    typeLibs.hrRegister = S_OK;

    // The last build to go takes them. A view that is not kept apart shows this module's own class,
    // which is no other build.
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    registry.SetString(RegRoot::ClassesRoot, strOtherClass, L"", platform.strModule);
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kHandlerKey));
    EXPECT_EQ(log.back(), L"typelib unregister");

    // Where there is no other view (32-bit Windows) nothing is kept for it.
    platform.dwOtherView = 0;
    ASSERT_EQ(g_ShellExtModule.RegisterWithApproval(), S_OK);
    registry.SetString(RegRoot::ClassesRoot, strOtherClass, L"", strOtherDll);
    ASSERT_EQ(g_ShellExtModule.UnregisterWithApproval(), S_OK);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kHandlerKey));
}

TEST_F(ModuleRegistration, PerUserRegistrationWritesOnlyTheUsersClassesAndRemovesExactlyThat)
{
    platform.dwVersion = 0x05650004; // NT 4.0, where the machine-wide registration writes an approval entry
    registry.CreatePath(RegRoot::LocalMachine, kApproved);
    ASSERT_EQ(g_ShellExtModule.Install(TRUE, L"user"), S_OK);
    for (const std::wstring& strKey : ClassKeysOfTheTable()) {
        EXPECT_EQ(Text(RegRoot::CurrentUser, kUserClasses + strKey + L"\\InprocServer32"), platform.strModule);
        EXPECT_EQ(Text(RegRoot::CurrentUser, kUserClasses + strKey + L"\\InprocServer32", L"ThreadingModel"),
                  L"Apartment");
        EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, strKey)) << strKey;
    }
    EXPECT_EQ(Text(RegRoot::CurrentUser, kUserClasses + kHandlerKey), kClsid);
    EXPECT_FALSE(registry.KeyExists(RegRoot::ClassesRoot, kHandlerKey));
    EXPECT_TRUE(registry.ValueNames(RegRoot::LocalMachine, kApproved).empty());
    EXPECT_EQ(log.back(), L"typelib register " + platform.strModule + L" help C:\\Program Files\\Korvane\\ for user");

    ASSERT_EQ(g_ShellExtModule.Install(FALSE, L"USER"), S_OK);
    EXPECT_EQ(log.back(), L"typelib unregister for user");
    EXPECT_FALSE(registry.KeyExists(RegRoot::CurrentUser, kUserClasses + kClassKey));
    EXPECT_FALSE(registry.KeyExists(RegRoot::CurrentUser, kUserClasses + kHandlerKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::CurrentUser, kUserClasses + L"*\\ShellEx\\ContextMenuHandlers"));
    EXPECT_EQ(g_ShellExtModule.Install(FALSE, L"user"), S_OK); // nothing left: still success

    // A failing registration is rolled back in the user's classes as in the machine's.
    registry.CreatePath(RegRoot::CurrentUser, kUserClasses + L"*");
    registry.DenyWrite(RegRoot::CurrentUser, kUserClasses + L"*");
    EXPECT_EQ(g_ShellExtModule.Install(TRUE, L"user"), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(registry.KeyExists(RegRoot::CurrentUser, kUserClasses + kClassKey));
    EXPECT_TRUE(registry.KeyExists(RegRoot::CurrentUser, kUserClasses + L"CLSID"));
}

TEST_F(ModuleRegistration, InstallWithAnyOtherCommandTextChangesNothing)
{
    const std::string strBefore = registry.Dump();
    for (const wchar_t* pszCmdLine : {static_cast<const wchar_t*>(nullptr), L"", L"machine", L"user ", L"/i:user"}) {
        EXPECT_EQ(g_ShellExtModule.Install(TRUE, pszCmdLine), E_INVALIDARG);
        EXPECT_EQ(g_ShellExtModule.Install(FALSE, pszCmdLine), E_INVALIDARG);
    }
    EXPECT_EQ(registry.Dump(), strBefore);
    EXPECT_TRUE(log.empty());
}
} // namespace
