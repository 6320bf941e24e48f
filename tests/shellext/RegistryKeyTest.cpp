// CEMRegistryKey against the real registry: creation, lengths and types.
#include <gtest/gtest.h>
#include <atomic>
#include <thread>
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

TEST_F(RegistryKeyTest, StringsOfAnyLengthWhateverTheirType)
{
    CEMRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.CreateKey(HKEY_CURRENT_USER, kTestKey));
    std::wstring sLong(32000, L'a');
    key.SetString(L"Long", sLong.c_str());
    DWORD dw = 0x00420041; // "AB" as UTF-16
    ::RegSetValueExW(key.GetHandle(), L"Dword", 0, REG_DWORD, reinterpret_cast<BYTE*>(&dw), sizeof(dw));
    const wchar_t expand[] = L"%SystemRoot%\\x";
    ::RegSetValueExW(key.GetHandle(), L"Expand", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(expand),
                     sizeof(expand));
    DWORD dwType = 0;
    EXPECT_EQ(sLong, std::wstring(key.QueryString(L"Long", L"", &dwType)));
    EXPECT_EQ(static_cast<DWORD>(REG_SZ), dwType);
    EXPECT_EQ(L"AB", std::wstring(key.QueryString(L"Dword", L"")));
    EXPECT_EQ(expand, std::wstring(key.QueryString(L"Expand", L"", &dwType))); // read as stored
    EXPECT_EQ(static_cast<DWORD>(REG_EXPAND_SZ), dwType);
    EXPECT_EQ(L"dflt", std::wstring(key.QueryString(L"Missing", L"dflt", &dwType)));
    EXPECT_EQ(static_cast<DWORD>(REG_NONE), dwType);
    // The first four bytes of a string value, as an integer.
    EXPECT_EQ(9u, key.QueryDword(L"Long", 9)); // too long, the default
    key.SetString(L"Short", L"1");
    EXPECT_EQ(0x31u, key.QueryDword(L"Short", 9));
}

// Another program rewrites the value while it is read: each read gives one whole value, never a
// cut one, and a value that grew after its size was asked is read at its new size.
TEST_F(RegistryKeyTest, StringRewrittenWhileReadIsReadWhole)
{
    CEMRegistryKey key;
    ASSERT_EQ(ERROR_SUCCESS, key.CreateKey(HKEY_CURRENT_USER, kTestKey));
    const std::wstring sShort(10, L's'), sLong(3000, L'l');
    key.SetString(L"Moving", sShort.c_str());
    std::atomic<bool> bStop{false};
    std::thread writer([&] {
        CEMRegistryKey own;
        own.CreateKey(HKEY_CURRENT_USER, kTestKey);
        for (int i = 0; !bStop; ++i)
            own.SetString(L"Moving", (i % 2 ? sShort : sLong).c_str());
    });
    int nLong = 0, nOther = 0;
    for (int i = 0; i < 3000; ++i) {
        std::wstring value(key.QueryString(L"Moving", L"dflt"));
        if (value == sLong)
            ++nLong;
        else if (value != sShort)
            ++nOther;
    }
    bStop = true;
    writer.join();
    EXPECT_EQ(0, nOther);
    EXPECT_GT(nLong, 0);
}
