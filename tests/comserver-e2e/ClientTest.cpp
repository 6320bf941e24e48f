// A COM client in its own process using the registered server as Explorer would reach it: by class
// id through the registry, with the runtime loading the DLL.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>
#include "E2ESupport.h"
#include "ShellExt_h.h"

using namespace e2e;

namespace {
template <typename T>
class CPtr {
public:
    CPtr() = default;
    ~CPtr()
    {
        if (p)
            p->Release();
    }
    CPtr(const CPtr&) = delete;
    CPtr& operator=(const CPtr&) = delete;
    void** Put() { return reinterpret_cast<void**>(&p); }
    T* operator->() const { return p; }
    T* p = nullptr;
};

using DllCanUnloadNowFunc = HRESULT(STDAPICALLTYPE*)();
using DllGetClassObjectFunc = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

class Client : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        std::wstring strDll = StageDll(L"kvcomserver-client");
        ASSERT_EQ(RunRegsvr32(strDll, false), 0u);
    }
    void SetUp() override { ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))); }
    void TearDown() override { ::CoUninitialize(); }

    // The server's own exports, from the copy the runtime loaded.
    static HMODULE Server()
    {
        CPtr<IUnknown> pUnk; // makes sure the runtime has loaded it
        ::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, pUnk.Put());
        return ::GetModuleHandleW(L"KorvaneShellExt.dll");
    }
    static HRESULT CanUnloadNow()
    {
        auto pfn = reinterpret_cast<DllCanUnloadNowFunc>(::GetProcAddress(Server(), "DllCanUnloadNow"));
        return pfn ? pfn() : E_FAIL;
    }
};

TEST_F(Client, AnswersEveryInterfaceOfTheTableAndNoOther)
{
    CPtr<IUnknown> pUnk;
    ASSERT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, pUnk.Put()), S_OK);
    CPtr<IKorvaneShellExt> pPrimary;
    CPtr<IDispatch> pDispatch;
    CPtr<IShellExtInit> pInit;
    CPtr<IContextMenu> pMenu;
    ASSERT_EQ(pUnk->QueryInterface(IID_IKorvaneShellExt, pPrimary.Put()), S_OK);
    ASSERT_EQ(pUnk->QueryInterface(IID_IDispatch, pDispatch.Put()), S_OK);
    EXPECT_EQ(static_cast<IUnknown*>(pDispatch.p), static_cast<IUnknown*>(pPrimary.p));
    EXPECT_EQ(pUnk.p, static_cast<IUnknown*>(pPrimary.p)); // IUnknown is the primary interface
    EXPECT_EQ(pUnk->QueryInterface(IID_IShellExtInit, pInit.Put()), S_OK);
    EXPECT_EQ(pUnk->QueryInterface(IID_IContextMenu, pMenu.Put()), S_OK);

    for (const IID* piid : {&IID_IContextMenu2, &IID_IContextMenu3, &IID_IClassFactory, &IID_IPersist}) {
        void* pv = reinterpret_cast<void*>(1);
        EXPECT_EQ(pUnk->QueryInterface(*piid, &pv), E_NOINTERFACE);
        EXPECT_EQ(pv, nullptr);
    }
    EXPECT_EQ(pUnk->QueryInterface(IID_IContextMenu, nullptr), E_POINTER);
}

