// Windows 11 with the extension's package registered, in a process its server loads into: the
// classic menu adds nothing. Neither Windows 11, package identity nor a 32-bit process exist
// under wine, so the build number, the process's machine type and the two package functions are
// the test's own (SetPackagedMenuCalls); the menu itself is real.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <string>
#include "DataObjectDouble.h"
#include "KorvaneShellExt.h"
#include "PackageIdentity.h"
#include "PackagedMenuCheck.h"
#include "UniqueHandle.h"

namespace {
const wchar_t kFamily[] = L"HaldenForge.Korvane.ShellExt_0123456789abc";
DWORD g_dwBuild = 0;
USHORT g_nMachine = IMAGE_FILE_MACHINE_AMD64;
UINT32 g_nPackages = 0;
std::wstring g_strName, g_strPublisher, g_strFamilyAsked;

DWORD Build()
{
    return g_dwBuild;
}

USHORT Machine()
{
    return g_nMachine;
}

LONG WINAPI FamilyNameFromId(const CPackageIdentity* pId, UINT32* pcchName, PWSTR pszName)
{
    g_strName = pId->name;
    g_strPublisher = pId->publisher;
    if (*pcchName < ARRAYSIZE(kFamily))
        return ERROR_INSUFFICIENT_BUFFER;
    ::wcscpy_s(pszName, *pcchName, kFamily);
    return ERROR_SUCCESS;
}

LONG WINAPI PackagesByFamily(PCWSTR pszFamily, UINT32* pnCount, PWSTR*, UINT32* pcchBuffer, WCHAR*)
{
    g_strFamilyAsked = pszFamily;
    *pnCount = g_nPackages;
    *pcchBuffer = g_nPackages * 100;
    return g_nPackages ? ERROR_INSUFFICIENT_BUFFER : ERROR_SUCCESS;
}

class PackagedMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_old = SetPackagedMenuCalls({&Build, &Machine, &FamilyNameFromId, &PackagesByFamily});
    }
    void TearDown() override { SetPackagedMenuCalls(m_old); }
    CPackagedMenuCalls m_old = {};
};

TEST_F(PackagedMenu, StepsAsideOnlyWhereThePackagedCommandCanShow)
{
    struct Case {
        const char* name;
        DWORD dwBuild;
        USHORT nMachine;
        UINT32 nPackages;
        bool bExpected;
    };
    const Case cases[] = {
        {"Windows 11, x64 process, package registered", 22000, IMAGE_FILE_MACHINE_AMD64, 1, true},
        {"no package registered", 22631, IMAGE_FILE_MACHINE_AMD64, 0, false},
        {"Windows 10 22H2: its menu shows no packaged command", 19045, IMAGE_FILE_MACHINE_AMD64, 1, false},
        {"32-bit program's file dialog: the x64 server cannot load", 22631, IMAGE_FILE_MACHINE_I386, 1,
         false},
        {"Arm64 process: the x64 server cannot load", 22631, IMAGE_FILE_MACHINE_ARM64, 1, false},
    };
    for (const Case& c : cases) {
        g_dwBuild = c.dwBuild;
        g_nMachine = c.nMachine;
        g_nPackages = c.nPackages;
        EXPECT_EQ(IsPackagedMenuRegistered(), c.bExpected) << c.name;
    }
    EXPECT_EQ(g_strName, KV_PACKAGE_NAME);
    EXPECT_EQ(g_strPublisher, KV_PACKAGE_PUBLISHER);
    EXPECT_EQ(g_strFamilyAsked, kFamily);

    // A system without the package functions (before Windows 8; wine) has no package; the x64
    // build answers the system's own question with the server's machine, so it can step aside.
    g_nPackages = 1;
    g_nMachine = IMAGE_FILE_MACHINE_AMD64;
    SetPackagedMenuCalls({&Build, &Machine, nullptr, nullptr});
    EXPECT_FALSE(IsPackagedMenuRegistered());
    const CPackagedMenuCalls system = SystemPackagedMenuCalls();
    EXPECT_EQ(system.pfnGetProcessMachine(), IMAGE_FILE_MACHINE_AMD64);
    SetPackagedMenuCalls(system);
    EXPECT_FALSE(IsPackagedMenuRegistered());
}

TEST_F(PackagedMenu, TheClassicMenuAddsNothingWhileThePackageShowsTheCommands)
{
    CUniqueRegKey hKey;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, g_szProductKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                                hKey.Put(), nullptr),
              ERROR_SUCCESS);
    const DWORD dwEnabled = 1;
    ASSERT_EQ(::RegSetValueExW(hKey.Get(), L"ContextMenuEnabled", 0, REG_DWORD,
                               reinterpret_cast<const BYTE*>(&dwEnabled), sizeof dwEnabled),
              ERROR_SUCCESS);
    wchar_t szFile[MAX_PATH];
    ASSERT_NE(::GetModuleFileNameW(nullptr, szFile, MAX_PATH), 0u);

    g_dwBuild = 22631;
    g_nMachine = IMAGE_FILE_MACHINE_AMD64;
    for (UINT32 nPackages : {1u, 0u}) {
        g_nPackages = nPackages;
        IShellExtInit* pInit = nullptr;
        ASSERT_EQ(
            CKorvaneShellExt::CreateInstance(nullptr, IID_IShellExtInit, reinterpret_cast<void**>(&pInit)),
            S_OK);
        CDataObjectDouble* pData = new CDataObjectDouble({szFile});
        EXPECT_EQ(pInit->Initialize(nullptr, pData, nullptr), S_OK);
        pData->Release();
        IContextMenu* pMenu = nullptr;
        ASSERT_EQ(pInit->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&pMenu)), S_OK);
        CUniqueMenu hMenu(::CreatePopupMenu());
        const HRESULT hr = pMenu->QueryContextMenu(hMenu.Get(), 0, 1, 100, CMF_NORMAL);
        EXPECT_EQ(HRESULT_CODE(hr) == 0, nPackages == 1) << "packages: " << nPackages;
        EXPECT_EQ(::GetMenuItemCount(hMenu.Get()) == 0, nPackages == 1) << "packages: " << nPackages;
        pMenu->Release();
        pInit->Release();
    }
    ::RegDeleteValueW(hKey.Get(), L"ContextMenuEnabled");
}
} // namespace
