// The registrar on the real platform (wine's registry, resources of this test program, the system's
// text conversion and VarUI4FromStr): the class's script 102 registered, re-registered and
// unregistered under HKEY_CLASSES_ROOT, and the script language in a throwaway HKCU tree.
#include "Registrar.h"
#include "Script102.h"
#include "UniqueHandle.h"
#include "Win32RegistrarPlatform.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace {
const wchar_t kClsid[] = L"{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}";
const std::wstring kClassKey = std::wstring(L"CLSID\\") + kClsid;
const wchar_t kHandlerKey[] = L"*\\ShellEx\\ContextMenuHandlers\\Korvane";
const wchar_t kTestTree[] = L"Software\\KorvaneRegistrarTest";

struct RegValue {
    DWORD type = 0;
    std::vector<BYTE> bytes;
};

bool KeyExists(HKEY root, const std::wstring& path)
{
    CUniqueRegKey key;
    return ::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::optional<RegValue> QueryValue(HKEY root, const std::wstring& path, const wchar_t* name)
{
    CUniqueRegKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.Put()) != ERROR_SUCCESS)
        return std::nullopt;
    RegValue value;
    DWORD cb = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &value.type, nullptr, &cb) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(cb);
    if (::RegQueryValueExW(key.Get(), name, nullptr, &value.type, value.bytes.data(), &cb) != ERROR_SUCCESS)
        return std::nullopt;
    value.bytes.resize(cb);
    return value;
}

std::optional<std::wstring> QueryString(HKEY root, const std::wstring& path, const wchar_t* name)
{
    const std::optional<RegValue> value = QueryValue(root, path, name);
    if (!value || value->type != REG_SZ)
        return std::nullopt;
    std::wstring text(reinterpret_cast<const wchar_t*>(value->bytes.data()), value->bytes.size() / sizeof(wchar_t));
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

std::wstring ModulePath()
{
    wchar_t szPath[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, szPath, MAX_PATH);
    return szPath;
}

HRESULT RunScript102(bool bRegister)
{
    const std::wstring path = ModulePath();
    std::wstring escaped;
    for (wchar_t ch : path) {
        escaped += ch;
        if (ch == L'\'')
            escaped += L'\'';
    }
    CWin32RegistrarPlatform platform;
    CRegistrar registrar(platform);
    registrar.AddReplacement(L"APPID", L"");
    registrar.AddReplacement(L"Module", escaped.c_str());
    registrar.AddReplacement(L"Module_Raw", escaped.c_str());
    return registrar.RegisterFromResource(path.c_str(), 102, L"REGISTRY", bRegister);
}

void ExpectScript102Registered()
{
    EXPECT_EQ(L"Korvane Context Menu Handler", QueryString(HKEY_CLASSES_ROOT, kClassKey, nullptr));
    EXPECT_EQ(ModulePath(), QueryString(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", nullptr));
    EXPECT_EQ(L"Apartment", QueryString(HKEY_CLASSES_ROOT, kClassKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ(kClsid, QueryString(HKEY_CLASSES_ROOT, kHandlerKey, nullptr));
}

HRESULT RunText(const std::wstring& script, bool bRegister)
{
    CWin32RegistrarPlatform platform;
    return CRegistrar(platform).RegisterText(script.c_str(), bRegister);
}

std::wstring InTestTree(const std::wstring& lines)
{
    return L"HKCU { NoRemove Software { " + lines + L" } }";
}
} // namespace

TEST(RegistrarWin32, ScriptResourceIsTheClassScriptByteForByte)
{
    CWin32RegistrarPlatform platform;
    std::string bytes;
    ASSERT_EQ(S_OK, platform.LoadResourceBytes(ModulePath().c_str(), 102, L"REGISTRY", bytes));
    EXPECT_EQ(520u, bytes.size());
    EXPECT_EQ(std::string(kScript102), bytes);

    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND),
              platform.LoadResourceBytes(ModulePath().c_str(), 999, L"REGISTRY", bytes));
    EXPECT_TRUE(FAILED(platform.LoadResourceBytes(L"C:\\no\\such\\module.dll", 102, L"REGISTRY", bytes)));
    CRegistrar registrar(platform);
    EXPECT_TRUE(FAILED(registrar.RegisterFromResource(L"C:\\no\\such\\module.dll", 102, L"REGISTRY", true)));
}

TEST(RegistrarWin32, Script102RegistersReregistersAndUnregisters)
{
    // Stale subkeys from an earlier registration go with ForceRemove.
    CUniqueRegKey stale;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (kClassKey + L"\\Stale\\Deeper").c_str(), 0, nullptr,
                                               0, KEY_WRITE, nullptr, stale.Put(), nullptr));
    stale.Reset();
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_CLASSES_ROOT, (std::wstring(kHandlerKey) + L"\\Stale").c_str(), 0,
                                               nullptr, 0, KEY_WRITE, nullptr, stale.Put(), nullptr));
    stale.Reset();

    ASSERT_EQ(S_OK, RunScript102(true));
    ExpectScript102Registered();
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey + L"\\Stale"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kHandlerKey) + L"\\Stale"));

    ASSERT_EQ(S_OK, RunScript102(true));
    ExpectScript102Registered();

    ASSERT_EQ(S_OK, RunScript102(false));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
    for (const wchar_t* kept : {L"CLSID", L"*", L"*\\ShellEx", L"*\\ShellEx\\ContextMenuHandlers"})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kept)) << testing::PrintToString(std::wstring(kept));

    EXPECT_EQ(S_OK, RunScript102(false)); // nothing left to remove is no error
}

