// Wine's own regsvr32 registering and unregistering the real DLL, checked in the real registry.
#include <gtest/gtest.h>
#include "E2ESupport.h"
#include "UniqueHandle.h"

using namespace e2e;

namespace {
class Regsvr32 : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strDll = StageDll(L"kvcomserver-e2e");
        ASSERT_FALSE(m_strDll.empty());
    }
    std::wstring m_strDll;
};

TEST_F(Regsvr32, RegistersTheRegistryEffectTableAndTheTypeLibraryAndTwiceEqualsOnce)
{
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kClassKey), L"Korvane Context Menu Handler");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32"), m_strDll);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32", L"ThreadingModel"),
              L"Apartment");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kHandlerKey), kClsidText);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"), L"KorvaneShellExt 1.0 Type Library");
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0\\409\\win32"), m_strDll);

    std::wstring strOnce = DumpTree(HKEY_CLASSES_ROOT, kClassKey) + DumpTree(HKEY_CLASSES_ROOT, kHandlerKey) +
                           DumpTree(HKEY_CLASSES_ROOT, kTypeLibKey);
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
    EXPECT_EQ(DumpTree(HKEY_CLASSES_ROOT, kClassKey) + DumpTree(HKEY_CLASSES_ROOT, kHandlerKey) +
                  DumpTree(HKEY_CLASSES_ROOT, kTypeLibKey),
              strOnce);
}

TEST_F(Regsvr32, ReplacesStaleSubkeysOfTheClassAndHandlerKeys)
{
    for (std::wstring strKey : {std::wstring(kClassKey) + L"\\Stale", std::wstring(kHandlerKey) + L"\\Stale\\Deeper"}) {
        CUniqueRegKey hKey;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, strKey.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, hKey.Put(),
                                    nullptr),
                  ERROR_SUCCESS);
    }
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\Stale"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kHandlerKey) + L"\\Stale"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32"));
}

TEST_F(Regsvr32, StoresAPathWithASingleQuoteExactly)
{
    std::wstring strQuoted = StageDll(L"Korvane's build");
    ASSERT_FALSE(strQuoted.empty());
    ASSERT_EQ(RunRegsvr32(strQuoted, false), 0u);
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, std::wstring(kClassKey) + L"\\InprocServer32"), strQuoted);
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
}

TEST_F(Regsvr32, UnregisteringKeepsTheSharedKeys)
{
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
    ASSERT_EQ(RunRegsvr32(m_strDll, true), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"));
    for (const wchar_t* pszKept : {L"CLSID", L"*", L"*\\ShellEx", L"*\\ShellEx\\ContextMenuHandlers"})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, pszKept)) << pszKept;
    // Leave the machine registered for the client tests that follow.
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
}
} // namespace
