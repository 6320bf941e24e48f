// Wine's own regsvr32 registering and unregistering the real DLL, checked in the real registry.
#include <gtest/gtest.h>
#include <vector>
#include "ClassTable.h"
#include "E2ESupport.h"
#include "UniqueHandle.h"

using namespace e2e;

namespace {
const std::wstring kUserClasses = L"Software\\Classes\\";
const wchar_t kApproved[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
const wchar_t kInterfaceKey[] = L"Interface\\{A6E0B4D2-71C9-4F38-9D5A-C2B7F1036E84}";
// Where 64-bit Windows (and wine) keeps the 32-bit view of the machine's software key.
const wchar_t kApproved32[] =
    L"Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";

// "CLSID\\{...}" of every class of the module's table, whatever classes it holds.
std::vector<std::pair<CLSID, std::wstring>> ClassesOfTheTable()
{
    std::vector<std::pair<CLSID, std::wstring>> classes;
    for (const ClassEntry* p = g_ClassEntries; p->pclsid; ++p) {
        wchar_t szClsid[40];
        ::StringFromGUID2(*p->pclsid, szClsid, 40);
        classes.emplace_back(*p->pclsid, std::wstring(L"CLSID\\") + szClsid);
    }
    return classes;
}

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
    // The approval entry in this build's own (64-bit) view only.
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kApproved, kClsidText), L"Korvane Context Menu Handler");
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kApproved32, kClsidText), L"<none>");

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
    EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kApproved, kClsidText), L"<none>");
    for (const wchar_t* pszKept : {L"CLSID", L"*", L"*\\ShellEx", L"*\\ShellEx\\ContextMenuHandlers"})
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, pszKept)) << pszKept;
    // Leave the machine registered for the client tests that follow.
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
}

// The 32-bit build's class, as a 32-bit regsvr32 leaves it on 64-bit Windows, in the 32-bit view
// of the classes that wine keeps as Windows does.
TEST_F(Regsvr32, KeepsTheSharedHandlerAndTypeLibraryOnlyWhileThe32BitBuildIsRegistered)
{
    const std::wstring strServer32 = std::wstring(kClassKey) + L"\\InprocServer32";
    const std::wstring strDll32 = StageDll(L"kvcomserver-e2e-x86");
    ASSERT_FALSE(strDll32.empty());
    CUniqueRegKey hKey32;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, strServer32.c_str(), 0, nullptr, 0,
                                KEY_WRITE | KEY_WOW64_32KEY, nullptr, hKey32.Put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(hKey32.Get(), nullptr, 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(strDll32.c_str()),
                               static_cast<DWORD>((strDll32.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    hKey32.Reset();
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
    ASSERT_EQ(RunRegsvr32(m_strDll, true), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
    EXPECT_EQ(ReadText(HKEY_CLASSES_ROOT, kHandlerKey), kClsidText);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey)); // this view's own

    // The 32-bit build's file deleted without unregistering: the last unregistration takes them.
    ASSERT_TRUE(::DeleteFileW(strDll32.c_str()));
    ASSERT_EQ(RunRegsvr32(m_strDll, true), 0u);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"));

    // The 32-bit build gone too: one more unregistration finds nothing and succeeds.
    ASSERT_EQ(::RegDeleteKeyExW(HKEY_CLASSES_ROOT, strServer32.c_str(), KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    ASSERT_EQ(::RegDeleteKeyExW(HKEY_CLASSES_ROOT, kClassKey, KEY_WOW64_32KEY, 0), ERROR_SUCCESS);
    EXPECT_EQ(RunRegsvr32(m_strDll, true), 0u);
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
}

// A key the registration must write below is made volatile: the system then refuses the lasting
// subkey, as a key whose security forbids writing would on Windows. Whatever step fails, nothing
// of the registration stays.
TEST_F(Regsvr32, AFailedRegistrationLeavesNothingBehind)
{
    const struct {
        const char* name;
        std::wstring strVolatile;
    } cases[] = {
        {"the handler's parent key", L"*\\ShellEx\\ContextMenuHandlers"},
        {"the type library's key, after every class", kTypeLibKey},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(RunRegsvr32(m_strDll, true), 0u);
        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, c.strVolatile.c_str());
        CUniqueRegKey hVolatile;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CLASSES_ROOT, c.strVolatile.c_str(), 0, nullptr, REG_OPTION_VOLATILE,
                                    KEY_WRITE, nullptr, hVolatile.Put(), nullptr),
                  ERROR_SUCCESS);
        hVolatile.Reset();

        EXPECT_NE(RunRegsvr32(m_strDll, false), 0u);
        for (const auto& cls : ClassesOfTheTable())
            EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls.second)) << cls.second;
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, std::wstring(kTypeLibKey) + L"\\1.0"));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kInterfaceKey));
        EXPECT_EQ(ReadText(HKEY_LOCAL_MACHINE, kApproved, kClsidText), L"<none>");

        ::RegDeleteTreeW(HKEY_CLASSES_ROOT, c.strVolatile.c_str());
    }
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
}