TEST(RegistrarWin32, ValueTypesAndErrorsOnTheRealRegistry)
{
    const std::wstring tree = kTestTree;
    ASSERT_EQ(S_OK, RunText(InTestTree(L"ForceRemove KorvaneRegistrarTest = s 'it''s' { val D = d '4000000000' "
                                       L"val B = b '0a1B' val M = m 'a\\0b' Sub { Deeper } }"),
                            true));
    EXPECT_EQ(L"it's", QueryString(HKEY_CURRENT_USER, tree, nullptr));
    const std::optional<RegValue> dword = QueryValue(HKEY_CURRENT_USER, tree, L"D");
    ASSERT_TRUE(dword);
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), dword->type);
    EXPECT_EQ((std::vector<BYTE>{0x00, 0x28, 0x6B, 0xEE}), dword->bytes);
    const std::optional<RegValue> binary = QueryValue(HKEY_CURRENT_USER, tree, L"B");
    ASSERT_TRUE(binary);
    EXPECT_EQ((std::vector<BYTE>{0x0A, 0x1B}), binary->bytes);
    const std::optional<RegValue> multi = QueryValue(HKEY_CURRENT_USER, tree, L"M");
    ASSERT_TRUE(multi);
    EXPECT_EQ(static_cast<DWORD>(REG_MULTI_SZ), multi->type);
    EXPECT_EQ((std::vector<BYTE>{'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}), multi->bytes);

    // The number conversion is the system's: text that is no number fails, and the block is taken back.
    EXPECT_TRUE(FAILED(RunText(InTestTree(L"KorvaneRegistrarTest { NotANumber { val D = d 'many' } }"), true)));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree + L"\\NotANumber"));

    // A key that carries a subkey the script does not know is refused by the registry itself.
    const std::wstring script = InTestTree(L"KorvaneRegistrarTest { Sub }");
    EXPECT_TRUE(FAILED(RunText(script, false)));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, tree + L"\\Sub\\Deeper"));

    // ForceRemove takes the whole tree away on the real registry too.
    ASSERT_EQ(S_OK, RunText(InTestTree(L"ForceRemove KorvaneRegistrarTest"), true));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree + L"\\Sub"));
    ASSERT_EQ(S_OK, RunText(InTestTree(L"KorvaneRegistrarTest"), false));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, tree));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, L"Software"));
}
