// The script language against the in-memory registry: replacements, tokens, value types, the
// grammar's errors, ForceRemove/Delete, rollback and the unregistration walk.
#include "RegistrarTestSupport.h"

#include <cstring>

using namespace kv;

namespace {
std::wstring Repeat(wchar_t ch, std::size_t count) { return std::wstring(count, ch); }
} // namespace

TEST_F(MemoryRegistrarTest, ReplacementPassHandlesPercentSignsAndNames)
{
    EXPECT_HR(kS_OK, Run(L"HKCR { K = s '100%% %module%' }"));
    EXPECT_EQ(L"100% C:\\Program Files\\Korvane\\KorvaneShellExt.dll", m_registry.GetString(HKCR, L"K", L""));

    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K = s '%UNDEFINED%' }"));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K = s '%MODULE' }"));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K = s 'x' } %"));

    CRegistrar registrar(m_registry);
    ASSERT_HR(kS_OK, registrar.AddReplacement(Repeat(L'N', 31).c_str(), L"fits"));
    EXPECT_HR(kS_OK, registrar.RegisterText((L"HKCR { L = s '%" + Repeat(L'n', 31) + L"%' }").c_str(), true));
    EXPECT_EQ(L"fits", m_registry.GetString(HKCR, L"L", L""));
    EXPECT_HR(kE_FAIL, registrar.RegisterText((L"HKCR { L = s '%" + Repeat(L'N', 32) + L"%' }").c_str(), true));
}

TEST_F(MemoryRegistrarTest, ReplacementTableKeepsTheFirstPairAndRefusesNulls)
{
    CRegistrar registrar(m_registry);
    EXPECT_HR(kE_INVALIDARG, registrar.AddReplacement(nullptr, L"v"));
    EXPECT_HR(kE_INVALIDARG, registrar.AddReplacement(L"n", nullptr));
    ASSERT_HR(kS_OK, registrar.AddReplacement(L"Name", L"first"));
    ASSERT_HR(kS_OK, registrar.AddReplacement(L"NAME", L"second"));
    EXPECT_HR(kS_OK, registrar.RegisterText(L"HKCR { K = s '%name%' }", true));
    EXPECT_EQ(L"first", m_registry.GetString(HKCR, L"K", L""));
}

TEST_F(MemoryRegistrarTest, ValueTypesStoreTheirBytes)
{
    ASSERT_HR(kS_OK, Run(L"HKCR { K { val B = b '0a1B' val M = m 'a\\0b' val D = d '4000000000' "
                         L"val Q = s 'it''s  spaced\tout' val E = b '' val Z = b 'zz' } }"));
    EXPECT_EQ((CMemoryRegistry::Value{kRegBinary, std::string("\x0A\x1B", 2)}), m_registry.GetValue(HKCR, L"K", L"B"));
    EXPECT_EQ((CMemoryRegistry::Value{kRegBinary, std::string("\0", 1)}), m_registry.GetValue(HKCR, L"K", L"Z"));
    EXPECT_EQ((CMemoryRegistry::Value{kRegBinary, ""}), m_registry.GetValue(HKCR, L"K", L"E"));

    const wchar_t multi[] = {L'a', 0, L'b', 0, 0};
    EXPECT_EQ((CMemoryRegistry::Value{kRegMultiSz, std::string(reinterpret_cast<const char*>(multi), sizeof multi)}),
              m_registry.GetValue(HKCR, L"K", L"M"));

    const std::uint32_t dword = 4000000000u;
    EXPECT_EQ((CMemoryRegistry::Value{kRegDword, std::string(reinterpret_cast<const char*>(&dword), 4)}),
              m_registry.GetValue(HKCR, L"K", L"D"));
    EXPECT_EQ(L"it's  spaced\tout", m_registry.GetString(HKCR, L"K", L"Q"));
}

TEST_F(MemoryRegistrarTest, BadValuesFailAndAreRolledBack)
{
    EXPECT_HR(kE_FAIL, Run(L"HKCR { K = b '0a1' }"));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K = x 'v' }"));
    EXPECT_HR(kDISP_E_TYPEMISMATCH, Run(L"HKCR { K { val D = d 'twelve' } }"));
    EXPECT_HR(kDISP_E_OVERFLOW, Run(L"HKCR { K { val D = d '4294967296' } }"));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"K"));
}

TEST_F(MemoryRegistrarTest, NamesAndKeywordsMatchInAnyCase)
{
    ASSERT_HR(kS_OK, Run(L"hkey_classes_root { noremove A { forceremove B = S 'x' { VAL v = D '7' } } }\r\n"
                         L"hkcr { NOREMOVE a { delete c } }"));
    EXPECT_EQ(L"x", m_registry.GetString(HKCR, L"a\\b", L""));
    ASSERT_HR(kS_OK, Run(L"HkCr { NoReMoVe A { b { vAl v = d '7' } } }", false));
    EXPECT_TRUE(m_registry.KeyExists(HKCR, L"A"));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"A\\B"));
}