TEST_F(Client, ServesTypeInformationFromTheRegisteredLibrary)
{
    CPtr<IDispatch> pDispatch;
    ASSERT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                                 pDispatch.Put()),
              S_OK);
    UINT nCount = 0;
    EXPECT_EQ(pDispatch->GetTypeInfoCount(&nCount), S_OK);
    EXPECT_EQ(nCount, 1u);
    EXPECT_EQ(pDispatch->GetTypeInfoCount(nullptr), E_POINTER);
    CPtr<ITypeInfo> pInfo;
    ASSERT_EQ(pDispatch->GetTypeInfo(0, 0x409, reinterpret_cast<ITypeInfo**>(pInfo.Put())), S_OK);
    BSTR bstrName = nullptr;
    ASSERT_EQ(pInfo->GetDocumentation(MEMBERID_NIL, &bstrName, nullptr, nullptr, nullptr), S_OK);
    EXPECT_STREQ(bstrName, L"IKorvaneShellExt");
    ::SysFreeString(bstrName);
    TYPEATTR* pAttr = nullptr;
    ASSERT_EQ(pInfo->GetTypeAttr(&pAttr), S_OK);
    EXPECT_TRUE(::IsEqualIID(pAttr->guid, IID_IKorvaneShellExt));
    pInfo->ReleaseTypeAttr(pAttr);
    // No members of its own: a name is unknown.
    LPOLESTR pszName = const_cast<LPOLESTR>(L"Compare");
    DISPID id = 0;
    EXPECT_EQ(pDispatch->GetIDsOfNames(IID_NULL, &pszName, 1, 0x409, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(Client, CanUnloadOnlyWhenNoObjectFactoryReferenceOrServerLockRemains)
{
    ASSERT_EQ(CanUnloadNow(), S_OK);
    {
        CPtr<IContextMenu> pMenu;
        ASSERT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                     pMenu.Put()),
                  S_OK);
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);

    auto pfnGet = reinterpret_cast<DllGetClassObjectFunc>(::GetProcAddress(Server(), "DllGetClassObject"));
    ASSERT_NE(pfnGet, nullptr);
    {
        CPtr<IClassFactory> pFactory, pAgain;
        ASSERT_EQ(pfnGet(CLSID_KorvaneShellExt, IID_IClassFactory, pFactory.Put()), S_OK);
        ASSERT_EQ(pfnGet(CLSID_KorvaneShellExt, IID_IUnknown, pAgain.Put()), S_OK);
        EXPECT_EQ(static_cast<IUnknown*>(pFactory.p), static_cast<IUnknown*>(pAgain.p)); // the cached factory
        EXPECT_EQ(CanUnloadNow(), S_FALSE);
        pAgain.p->Release();
        pAgain.p = nullptr;
        EXPECT_EQ(CanUnloadNow(), S_FALSE);

        EXPECT_EQ(pFactory->LockServer(TRUE), S_OK);
        pFactory.p->Release();
        pFactory.p = nullptr;
        EXPECT_EQ(CanUnloadNow(), S_FALSE); // the server lock alone
        CPtr<IClassFactory> pUnlock;
        ASSERT_EQ(pfnGet(CLSID_KorvaneShellExt, IID_IClassFactory, pUnlock.Put()), S_OK);
        EXPECT_EQ(pUnlock->LockServer(FALSE), S_OK);
    }
    EXPECT_EQ(CanUnloadNow(), S_OK);

    CLSID other = CLSID_KorvaneShellExt;
    other.Data1 ^= 1;
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(pfnGet(other, IID_IClassFactory, &pv), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
    EXPECT_EQ(pfnGet(CLSID_KorvaneShellExt, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(pfnGet(CLSID_KorvaneShellExt, IID_IContextMenu, &pv), E_NOINTERFACE);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

// An outer object that counts the references its inner object passes on to it.
class COuter : public IUnknown {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (::IsEqualIID(riid, IID_IUnknown)) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        return m_pInner ? m_pInner->QueryInterface(riid, ppv) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override { return --m_cRef; }
    ULONG m_cRef = 1;
    IUnknown* m_pInner = nullptr;
};

TEST_F(Client, AggregatesForIUnknownOnly)
{
    COuter outer;
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, &outer, CLSCTX_INPROC_SERVER, IID_IContextMenu, &pv),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(pv, nullptr);

    ASSERT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                 reinterpret_cast<void**>(&outer.m_pInner)),
              S_OK);
    EXPECT_EQ(CanUnloadNow(), S_FALSE);
    IContextMenu* pMenu = nullptr;
    ASSERT_EQ(outer.m_pInner->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&pMenu)), S_OK);
    EXPECT_EQ(outer.m_cRef, 2u); // the inner interface's reference went to the outer object
    IUnknown* pIdentity = nullptr;
    ASSERT_EQ(pMenu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pIdentity)), S_OK);
    EXPECT_EQ(pIdentity, static_cast<IUnknown*>(&outer));
    pIdentity->Release();
    pMenu->Release();
    EXPECT_EQ(outer.m_cRef, 1u);
    EXPECT_EQ(outer.m_pInner->Release(), 0u);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}

TEST_F(Client, ManyThreadsCreatingAndReleasingEndUnloadable)
{
    ASSERT_EQ(CanUnloadNow(), S_OK);
    std::atomic<int> nFailures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&nFailures] {
            if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
                ++nFailures;
                return;
            }
            for (int i = 0; i < 200; ++i) {
                IClassFactory* pFactory = nullptr;
                if (FAILED(::CoGetClassObject(CLSID_KorvaneShellExt, CLSCTX_INPROC_SERVER, nullptr,
                                              IID_IClassFactory, reinterpret_cast<void**>(&pFactory)))) {
                    ++nFailures;
                    continue;
                }
                IContextMenu* pMenu = nullptr;
                if (SUCCEEDED(pFactory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&pMenu))))
                    pMenu->Release();
                else
                    ++nFailures;
                pFactory->Release();
            }
            ::CoUninitialize();
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(nFailures.load(), 0);
    EXPECT_EQ(CanUnloadNow(), S_OK);
}
} // namespace

