// CEMRegistryKey against the real registry: creation, read limits and types.
#include <gtest/gtest.h>
#include "EMRegistryKey.h"
#include "ShellExtFixture.h"

namespace {
const wchar_t kTestKey[] = L"Software\\Halden Forge\\Korvane\\KeyTest";

class RegistryKeyTest : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey); }
    void TearDown() override { reg::DeleteProductKey(); }
};
} // namespace

TEST_F(RegistryKeyTest, QueryOpensOnlyExistingKeysCreateMakesThem)
{
    CEMRegistryKey key;
    EXPECT_FALSE(key.OpenKeyForQuery(kTestKey));
    EXPECT_EQ(nullptr, key.GetHandle());
    EXPECT_EQ(ERROR_SUCCESS, key.CreateKey(HKEY_CURRENT_USER, kTestKey));
    EXPECT_EQ(ERROR_SUCCESS, key.SetString(L"Name", L"C:\\a b\\c.txt"));
    key.Close();
    EXPECT_EQ(nullptr, key.GetHandle());
    ASSERT_TRUE(key.OpenKeyForQuery(kTestKey));
    EXPECT_EQ(L"C:\\a b\\c.txt", std::wstring(key.QueryString(L"Name", L"dflt")));
    EXPECT_EQ(L"dflt", std::wstring(key.QueryString(L"Missing", L"dflt")));
    EXPECT_EQ(7u, key.QueryDword(L"Missing", 7));
    // Opened for query only: writing is refused by the system.
    EXPECT_NE(ERROR_SUCCESS, key.SetString(L"Other", L"x"));
}

TEST_F(RegistryKeyTest, StringsUpTo199CharactersWhateverTheirType)
{
    CEMRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.CreateKey(HKEY_CURRENT_USER, kTestKey));
    std::wstring s199(199, L'a');
    key.SetString(L"S199", s199.c_str());
    key.SetString(L"S200", (s199 + L"b").c_str());
    DWORD dw = 0x00420041; // "AB" as UTF-16
    ::RegSetValueExW(key.GetHandle(), L"Dword", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dw), sizeof(dw));
    EXPECT_EQ(s199, std::wstring(key.QueryString(L"S199", L"")));
    EXPECT_EQ(L"", std::wstring(key.QueryString(L"S200", L"")));
    EXPECT_EQ(L"AB", std::wstring(key.QueryString(L"Dword", L"")));
    // The first four bytes of a string value, as an integer.
    EXPECT_EQ(9u, key.QueryDword(L"S199", 9)); // 400 bytes: too long, the default
    key.SetString(L"Short", L"1");
    EXPECT_EQ(0x31u, key.QueryDword(L"Short", 9));
}
