// The context-menu class's script against the in-memory registry: the registry effect of
// registration step by step, registering twice, unregistering, and a module path with a quote.
#include "RegistrarTestSupport.h"
#include "Script102.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace kv;

namespace {
constexpr RegRoot HKCR = RegRoot::ClassesRoot;
const wchar_t kClsid[] = L"{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}";
const wchar_t kModule[] = L"C:\\Program Files\\Korvane\\KorvaneShellExt.dll";

// Records the registry changes in the order they are made (keys by path below HKCR).
class CRecordingRegistry : public CMemoryRegistry {
public:
    long CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override
    {
        const long error = CMemoryRegistry::CreateKey(parent, name, access, result);
        if (error == kErrorSuccess)
            m_paths[*result] = PathOf(parent, name);
        m_log.push_back(L"open or create " + PathOf(parent, name));
        return error;
    }
    long OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override
    {
        const long error = CMemoryRegistry::OpenKey(parent, name, access, result);
        if (error == kErrorSuccess) {
            m_paths[*result] = PathOf(parent, name);
            if ((access & kKeyWrite) == kKeyWrite && (access & kKeyRead) == kKeyRead)
                m_log.push_back(L"open or create " + PathOf(parent, name));
        }
        return error;
    }
    long SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                  std::uint32_t cbData) override
    {
        m_log.push_back(L"set " + KeyPath(key) + L"[" + (name ? name : L"") + L"]");
        return CMemoryRegistry::SetValue(key, name, type, data, cbData);
    }
    long DeleteValue(RegKey key, const wchar_t* name) override
    {
        const long error = CMemoryRegistry::DeleteValue(key, name);
        if (error == kErrorSuccess)
            m_log.push_back(L"delete value " + KeyPath(key) + L"[" + name + L"]");
        return error;
    }
    long DeleteKey(RegKey parent, const wchar_t* name) override
    {
        const long error = CMemoryRegistry::DeleteKey(parent, name);
        if (error == kErrorSuccess)
            m_log.push_back(L"delete " + PathOf(parent, name));
        return error;
    }
    long CloseKey(RegKey key) override
    {
        m_paths.erase(key);
        return CMemoryRegistry::CloseKey(key);
    }

    std::vector<std::wstring> m_log;

private:
    // The key's path with a closing backslash, ready for a subkey name.
    std::wstring PathOf(RegKey key, const wchar_t* name)
    {
        const std::wstring path = KeyPath(key);
        if (*name == L'\0')
            return path;
        return (path.empty() ? path : path + L"\\") + name;
    }
    std::wstring KeyPath(RegKey key)
    {
        const auto it = m_paths.find(key);
        return it == m_paths.end() ? std::wstring() : it->second;
    }
    std::map<RegKey, std::wstring> m_paths;
};

HResult RunScript102(IRegistrarPlatform& platform, const wchar_t* modulePath, bool bRegister)
{
    std::wstring escaped;
    for (const wchar_t* pch = modulePath; *pch != L'\0'; ++pch) {
        escaped += *pch;
        if (*pch == L'\'')
            escaped += L'\'';
    }
    CRegistrar registrar(platform);
    registrar.AddReplacement(L"APPID", L"");
    registrar.AddReplacement(L"Module", escaped.c_str());
    registrar.AddReplacement(L"Module_Raw", escaped.c_str());
    const std::wstring text(kScript102, kScript102 + sizeof kScript102 - 1);
    return registrar.RegisterText(text.c_str(), bRegister);
}

void ExpectRegistered(const CMemoryRegistry& registry, const std::wstring& modulePath)
{
    const std::wstring classKey = std::wstring(L"CLSID\\") + kClsid;
    EXPECT_EQ(L"Korvane Context Menu Handler", registry.GetString(HKCR, classKey, L""));
    EXPECT_EQ(std::vector<std::wstring>{L"InprocServer32"}, registry.SubKeys(HKCR, classKey));
    EXPECT_EQ(std::vector<std::wstring>{L""}, registry.ValueNames(HKCR, classKey));
    EXPECT_EQ(modulePath, registry.GetString(HKCR, classKey + L"\\InprocServer32", L""));
    EXPECT_EQ(L"Apartment", registry.GetString(HKCR, classKey + L"\\InprocServer32", L"ThreadingModel"));
    EXPECT_EQ((std::vector<std::wstring>{L"", L"ThreadingModel"}), registry.ValueNames(HKCR, classKey + L"\\InprocServer32"));
    EXPECT_EQ(kClsid, registry.GetString(HKCR, L"*\\ShellEx\\ContextMenuHandlers\\Korvane", L""));
    EXPECT_EQ(std::vector<std::wstring>{}, registry.SubKeys(HKCR, L"*\\ShellEx\\ContextMenuHandlers\\Korvane"));
}
} // namespace