namespace {
void SetProductValue(const wchar_t* lpszName, DWORD dwType, const void* pData, DWORD cb)
{
    ::RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Halden Forge\\Korvane", lpszName, dwType, pData, cb);
}

std::wstring TempFile(const wchar_t* lpszName, const char* pszContent)
{
    wchar_t szTemp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, szTemp);
    std::wstring strPath = std::wstring(szTemp) + lpszName;
    if (FILE* f = ::_wfopen(strPath.c_str(), L"wb")) {
        std::fputs(pszContent, f);
        std::fclose(f);
    }
    return strPath;
}

TEST(MenuRound, ExplorerStandInBuildsTheMenuAndStartsTheComparisonThroughTheRegisteredObject)
{
    ASSERT_EQ(RunRegsvr32(StageDll(L"kvcomserver-client"), false), 0u);
    std::wstring strProgram = FromBuildTree(KV_SAMPLECOMPARE);
    DWORD dwEnabled = 1;
    SetProductValue(L"ContextMenuEnabled", REG_DWORD, &dwEnabled, sizeof(dwEnabled));
    SetProductValue(L"Korvane", REG_SZ, strProgram.c_str(), static_cast<DWORD>((strProgram.size() + 1) * 2));
    SetProductValue(L"FirstSelection", REG_SZ, L"", 2);
    std::wstring strLeft = TempFile(L"kv-left.txt", "left\n"), strRight = TempFile(L"kv-right.txt", "right\n");
    std::wstring strRecord = TempFile(L"kv-menu-record.txt", "");
    ::SetEnvironmentVariableW(L"KV_RECORD_FILE", strRecord.c_str());

    EXPECT_EQ(RunAndWait(L"\"" + FromBuildTree(KV_MENUHOST) + L"\" \"" + strLeft + L"\" \"" + strRight +
                         L"\" /invoke \"Compare As Text\""),
              0u);
    // The comparison program is started without waiting for it.
    std::string strLine;
    for (int i = 0; i < 100 && strLine.empty(); ++i) {
        ::Sleep(50);
        if (FILE* f = ::_wfopen(strRecord.c_str(), L"rb")) {
            char sz[2048] = "";
            if (std::fgets(sz, sizeof(sz), f))
                strLine = sz;
            std::fclose(f);
        }
    }
    auto narrow = [](const std::wstring& s) { return std::string(s.begin(), s.end()); };
    EXPECT_NE(strLine.find(" /text /f1 \"" + narrow(strLeft) + "\" /f2 \"" + narrow(strRight) + "\""),
              std::string::npos)
        << strLine;
}

// Builds the one-item menu of a selection without files; answers the item's picture.
HBITMAP BuildRunMenu(IContextMenu* pMenu)
{
    HMENU hMenu = ::CreatePopupMenu();
    EXPECT_EQ(pMenu->QueryContextMenu(hMenu, 0, 1, 100, CMF_NORMAL), 1);
    MENUITEMINFOW mii = {};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_BITMAP;
    ::GetMenuItemInfoW(hMenu, 0, TRUE, &mii);
    ::DestroyMenu(hMenu);
    return mii.hbmpItem;
}

TEST_F(Client, TheRuntimeUnloadsTheLibraryOnceTheLastObjectIsGone)
{
    DWORD dwEnabled = 1;
    SetProductValue(L"ContextMenuEnabled", REG_DWORD, &dwEnabled, sizeof(dwEnabled));
    HBITMAP hShown = nullptr;
    {
        CPtr<IContextMenu> pMenu;
        ASSERT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                     pMenu.Put()),
                  S_OK);
        hShown = BuildRunMenu(pMenu.p);
        // Type information held by the module until it may be unloaded.
        CPtr<IDispatch> pDispatch;
        CPtr<ITypeInfo> pInfo;
        ASSERT_EQ(pMenu->QueryInterface(IID_IDispatch, pDispatch.Put()), S_OK);
        EXPECT_EQ(pDispatch->GetTypeInfo(0, 0x409, reinterpret_cast<ITypeInfo**>(pInfo.Put())), S_OK);

        ::CoFreeUnusedLibraries();
        EXPECT_NE(::GetModuleHandleW(L"KorvaneShellExt.dll"), nullptr) << "unloaded under a live object";
    }
    BITMAP bm = {};
    ASSERT_NE(hShown, nullptr);
    EXPECT_NE(::GetObjectW(hShown, sizeof(bm), &bm), 0) << "a menu the host keeps still shows it";

    // Deleted when the runtime asks whether the module may go, not at the unload itself, which runs
    // under the loader lock.
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    auto pfnCanUnloadNow = reinterpret_cast<CanUnloadNow>(reinterpret_cast<void*>(
        ::GetProcAddress(::GetModuleHandleW(L"KorvaneShellExt.dll"), "DllCanUnloadNow")));
    ASSERT_NE(pfnCanUnloadNow, nullptr);
    EXPECT_EQ(pfnCanUnloadNow(), S_OK);
    EXPECT_EQ(::GetObjectW(hShown, sizeof(bm), &bm), 0) << "the picture outlived the module's last object";
    ::CoFreeUnusedLibraries();
    EXPECT_EQ(::GetModuleHandleW(L"KorvaneShellExt.dll"), nullptr);

    // Loaded again as new.
    CPtr<IContextMenu> pAgain;
    ASSERT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                 pAgain.Put()),
              S_OK);
    EXPECT_NE(BuildRunMenu(pAgain.p), nullptr);
}

