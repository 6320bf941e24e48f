// Windows 11 with the extension's package registered: the classic menu adds nothing. Neither
// Windows 11 nor package identity exist under wine, so the build number and the two package
// functions are the test's own (SetPackagedMenuCalls); the menu itself is real.
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
UINT32 g_nPackages = 0;
std::wstring g_strName, g_strPublisher, g_strFamilyAsked;

DWORD Build()
{
    return g_dwBuild;
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
    void SetUp() override { m_old = SetPackagedMenuCalls({&Build, &FamilyNameFromId, &PackagesByFamily}); }
    void TearDown() override { SetPackagedMenuCalls(m_old); }
    CPackagedMenuCalls m_old = {};
};

TEST_F(PackagedMenu, CountsOnlyOnWindows11WithAPackageOfTheExtensionsFamily)
{
    g_nPackages = 1;
    g_dwBuild = 19045; // Windows 10 22H2: its menu shows no packaged commands
    EXPECT_FALSE(IsPackagedMenuRegistered());
    g_dwBuild = 22000;
    EXPECT_TRUE(IsPackagedMenuRegistered());
    EXPECT_EQ(g_strName, KV_PACKAGE_NAME);
    EXPECT_EQ(g_strPublisher, KV_PACKAGE_PUBLISHER);
    EXPECT_EQ(g_strFamilyAsked, kFamily);
    g_nPackages = 0;
    EXPECT_FALSE(IsPackagedMenuRegistered());

    // A system without the package functions (before Windows 8; wine) has no package.
    g_nPackages = 1;
    SetPackagedMenuCalls({&Build, nullptr, nullptr});
    EXPECT_FALSE(IsPackagedMenuRegistered());
    SetPackagedMenuCalls(SystemPackagedMenuCalls());
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