TEST(Script102Memory, RegistrationFollowsTheEffectTableInOrder)
{
    CRecordingRegistry registry;
    ASSERT_EQ(kS_OK, RunScript102(registry, kModule, true));
    ExpectRegistered(registry, kModule);
    const std::wstring cls = std::wstring(L"CLSID\\") + kClsid;
    const std::vector<std::wstring> expected = {
        L"open or create CLSID",
        L"open or create " + cls,
        L"set " + cls + L"[]",
        L"open or create " + cls + L"\\InprocServer32",
        L"set " + cls + L"\\InprocServer32[]",
        L"set " + cls + L"\\InprocServer32[ThreadingModel]",
        L"open or create *",
        L"open or create *\\ShellEx",
        L"open or create *\\ShellEx\\ContextMenuHandlers",
        L"open or create *\\ShellEx\\ContextMenuHandlers\\Korvane",
        L"set *\\ShellEx\\ContextMenuHandlers\\Korvane[]",
    };
    EXPECT_EQ(expected, registry.m_log);

    // Registered again: ForceRemove first deletes the class and handler keys with their subkeys.
    registry.m_log.clear();
    ASSERT_EQ(kS_OK, RunScript102(registry, kModule, true));
    const auto& log = registry.m_log;
    const auto at = [&](const std::wstring& entry) { return std::find(log.begin(), log.end(), entry) - log.begin(); };
    const auto count = static_cast<std::ptrdiff_t>(log.size());
    ASSERT_LT(at(L"delete " + cls + L"\\InprocServer32"), at(L"delete " + cls));
    ASSERT_LT(at(L"delete " + cls), at(L"set " + cls + L"[]"));
    ASSERT_LT(at(L"delete *\\ShellEx\\ContextMenuHandlers\\Korvane"), at(L"set *\\ShellEx\\ContextMenuHandlers\\Korvane[]"));
    EXPECT_LT(at(L"set *\\ShellEx\\ContextMenuHandlers\\Korvane[]"), count);
    EXPECT_EQ(0u, registry.OpenHandleCount());
}

TEST(Script102Memory, RegisteringTwiceEqualsOnceAndStaleSubkeysGo)
{
    CMemoryRegistry once;
    ASSERT_EQ(kS_OK, RunScript102(once, kModule, true));

    CMemoryRegistry twice;
    twice.SetString(HKCR, std::wstring(L"CLSID\\") + kClsid + L"\\Stale", L"", L"old");
    twice.SetString(HKCR, L"*\\ShellEx\\ContextMenuHandlers\\Korvane\\Stale", L"x", L"old");
    ASSERT_EQ(kS_OK, RunScript102(twice, kModule, true));
    ASSERT_EQ(kS_OK, RunScript102(twice, kModule, true));
    EXPECT_EQ(once.Dump(), twice.Dump());
}

TEST(Script102Memory, UnregisteringKeepsTheSharedKeysAndFindsNoErrorTwice)
{
    CRecordingRegistry registry;
    registry.SetString(HKCR, L"*\\ShellEx\\ContextMenuHandlers\\Other", L"", L"{other}");
    ASSERT_EQ(kS_OK, RunScript102(registry, kModule, true));
    registry.m_log.clear();
    ASSERT_EQ(kS_OK, RunScript102(registry, kModule, false));
    const std::wstring cls = std::wstring(L"CLSID\\") + kClsid;
    const std::vector<std::wstring> expected = {
        L"delete value " + cls + L"\\InprocServer32[ThreadingModel]",
        L"delete " + cls + L"\\InprocServer32",
        L"delete " + cls,
        L"delete *\\ShellEx\\ContextMenuHandlers\\Korvane",
    };
    EXPECT_EQ(expected, registry.m_log);
    EXPECT_TRUE(registry.KeyExists(HKCR, L"CLSID"));
    EXPECT_EQ(std::vector<std::wstring>{L"Other"}, registry.SubKeys(HKCR, L"*\\ShellEx\\ContextMenuHandlers"));

    const std::string afterFirst = registry.Dump();
    registry.m_log.clear();
    EXPECT_EQ(kS_OK, RunScript102(registry, kModule, false));
    EXPECT_TRUE(registry.m_log.empty());
    EXPECT_EQ(afterFirst, registry.Dump());
}

TEST(Script102Memory, ModulePathWithAQuoteIsStoredAsItReads)
{
    CMemoryRegistry registry;
    const wchar_t path[] = L"C:\\Users\\o'brien\\it''s\\KorvaneShellExt.dll";
    ASSERT_EQ(kS_OK, RunScript102(registry, path, true));
    ExpectRegistered(registry, path);
}