TEST_F(MemoryRegistrarTest, MalformedScriptsAnswerDispException)
{
    const wchar_t* scripts[] = {
        L"HKXX { }",                       // unknown root
        L"HKCR K { }",                     // root block not opened with "{"
        L"HKCR { K = s 'never closed }",   // end of text inside a quoted token
        L"HKCR { K",                       // end of text where a token is needed
        L"HKCR { A\\B }",                  // backslash in a key name
        L"HKCR { ForceRemove A\\B }",
        L"HKCR { K { val V s 'x' } }",     // "Val" name not followed by "="
        L"HKCR { '' = s 'the root itself' }", // an empty key name
        L"HKCR { K { val V = s 'x' { } } }",  // block after Val
        L"HKCR { Delete K { } }",             // block after Delete
    };
    for (const wchar_t* script : scripts) {
        EXPECT_HR(kDISP_E_EXCEPTION, Run(script, true)) << "registering " << testing::PrintToString(std::wstring(script));
        EXPECT_HR(kDISP_E_EXCEPTION, Run(script, false)) << "unregistering " << testing::PrintToString(std::wstring(script));
    }
    EXPECT_TRUE(m_registry.SubKeys(HKCR, L"").empty());
}

TEST_F(MemoryRegistrarTest, LimitsOfTokensAndNames)
{
    const std::wstring longest = Repeat(L'v', CScriptTokenizer::kMaxTokenChars);
    EXPECT_HR(kS_OK, Run(L"HKCR { K = s '" + longest + L"' }"));
    EXPECT_EQ(longest, m_registry.GetString(HKCR, L"K", L""));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K = s '" + longest + L"v' }"));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K = s " + longest + L"v }"));

    const std::wstring name259 = Repeat(L'n', 259);
    EXPECT_HR(kS_OK, Run(L"HKCR { K { val " + name259 + L" = s 'x' } }"));
    EXPECT_TRUE(m_registry.GetValue(HKCR, L"K", name259));
    EXPECT_HR(kS_OK, Run(L"HKCR { K { val " + name259 + L" = s 'x' } }", false));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K { val " + name259 + L"n = s 'x' } }"));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { K { val " + name259 + L"n = s 'x' } }", false));

    // A key name is never shortened for the delete: that would remove a different key.
    m_registry.CreatePath(HKCR, name259);
    m_registry.CreatePath(HKCR, name259 + L"n");
    EXPECT_HR(kDISP_E_EXCEPTION, Run(L"HKCR { " + name259 + L"n }", false));
    EXPECT_TRUE(m_registry.KeyExists(HKCR, name259));
}

TEST_F(MemoryRegistrarTest, DeepNestingIsRefusedNotOverflowed)
{
    std::wstring deep = L"HKCR { ";
    for (unsigned i = 0; i < CRegistrar::kMaxNesting + 1; ++i)
        deep += L"k { ";
    deep += L"}";
    EXPECT_HR(kDISP_E_EXCEPTION, Run(deep, true));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"k"));
    EXPECT_HR(kDISP_E_EXCEPTION, Run(deep, false));
}

TEST_F(MemoryRegistrarTest, ForceRemoveReplacesTheKeyButSparesTheNeverDeleteList)
{
    m_registry.SetString(HKCR, L"App\\Stale\\Deeper", L"", L"old");
    m_registry.SetString(HKCR, L"App", L"OldValue", L"old");
    m_registry.SetString(HKCR, L"CLSID\\{Other}", L"", L"keep");
    ASSERT_HR(kS_OK, Run(L"HKCR { ForceRemove App = s 'new' ForceRemove clsid { ForceRemove Mine } }"));
    EXPECT_EQ(std::vector<std::wstring>{}, m_registry.SubKeys(HKCR, L"App"));
    EXPECT_EQ(std::vector<std::wstring>{L""}, m_registry.ValueNames(HKCR, L"App"));
    EXPECT_EQ(L"keep", m_registry.GetString(HKCR, L"CLSID\\{Other}", L""));
    EXPECT_TRUE(m_registry.KeyExists(HKCR, L"CLSID\\Mine"));
}

TEST_F(MemoryRegistrarTest, DeleteRemovesATreeAndCreatesNothing)
{
    m_registry.SetString(HKCR, L"Old\\Sub", L"", L"x");
    m_registry.CreatePath(HKCR, L"Software\\Sub");
    ASSERT_HR(kS_OK, Run(L"HKCR { Delete Old Delete Missing = s 'ignored' Delete Software Kept }"));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"Old"));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"Missing"));
    EXPECT_TRUE(m_registry.KeyExists(HKCR, L"Software\\Sub"));
    EXPECT_TRUE(m_registry.KeyExists(HKCR, L"Kept"));
}