TEST_F(Client, ProcessEndingWithLiveObjectsExitsCleanly)
{
    DWORD dwEnabled = 1;
    SetProductValue(L"ContextMenuEnabled", REG_DWORD, &dwEnabled, sizeof(dwEnabled));
    EXPECT_EQ(RunAndWait(L"\"" + FromBuildTree(KV_LIVEOBJECTEXIT) + L"\""), 0u);
}

// Rows of a saved 32-bit bottom-up bitmap file that hold the menu picture's frame colour (navy),
// grouped into runs of adjacent rows: one run per item that shows the picture.
int RunsOfPictureRows(const std::wstring& strPath)
{
    std::vector<BYTE> file;
    if (FILE* f = ::_wfopen(strPath.c_str(), L"rb")) {
        BYTE buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), f)) > 0;)
            file.insert(file.end(), buffer, buffer + n);
        std::fclose(f);
    }
    BITMAPFILEHEADER bfh;
    BITMAPINFOHEADER bih;
    if (file.size() < sizeof(bfh) + sizeof(bih))
        return -1;
    std::memcpy(&bfh, file.data(), sizeof(bfh));
    std::memcpy(&bih, file.data() + sizeof(bfh), sizeof(bih));
    if (bih.biBitCount != 32 || bih.biWidth <= 0 || bih.biHeight <= 0 ||
        bfh.bfOffBits + static_cast<size_t>(bih.biWidth) * bih.biHeight * 4 > file.size())
        return -1;
    int nRuns = 0;
    bool bInRun = false;
    for (int y = bih.biHeight - 1; y >= 0; --y) {
        const BYTE* pRow = file.data() + bfh.bfOffBits + static_cast<size_t>(y) * bih.biWidth * 4;
        int nNavy = 0;
        for (int x = 0; x < bih.biWidth; ++x)
            if (pRow[x * 4] == 0x80 && pRow[x * 4 + 1] == 0 && pRow[x * 4 + 2] == 0) // blue, green, red
                ++nNavy;
        if (nNavy > 0 && !bInRun)
            ++nRuns;
        bInRun = nNavy > 0;
    }
    return nRuns;
}

// The popup as the host shows it on the screen: every item is drawn with the picture beside it.
TEST(MenuRound, ShownPopupDrawsThePictureBesideEveryItem)
{
    ASSERT_EQ(RunRegsvr32(StageDll(L"kvcomserver-client"), false), 0u);
    DWORD dwEnabled = 1;
    SetProductValue(L"ContextMenuEnabled", REG_DWORD, &dwEnabled, sizeof(dwEnabled));
    std::wstring strFirst = TempFile(L"kv-shown-first.txt", "first\n");
    SetProductValue(L"FirstSelection", REG_SZ, strFirst.c_str(),
                    static_cast<DWORD>((strFirst.size() + 1) * 2));
    std::wstring strFile = TempFile(L"kv-shown.txt", "second\n");
    std::wstring strShot = TempFile(L"kv-shown-menu.bmp", "");

    EXPECT_EQ(RunAndWait(L"\"" + FromBuildTree(KV_MENUHOST) + L"\" \"" + strFile + L"\" /shot \"" + strShot +
                         L"\""),
              0u);
    SetProductValue(L"FirstSelection", REG_SZ, L"", 2);
    EXPECT_EQ(RunsOfPictureRows(strShot), 4); // one file and a remembered one: four items
}
} // namespace
