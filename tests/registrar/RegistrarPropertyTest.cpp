// Generated scripts: registering into an empty registry and unregistering again leaves exactly the
// NoRemove keys, and registering twice leaves the same registry as registering once.
#include "RegistrarTestSupport.h"

#include <cwctype>
#include <iterator>
#include <random>
#include <set>
#include <string>

using namespace kv;

namespace {
class CScriptGenerator {
public:
    explicit CScriptGenerator(unsigned seed) : m_random(seed) {}

    // One root block; the paths of the keys it marks NoRemove go to noRemoveKeys.
    std::wstring Generate(std::set<std::wstring>& noRemoveKeys)
    {
        const int root = Below(3);
        m_root = root == 0 ? RegRoot::ClassesRoot : root == 1 ? RegRoot::CurrentUser : RegRoot::LocalMachine;
        std::wstring script = root == 0 ? L"HKCR" : root == 1 ? L"hkey_current_user" : L"HKLM";
        script += L"\r\n{\r\n";
        Lines(script, L"", 1, true, noRemoveKeys);
        return script + L"}\r\n";
    }

    RegRoot Root() const { return m_root; }

private:
    void Lines(std::wstring& out, const std::wstring& path, int depth, bool bAncestorsNoRemove,
               std::set<std::wstring>& noRemoveKeys)
    {
        const std::wstring indent(static_cast<std::size_t>(depth) * 4, L' ');
        std::set<std::wstring> used;
        const int values = depth == 1 ? 0 : Below(3);
        for (int i = 0; i < values; ++i) {
            const std::wstring name = UniqueName(used);
            out += indent + Pick({L"val ", L"Val ", L"VAL "}) + Quote(name) + L" = " + Value() + L"\r\n";
        }
        const int keys = depth > 4 ? 0 : 1 + Below(3);
        for (int i = 0; i < keys; ++i) {
            const std::wstring name = UniqueName(used);
            const std::wstring keyPath = path.empty() ? name : path + L"\\" + name;
            const bool bNoRemove = bAncestorsNoRemove && Below(2) == 0;
            out += indent;
            if (bNoRemove) {
                out += Pick({L"NoRemove ", L"noremove "});
                noRemoveKeys.insert(keyPath);
            } else if (Below(3) == 0) {
                out += Pick({L"ForceRemove ", L"forceremove "});
            }
            out += Quote(name);
            if (Below(2) == 0)
                out += L" = " + Value();
            if (Below(3) != 0) {
                out += L"\r\n" + indent + L"{\r\n";
                Lines(out, keyPath, depth + 1, bNoRemove, noRemoveKeys);
                out += indent + L"}";
            }
            out += L"\r\n";
        }
    }

    std::wstring UniqueName(std::set<std::wstring>& used)
    {
        static const wchar_t* const kNames[] = {
            L"Alpha", L"beta", L"Gamma Delta", L"it's", L"two  blanks", L"'quoted'", L"InprocServer32",
            L"ThreadingModel", L"*", L"ShellEx", L"x.y", L"x{5C1A7D3E-90B2}", L"Ende=", L"100%",
        };
        for (;;) {
            std::wstring name = kNames[Below(static_cast<int>(std::size(kNames)))];
            if (Below(3) == 0)
                name += std::to_wstring(Below(100));
            std::wstring folded;
            for (wchar_t ch : name)
                folded += static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(ch)));
            if (used.insert(folded).second)
                return name;
        }
    }

    // Names are quoted when they need it (blanks, quotes) and sometimes when they do not.
    std::wstring Quote(const std::wstring& text)
    {
        const bool bNeeds = text.empty() || text.find_first_of(L" '%") != std::wstring::npos;
        if (!bNeeds && Below(2) == 0)
            return text;
        std::wstring quoted = L"'";
        for (wchar_t ch : text) {
            quoted += ch;
            if (ch == L'\'')
                quoted += L'\'';
            if (ch == L'%')
                quoted += L'%';
        }
        return quoted + L"'";
    }

    std::wstring Value()
    {
        switch (Below(4)) {
        case 0:
            return Pick({L"s ", L"S "}) + Quote(Pick({L"text", L"Korvane Context Menu Handler", L"o'brien", L""}));
        case 1:
            return L"m 'one\\0two\\0three'";
        case 2:
            return L"d '" + std::to_wstring(m_random()) + L"'";
        default:
            return L"b '" + Pick({L"", L"00", L"0a1B", L"DEADbeef01"}) + L"'";
        }
    }

    int Below(int n) { return static_cast<int>(m_random() % static_cast<unsigned>(n)); }
    std::wstring Pick(std::initializer_list<const wchar_t*> choices)
    {
        return *(choices.begin() + Below(static_cast<int>(choices.size())));
    }

    std::mt19937 m_random;
    RegRoot m_root = RegRoot::ClassesRoot;
};

void CollectKeys(const CMemoryRegistry& registry, RegRoot root, const std::wstring& path, std::set<std::wstring>& keys)
{
    for (const std::wstring& name : registry.SubKeys(root, path)) {
        const std::wstring child = path.empty() ? name : path + L"\\" + name;
        keys.insert(child);
        CollectKeys(registry, root, child, keys);
    }
}
} // namespace

TEST(RegistrarProperty, UnregisteringLeavesTheNoRemoveKeysAndRegisteringIsIdempotent)
{
    for (unsigned seed = 1; seed <= 300; ++seed) {
        SCOPED_TRACE("seed " + std::to_string(seed));
        CScriptGenerator generator(seed);
        std::set<std::wstring> noRemoveKeys;
        const std::wstring script = generator.Generate(noRemoveKeys);
        SCOPED_TRACE(testing::PrintToString(script));

        CMemoryRegistry once;
        ASSERT_HR(kS_OK, CRegistrar(once).RegisterText(script.c_str(), true));
        const std::string registeredOnce = once.Dump();

        CMemoryRegistry twice;
        ASSERT_HR(kS_OK, CRegistrar(twice).RegisterText(script.c_str(), true));
        ASSERT_HR(kS_OK, CRegistrar(twice).RegisterText(script.c_str(), true));
        EXPECT_EQ(registeredOnce, twice.Dump());

        ASSERT_HR(kS_OK, CRegistrar(once).RegisterText(script.c_str(), false));
        std::set<std::wstring> remaining;
        for (RegRoot root : {RegRoot::ClassesRoot, RegRoot::CurrentUser, RegRoot::LocalMachine})
            CollectKeys(once, root, L"", remaining);
        EXPECT_EQ(noRemoveKeys, remaining);
        for (const std::wstring& key : remaining)
            for (const std::wstring& name : once.ValueNames(generator.Root(), key))
                EXPECT_EQ(L"", name) << "only a NoRemove key's own default value may stay";

        ASSERT_HR(kS_OK, CRegistrar(once).RegisterText(script.c_str(), false));
        EXPECT_EQ(0u, once.OpenHandleCount());
        EXPECT_EQ(0u, twice.OpenHandleCount());
    }
}