TEST_F(MemoryRegistrarTest, FailedBlockIsRolledBackAndEarlierBlocksStay)
{
    m_registry.SetString(HKCR, L"Shared", L"", L"there before");
    const std::wstring script = L"HKCU { First = s 'stays' }\r\n"
                                L"HKCR { NoRemove Shared { A = s 'a' { val V = s 'v' } } B { val X = q 'bad' } }\r\n"
                                L"HKLM { Never = s 'reached' }";
    EXPECT_HR(kDISP_E_EXCEPTION, Run(script));
    EXPECT_TRUE(m_registry.KeyExists(RegRoot::CurrentUser, L"First"));
    EXPECT_EQ(std::vector<std::wstring>{}, m_registry.SubKeys(HKCR, L"Shared"));
    EXPECT_EQ(L"there before", m_registry.GetString(HKCR, L"Shared", L""));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"B"));
    EXPECT_FALSE(m_registry.KeyExists(RegRoot::LocalMachine, L"Never"));
}

TEST_F(MemoryRegistrarTest, RegistryErrorsAreReturnedAsHResults)
{
    m_registry.DenyWrite(HKCR, L"Locked");
    EXPECT_HR(HResultFromWin32(kErrorAccessDenied), Run(L"HKCR { Locked = s 'x' }"));
    EXPECT_HR(HResultFromWin32(kErrorAccessDenied), Run(L"HKCR { Locked { New } }"));
    EXPECT_HR(HResultFromWin32(kErrorAccessDenied), Run(L"HKCR { Locked { val V = s 'x' } }", false));
}

TEST_F(MemoryRegistrarTest, UnregisteringGoesPastMissingKeysAndKeepsNoRemove)
{
    const wchar_t* script = L"HKCR { NoRemove Root { Gone { Deeper = s 'x' { val V = d '1' } } "
                            L"Here = s 'h' { val V = s 'v' NoRemove val W = s 'w' } NoRemove Kept } }";
    EXPECT_HR(kS_OK, Run(script, false));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"Root"));

    m_registry.SetString(HKCR, L"Root\\Here", L"V", L"v");
    m_registry.SetString(HKCR, L"Root\\Here", L"W", L"w");
    m_registry.CreatePath(HKCR, L"Root\\Kept");
    EXPECT_HR(kS_OK, Run(script, false));
    EXPECT_EQ(std::vector<std::wstring>{L"Kept"}, m_registry.SubKeys(HKCR, L"Root"));
    EXPECT_HR(kS_OK, Run(script, false));
}

TEST_F(MemoryRegistrarTest, UnregisteringStopsAtAKeyWithUnknownSubkeys)
{
    ASSERT_HR(kS_OK, Run(L"HKCR { App { Sub } }"));
    m_registry.CreatePath(HKCR, L"App\\Foreign");
    EXPECT_HR(HResultFromWin32(kErrorAccessDenied), Run(L"HKCR { App { Sub } }", false));
    EXPECT_TRUE(m_registry.KeyExists(HKCR, L"App\\Foreign"));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"App\\Sub"));
}

TEST_F(MemoryRegistrarTest, WhiteSpaceAndEmptyScripts)
{
    EXPECT_HR(kS_OK, Run(L""));
    EXPECT_HR(kS_OK, Run(L" \r\n\t "));
    EXPECT_HR(kS_OK, Run(L"\r\nHKCR\t{\tK\r\n=\ns\r'v'\n}\r\n\r\n"));
    EXPECT_EQ(L"v", m_registry.GetString(HKCR, L"K", L""));
}

TEST_F(MemoryRegistrarTest, ResourceIsLoadedDecodedAndRun)
{
    m_registry.AddResource(L"C:\\m.dll", 7, L"REGISTRY", "HKCR { K = s 'caf\xe9' }\r\n");
    m_registry.AddResource(L"C:\\m.dll", 8, L"REGISTRY", "");
    CRegistrar registrar(m_registry);
    EXPECT_HR(kS_OK, registrar.RegisterFromResource(L"c:\\M.DLL", 7, L"registry", true));
    EXPECT_EQ(L"caf\u00e9", m_registry.GetString(HKCR, L"K", L""));
    EXPECT_HR(kS_OK, registrar.RegisterFromResource(L"C:\\m.dll", 7, L"REGISTRY", false));
    EXPECT_FALSE(m_registry.KeyExists(HKCR, L"K"));

    EXPECT_HR(HResultFromWin32(126), registrar.RegisterFromResource(L"C:\\other.dll", 7, L"REGISTRY", true));
    EXPECT_HR(HResultFromWin32(1814), registrar.RegisterFromResource(L"C:\\m.dll", 9, L"REGISTRY", true));
    EXPECT_HR(HResultFromWin32(kErrorInvalidParameter), registrar.RegisterFromResource(L"C:\\m.dll", 8, L"REGISTRY", true));
}
