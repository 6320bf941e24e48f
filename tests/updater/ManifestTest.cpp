// The shipped kvupdate.exe carries the application manifest Windows reads when it starts the
// program (resource type 24, id 1), and the platform accepts it as an activation context. This
// test program has no manifest of its own, so what it activates comes from the updater's.
#include <gtest/gtest.h>
#include <regex>
#include <string>
#include "UniqueHandle.h"
#include "UpdaterDriver.h"
#include <shlwapi.h> // after windows.h, which it needs

namespace {
std::string ManifestOf(const std::string& strFile)
{
    CUniqueHandle<LibraryTraits> module(::LoadLibraryExA(
        strFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    HRSRC hResource =
        module ? ::FindResourceA(module.Get(), MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)) : nullptr;
    HGLOBAL hData = hResource ? ::LoadResource(module.Get(), hResource) : nullptr;
    const char* pData = hData ? static_cast<const char*>(::LockResource(hData)) : nullptr;
    return pData ? std::string(pData, ::SizeofResource(module.Get(), hResource)) : std::string();
}

bool Has(const std::string& strText, const char* pszPattern)
{
    return std::regex_search(strText, std::regex(pszPattern));
}

TEST(UpdaterManifest, AsInvokerForWindows7To11WithCommonControls6AndSystemDpiAwareness)
{
    const std::string strManifest = ManifestOf(ToWindowsPath(KV_UPDATE_EXE));
    ASSERT_FALSE(strManifest.empty());
    EXPECT_TRUE(Has(strManifest, R"(<requestedExecutionLevel\s+level="asInvoker")"));
    for (const char* pszId :
         {"35138b9a-5d96-4fbd-8e2d-a2440225f93a", "4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38",
          "1f676c76-80e1-4239-95bb-83d0f6d0da78", "8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a"}) {
        EXPECT_TRUE(Has(strManifest, (std::string(R"(<supportedOS\s+Id="\{)") + pszId + R"(\}")").c_str()))
            << pszId;
    }
    EXPECT_TRUE(Has(strManifest, R"(name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0")"));
    EXPECT_TRUE(Has(strManifest, R"(<dpiAware[^>]*>\s*true\s*</dpiAware>)"));
    EXPECT_TRUE(Has(strManifest, R"(<dpiAwareness[^>]*>\s*system\s*</dpiAwareness>)"));
    // Per-monitor awareness would need WM_DPICHANGED handled: the dialog does not.
    EXPECT_FALSE(Has(strManifest, R"(permonitor|PerMonitor)"));
}

TEST(UpdaterManifest, ActivatesCommonControlsVersion6AndSystemDpiAwareness)
{
    const std::string strExe = ToWindowsPath(KV_UPDATE_EXE);
    ACTCTXA context = {};
    context.cbSize = sizeof(context);
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = strExe.c_str();
    context.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE hContext = ::CreateActCtxA(&context);
    ASSERT_NE(INVALID_HANDLE_VALUE, hContext);
    ULONG_PTR ulCookie = 0;
    ASSERT_TRUE(::ActivateActCtx(hContext, &ulCookie));
    // The version 6 assembly's own file (wine's reports version 5 from DllGetVersion all the same).
    CUniqueHandle<LibraryTraits> comctl(::LoadLibraryA("comctl32.dll"));
    char szPath[MAX_PATH] = {};
    ASSERT_TRUE(comctl && ::GetModuleFileNameA(comctl.Get(), szPath, MAX_PATH));
    EXPECT_TRUE(::StrStrIA(szPath, "common-controls_6595b64144ccf1df_6.")) << szPath;
    comctl.Reset();
    ::DeactivateActCtx(0, ulCookie);

    // How the platform reads the DPI settings at start.
    WCHAR szValue[32] = {};
    SIZE_T cchWritten = 0;
    EXPECT_TRUE(::QueryActCtxSettingsW(0, hContext, L"http://schemas.microsoft.com/SMI/2005/WindowsSettings",
                                       L"dpiAware", szValue, ARRAYSIZE(szValue), &cchWritten));
    EXPECT_STREQ(L"true", szValue);
    ::ReleaseActCtx(hContext);
}

} // namespace