// Wine does not merge the user's classes into HKCR (Windows does), so the object is reached the way
// the runtime would: through DllGetClassObject of the DLL the user's class key names.
TEST_F(Regsvr32, PerUserRegistrationWritesEveryClassForTheUserOnly)
{
    ASSERT_EQ(RunRegsvr32(m_strDll, true), 0u); // the machine's registration out of the way
    ASSERT_EQ(RunRegsvr32(m_strDll, false, L"/n /i:user"), 0u);
    for (const auto& cls : ClassesOfTheTable()) {
        const std::wstring strServer = kUserClasses + cls.second + L"\\InprocServer32";
        EXPECT_EQ(ReadText(HKEY_CURRENT_USER, strServer), m_strDll);
        EXPECT_EQ(ReadText(HKEY_CURRENT_USER, strServer, L"ThreadingModel"), L"Apartment");
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, cls.second)) << cls.second;
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUserClasses + cls.second)) << cls.second;

        CUniqueLibrary hServer(::LoadLibraryW(ReadText(HKEY_CURRENT_USER, strServer).c_str()));
        ASSERT_TRUE(hServer);
        using DllGetClassObjectFunc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
        auto pfnGet = reinterpret_cast<DllGetClassObjectFunc>(
            reinterpret_cast<void*>(::GetProcAddress(hServer.Get(), "DllGetClassObject")));
        ASSERT_NE(pfnGet, nullptr);
        IClassFactory* pFactory = nullptr;
        ASSERT_EQ(pfnGet(cls.first, IID_IClassFactory, reinterpret_cast<void**>(&pFactory)), S_OK);
        IUnknown* pObject = nullptr;
        EXPECT_EQ(pFactory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&pObject)), S_OK);
        if (pObject)
            pObject->Release();
        pFactory->Release();
    }
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, kUserClasses + kHandlerKey), kClsidText);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kHandlerKey));

    // Another command text is refused and changes nothing.
    EXPECT_NE(RunRegsvr32(m_strDll, true, L"/n /i:machine"), 0u);
    EXPECT_EQ(ReadText(HKEY_CURRENT_USER, kUserClasses + kHandlerKey), kClsidText);

    ASSERT_EQ(RunRegsvr32(m_strDll, true, L"/n /i:user"), 0u);
    for (const auto& cls : ClassesOfTheTable())
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + cls.second)) << cls.second;
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kUserClasses + kHandlerKey));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kUserClasses + L"*\\ShellEx\\ContextMenuHandlers"));
    EXPECT_EQ(RunRegsvr32(m_strDll, true, L"/n /i:user"), 0u);
    ASSERT_EQ(RunRegsvr32(m_strDll, false), 0u);
}
} // namespace
