// The Windows 11 command through COM as Windows 11's menu uses it: the real DLL registered with
// wine's regsvr32, created by class id in this process, selections made by the shell's own item
// array functions from real files, the classic handler of the same DLL as the reference for what
// is shown and what each command does, and the recorder standing in for the comparison program.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <shlguid.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include "DataObjectDouble.h"
#include "DialogAnswerer.h"
#include "E2ESupport.h"
#include "ExplorerCommandHost.h"
#include "ShellItemDouble.h"
#include "ShellExt_h.h"
#include "ShellItemSelection.h"

namespace fs = std::filesystem;

namespace {
const wchar_t kProductKey[] = L"Software\\Halden Forge\\Korvane";
const wchar_t kCommandClassKey[] = L"CLSID\\{606485C3-F299-4A73-BD61-41773E2170D3}";

void SetDword(LPCWSTR lpszName, DWORD dwValue)
{
    ASSERT_EQ(
        ::RegSetKeyValueW(HKEY_CURRENT_USER, kProductKey, lpszName, REG_DWORD, &dwValue, sizeof(dwValue)),
        ERROR_SUCCESS);
}

void SetString(LPCWSTR lpszName, const std::wstring& strText)
{
    ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, kProductKey, lpszName, REG_SZ, strText.c_str(),
                                static_cast<DWORD>((strText.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::wstring FirstSelection()
{
    return e2e::ReadText(HKEY_CURRENT_USER, kProductKey, L"FirstSelection");
}

// A site that is a window, as a host's view is.
class CWindowSite final : public IOleWindow {
public:
    explicit CWindowSite(HWND hWnd) : m_hWnd(hWnd) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleWindow) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the test's stack
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetWindow(HWND* phWnd) override
    {
        *phWnd = m_hWnd;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

private:
    HWND m_hWnd;
};

// A site that offers its window only as the top-level browser service, as Explorer's sites do.
class CServiceSite final : public IServiceProvider {
public:
    explicit CServiceSite(CWindowSite& browser) : m_browser(browser) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IServiceProvider) ? this : nullptr;
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP QueryService(REFGUID guidService, REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        return IsEqualGUID(guidService, SID_STopLevelBrowser) ? m_browser.QueryInterface(riid, ppv)
                                                              : E_NOINTERFACE;
    }

private:
    CWindowSite& m_browser;
};

class ExplorerCommand : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_strDll = e2e::StageDll(L"kvexplorercommand");
        ASSERT_EQ(e2e::RunRegsvr32(s_strDll, false), 0u);
    }
    static void TearDownTestSuite() { e2e::RunRegsvr32(s_strDll, true); }

    void SetUp() override
    {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
        SetDword(L"ContextMenuEnabled", 1);
        m_scratch = fs::temp_directory_path() / L"kvexplorercommand-scratch";
        fs::remove_all(m_scratch);
        fs::create_directories(m_scratch / L"folder");
        fs::path recorder = m_scratch / L"Program Files" / L"korvane.exe";
        fs::create_directories(recorder.parent_path());
        fs::copy_file(e2e::FromBuildTree(KV_RECORDER_EXE), recorder);
        SetString(L"Korvane", recorder.wstring());
        m_recordFile = m_scratch / L"record.txt";
        ::SetEnvironmentVariableW(L"KV_RECORD_FILE", m_recordFile.c_str());
        ASSERT_EQ(::CoCreateInstance(kClsidKorvaneExplorerCommand, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IExplorerCommand, m_pRoot.PutVoid()),
                  S_OK);
    }
    void TearDown() override
    {
        m_pRoot.Reset();
        ::CoUninitialize();
        ::RegDeleteTreeW(HKEY_CURRENT_USER, kProductKey);
        std::error_code ec;
        fs::remove_all(m_scratch, ec);
    }

    std::wstring MakeFile(const std::wstring& strName)
    {
        fs::path path = m_scratch / strName;
        std::ofstream(path) << "text\n";
        return path.wstring();
    }
    std::wstring Folder() const { return (m_scratch / L"folder").wstring(); }

    static std::vector<std::wstring> Titles(const std::vector<ShownCommand>& shown)
    {
        std::vector<std::wstring> titles;
        for (const ShownCommand& command : shown)
            titles.push_back(command.strTitle);
        return titles;
    }
    std::vector<std::wstring> ShownTitles(const std::vector<std::wstring>& paths)
    {
        CUniqueInterface<IShellItemArray> pSelection = MakeShellItemArray(paths);
        EXPECT_TRUE(pSelection);
        return pSelection ? Titles(ShownSubCommands(m_pRoot.Get(), pSelection.Get()))
                          : std::vector<std::wstring>{};
    }
    // The classic handler of the same DLL, given the files of the paths as Explorer gives them.
    static CUniqueInterface<IContextMenu> ClassicMenu(const std::vector<std::wstring>& paths, HMENU hMenu)
    {
        std::vector<std::wstring> files;
        for (const std::wstring& path : paths)
            if (path != kComputerItem)
                files.push_back(path);
        CUniqueInterface<IShellExtInit> pInit;
        CUniqueInterface<IContextMenu> pMenu;
        EXPECT_EQ(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                     pInit.PutVoid()),
                  S_OK);
        if (!pInit)
            return pMenu;
        CDataObjectDouble data(files);
        pInit->Initialize(nullptr, &data, nullptr);
        EXPECT_EQ(pInit->QueryInterface(IID_IContextMenu, pMenu.PutVoid()), S_OK);
        if (pMenu)
            pMenu->QueryContextMenu(hMenu, 0, 1, 100, CMF_NORMAL);
        return pMenu;
    }
    static std::vector<std::wstring> ClassicItems(const std::vector<std::wstring>& paths)
    {
        CUniqueMenu hMenu(::CreatePopupMenu());
        CUniqueInterface<IContextMenu> pMenu = ClassicMenu(paths, hMenu.Get());
        std::vector<std::wstring> items;
        for (int i = 0; i < ::GetMenuItemCount(hMenu.Get()); ++i) {
            wchar_t szText[512] = {};
            ::GetMenuStringW(hMenu.Get(), i, szText, 512, MF_BYPOSITION);
            items.push_back(szText);
        }
        return items;
    }
    // Invokes the shown sub-command of that title with the selection, as the menu does on a click.
    HRESULT InvokeShown(const std::vector<std::wstring>& paths, const std::wstring& strTitle,
                        IUnknown* pSite = nullptr)
    {
        CUniqueInterface<IShellItemArray> pSelection = MakeShellItemArray(paths);
        for (ShownCommand& shown : ShownSubCommands(m_pRoot.Get(), pSelection.Get())) {
            if (shown.strTitle != strTitle)
                continue;
            if (pSite) {
                CUniqueInterface<IObjectWithSite> pWithSite;
                EXPECT_EQ(shown.pCommand->QueryInterface(IID_IObjectWithSite, pWithSite.PutVoid()), S_OK);
                pWithSite->SetSite(pSite);
            }
            return shown.pCommand->Invoke(pSelection.Get(), nullptr);
        }
        ADD_FAILURE() << "no shown command of that title";
        return E_FAIL;
    }
    // The command lines the recorder wrote, waiting up to a few seconds for nLines of them.
    std::vector<std::string> WaitForRecords(size_t nLines)
    {
        std::vector<std::string> lines;
        for (int nAttempt = 0; nAttempt < 150; ++nAttempt) {
            std::stringstream text;
            text << std::ifstream(m_recordFile, std::ios::binary).rdbuf();
            std::string all = text.str();
            lines.clear();
            for (size_t at = 0, end; (end = all.find("\r\n", at)) != std::string::npos; at = end + 2)
                lines.push_back(all.substr(at, end - at));
            if (lines.size() >= nLines)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        return lines;
    }

    static std::wstring s_strDll;
    fs::path m_scratch;
    fs::path m_recordFile;
    CUniqueInterface<IExplorerCommand> m_pRoot;
};
std::wstring ExplorerCommand::s_strDll;

TEST_F(ExplorerCommand, RegistersItsClassKeyAloneAndUnregistersIt)
{
    EXPECT_EQ(e2e::DumpTree(HKEY_CLASSES_ROOT, kCommandClassKey),
              std::wstring(L"[") + kCommandClassKey + L"]\n=Korvane Explorer Command\n[" + kCommandClassKey +
                  L"\\InprocServer32]\n=" + s_strDll + L"\nThreadingModel=Apartment\n");
    // No verb or handler names it, so Windows 10's menu stays the classic handler's alone.
    EXPECT_EQ(e2e::DumpTree(HKEY_CLASSES_ROOT, L"*\\ShellEx\\ContextMenuHandlers").find(L"606485C3"),
              std::wstring::npos);
    EXPECT_FALSE(e2e::KeyExists(HKEY_CLASSES_ROOT, L"*\\shell\\Korvane"));

    m_pRoot.Reset();
    ::CoFreeUnusedLibraries();
    ASSERT_EQ(e2e::RunRegsvr32(s_strDll, true), 0u);
    EXPECT_FALSE(e2e::KeyExists(HKEY_CLASSES_ROOT, kCommandClassKey));
    ASSERT_EQ(e2e::RunRegsvr32(s_strDll, false), 0u);
}

TEST_F(ExplorerCommand, RootIsKorvaneWithTheMenuPictureShownWhileTheMenuIsSwitchedOn)
{
    EXPECT_EQ(TitleOf(m_pRoot.Get(), nullptr), L"Korvane");
    CUniqueCoTaskText strIcon;
    ASSERT_EQ(m_pRoot->GetIcon(nullptr, strIcon.Put()), S_OK);
    EXPECT_STREQ(strIcon.Get(), (s_strDll + L",-202").c_str());
    EXPCMDFLAGS flags = 0;
    EXPECT_EQ(m_pRoot->GetFlags(&flags), S_OK);
    EXPECT_EQ(flags, static_cast<EXPCMDFLAGS>(ECF_HASSUBCOMMANDS));

    auto State = [this] {
        EXPCMDSTATE state = 0xFF;
        EXPECT_EQ(m_pRoot->GetState(nullptr, FALSE, &state), S_OK);
        return state;
    };
    EXPECT_EQ(State(), static_cast<EXPCMDSTATE>(ECS_ENABLED));
    SetDword(L"ContextMenuEnabled", 0);
    EXPECT_EQ(State(), static_cast<EXPCMDSTATE>(ECS_HIDDEN));
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, kProductKey, L"ContextMenuEnabled");
    EXPECT_EQ(State(), static_cast<EXPCMDSTATE>(ECS_HIDDEN));

    CUniqueInterface<IObjectWithSite> pWithSite;
    EXPECT_EQ(m_pRoot->QueryInterface(IID_IObjectWithSite, pWithSite.PutVoid()), S_OK);
    void* pv = reinterpret_cast<void*>(1);
    EXPECT_EQ(m_pRoot->QueryInterface(IID_IContextMenu, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    struct COuter : IUnknown {
        STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        STDMETHODIMP_(ULONG) AddRef() override { return 2; }
        STDMETHODIMP_(ULONG) Release() override { return 1; }
    } outer;
    EXPECT_EQ(
        ::CoCreateInstance(kClsidKorvaneExplorerCommand, &outer, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
        CLASS_E_NOAGGREGATION);
}

TEST_F(ExplorerCommand, ShowsExactlyTheClassicItemsForEverySelection)
{
    const std::wstring strOld = MakeFile(L"old & new.txt"), strNew = MakeFile(L"new.txt"),
                       strThird = MakeFile(L"3.txt");
    struct Case {
        std::vector<std::wstring> paths;
        const wchar_t* lpszRemembered;
        std::vector<std::wstring> expected;
    };
    const std::vector<Case> cases = {
        {{Folder()}, L"", {L"Run Korvane"}},
        {{Folder(), kComputerItem}, L"", {L"Run Korvane"}},
        {{strNew}, L"", {L"Select First Item to Compare", L"Compare As Text...", L"Compare As Binary..."}},
        {{kComputerItem, Folder(), strNew},
         strOld.c_str(),
         {L"Compare to \"old && new.txt\" As Text", L"Compare to \"old && new.txt\" As Binary",
          L"Compare As Text...", L"Compare As Binary..."}},
        {{strOld, Folder(), strNew, strThird}, L"", {L"Compare As Text", L"Compare As Binary"}},
    };
    for (const Case& c : cases) {
        SetString(L"FirstSelection", c.lpszRemembered);
        EXPECT_EQ(ShownTitles(c.paths), c.expected) << "remembered: " << c.lpszRemembered;
        EXPECT_EQ(ClassicItems(c.paths), c.expected);
    }
    SetDword(L"ContextMenuEnabled", 0);
    EXPECT_TRUE(ShownTitles({strNew}).empty());
}

// Items whose paths exist nowhere: only the attributes they carry can tell files from folders.
TEST_F(ExplorerCommand, TellsFilesFromTheAttributesTheItemsCarry)
{
    const std::vector<std::wstring> kSelectFirst = {L"Select First Item to Compare", L"Compare As Text...",
                                                    L"Compare As Binary..."};
    struct Case {
        const char* name;
        std::vector<ItemInMemory> items;
        std::vector<std::wstring> expected;
    };
    const std::vector<Case> cases = {
        {"a file", {{L"Q:\\share\\a.txt", kFileItem}}, kSelectFirst},
        {"a folder", {{L"Q:\\share\\d", kFolderItem}}, {L"Run Korvane"}},
        {"a zip file, a folder that is a stream", {{L"Q:\\share\\z.zip", kZipItem}}, kSelectFirst},
        {"items outside the file system and folders are passed over",
         {{L"", kVirtualItem}, {L"Q:\\d", kFolderItem}, {L"Q:\\a", kFileItem}, {L"Q:\\b", kFileItem}},
         {L"Compare As Text", L"Compare As Binary"}},
    };
    for (const Case& c : cases) {
        CUniqueInterface<CShellItemArrayDouble> pSelection = CShellItemArrayDouble::Make(c.items);
        EXPECT_EQ(Titles(ShownSubCommands(m_pRoot.Get(), pSelection.Get())), c.expected) << c.name;
        EXPECT_FALSE(pSelection->AskedToValidate()) << c.name;
    }
}

// One walk over the selection serves the root and every sub-command of its menu, and a menu
// opened again on the same selection. The walk reads memory only, so a quick question (the host
// asks with fOkToBeSlow FALSE) gets the full answer even when the one file comes after 1,000
// folders: no sub-command is left hidden waiting for a slow question that may never come.
TEST_F(ExplorerCommand, WalksEachSelectionOnceAndAnswersAQuickQuestionInFull)
{
    std::vector<ItemInMemory> items(1000, ItemInMemory{L"Q:\\d", kFolderItem});
    items.push_back({L"Q:\\last.txt", kFileItem});
    CUniqueInterface<CShellItemArrayDouble> pSelection = CShellItemArrayDouble::Make(items);
    CShellItemArrayDouble& selection = *pSelection.Get();
    std::vector<CUniqueInterface<IExplorerCommand>> commands = EnumerateSubCommands(m_pRoot.Get());
    ASSERT_EQ(commands.size(), 8u);

    EXPECT_EQ(ShownSubCommands(m_pRoot.Get(), &selection).size(), 3u); // one file: "Select First Item"
    const ULONG nOneWalk = 1000 + 2; // each folder's attributes, the file's attributes and path
    EXPECT_EQ(selection.ItemQueries(), nOneWalk);
    EXPCMDSTATE state = ECS_HIDDEN;
    for (auto& pCommand : commands)
        EXPECT_EQ(pCommand->GetState(&selection, FALSE, &state), S_OK) << "decided: a quick answer";
    EXPECT_EQ(selection.ItemQueries(), nOneWalk);

    // The same selection again, after "Select First Item": no walk, the key read afresh.
    SetString(L"FirstSelection", L"C:\\old.txt");
    EXPECT_EQ(ShownSubCommands(m_pRoot.Get(), &selection).size(), 4u);
    EXPECT_EQ(selection.ItemQueries(), nOneWalk);
}

TEST_F(ExplorerCommand, SubCommandsCarryStableDistinctNamesTipsAndThePicture)
{
    std::vector<CUniqueInterface<IExplorerCommand>> first = EnumerateSubCommands(m_pRoot.Get());
    std::vector<CUniqueInterface<IExplorerCommand>> again = EnumerateSubCommands(m_pRoot.Get());
    ASSERT_EQ(first.size(), 8u);
    ASSERT_EQ(again.size(), first.size());
    std::vector<GUID> names;
    for (size_t i = 0; i < first.size(); ++i) {
        GUID name = GUID_NULL, repeated = GUID_NULL;
        ASSERT_EQ(first[i]->GetCanonicalName(&name), S_OK);
        ASSERT_EQ(again[i]->GetCanonicalName(&repeated), S_OK);
        EXPECT_TRUE(IsEqualGUID(name, repeated));
        for (const GUID& other : names)
            EXPECT_FALSE(IsEqualGUID(name, other));
        EXPECT_FALSE(IsEqualGUID(name, kClsidKorvaneExplorerCommand));
        names.push_back(name);
        EXPCMDFLAGS flags = 0xFF;
        EXPECT_EQ(first[i]->GetFlags(&flags), S_OK);
        EXPECT_EQ(flags, static_cast<EXPCMDFLAGS>(ECF_DEFAULT));
    }
    // The first is "Run Korvane": its tip is the classic item's help text.
    CUniqueCoTaskText strTip, strIcon;
    ASSERT_EQ(first[0]->GetToolTip(nullptr, strTip.Put()), S_OK);
    EXPECT_STREQ(strTip.Get(), L"Compare using Korvane");
    ASSERT_EQ(first[0]->GetIcon(nullptr, strIcon.Put()), S_OK);
    EXPECT_STREQ(strIcon.Get(), (s_strDll + L",-202").c_str());

    // Asked for more than there are: what is left, and S_FALSE.
    CUniqueInterface<IEnumExplorerCommand> pEnum;
    ASSERT_EQ(m_pRoot->EnumSubCommands(pEnum.Put()), S_OK);
    EXPECT_EQ(pEnum->Skip(6), S_OK);
    IExplorerCommand* batch[4] = {};
    ULONG nFetched = 0;
    EXPECT_EQ(pEnum->Next(4, batch, &nFetched), S_FALSE);
    EXPECT_EQ(nFetched, 2u);
    for (ULONG i = 0; i < nFetched; ++i)
        batch[i]->Release();
    IExplorerCommand* uncounted[3] = {};
    ASSERT_EQ(pEnum->Reset(), S_OK);
    EXPECT_EQ(pEnum->Next(3, uncounted, nullptr), S_OK) << "the fetched count is optional for any count";
    for (IExplorerCommand* pCommand : uncounted)
        EXPECT_TRUE(pCommand && pCommand->Release() == 0);

    // Every object of the command holds the module: a sub-command the host keeps after the root
    // and the enumeration are gone still keeps the DLL loaded.
    auto pfnCanUnloadNow = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        ::GetProcAddress(::GetModuleHandleW(L"KorvaneShellExt.dll"), "DllCanUnloadNow"));
    ASSERT_NE(pfnCanUnloadNow, nullptr);
    CUniqueInterface<IExplorerCommand> pKept = std::move(first[7]);
    first.clear();
    again.clear();
    pEnum.Reset();
    m_pRoot.Reset();
    EXPECT_EQ(pfnCanUnloadNow(), S_FALSE);
    pKept.Reset();
    EXPECT_EQ(pfnCanUnloadNow(), S_OK);
}

TEST_F(ExplorerCommand, EachCommandDoesWhatTheClassicItemDoes)
{
    const std::wstring strOld = MakeFile(L"old.txt"), strNew = MakeFile(L"new.txt");
    const std::string strOld8 = fs::path(strOld).u8string(), strNew8 = fs::path(strNew).u8string();

    // Started without waiting, with the classic item's command line.
    EXPECT_EQ(InvokeShown({strOld, strNew}, L"Compare As Binary"), S_OK);
    CUniqueMenu hMenu(::CreatePopupMenu());
    CUniqueInterface<IContextMenu> pClassic = ClassicMenu({strOld, strNew}, hMenu.Get());
    CMINVOKECOMMANDINFO ici = {};
    ici.cbSize = sizeof(ici);
    ici.lpVerb = MAKEINTRESOURCEA(1);
    ASSERT_EQ(pClassic->InvokeCommand(&ici), S_OK);
    std::vector<std::string> lines = WaitForRecords(2);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], lines[1]);
    EXPECT_TRUE(EndsWith(lines[0], " /hex /f1 \"" + strOld8 + "\" /f2 \"" + strNew8 + "\"")) << lines[0];

    EXPECT_EQ(InvokeShown({Folder()}, L"Run Korvane"), S_OK);
    EXPECT_EQ(InvokeShown({strOld, strNew}, L"Compare As Text"), S_OK);
    lines = WaitForRecords(4);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_TRUE(EndsWith(lines[2], " /text /f1 \"\" /f2 \"\"")) << lines[2];
    EXPECT_TRUE(EndsWith(lines[3], " /text /f1 \"" + strOld8 + "\" /f2 \"" + strNew8 + "\"")) << lines[3];

    // Remembered, then compared with: FirstSelection written, then cleared.
    EXPECT_EQ(InvokeShown({strOld}, L"Select First Item to Compare"), S_FALSE);
    EXPECT_EQ(FirstSelection(), strOld);
    EXPECT_EQ(InvokeShown({strNew}, L"Compare to \"old.txt\" As Binary"), S_OK);
    EXPECT_EQ(FirstSelection(), L"");
    lines = WaitForRecords(5);
    ASSERT_EQ(lines.size(), 5u); // remembering started nothing
    EXPECT_TRUE(EndsWith(lines[4], " /hex /f1 \"" + strOld8 + "\" /f2 \"" + strNew8 + "\"")) << lines[4];
    SetString(L"FirstSelection", strNew);
    EXPECT_EQ(InvokeShown({strOld}, L"Compare to \"new.txt\" As Text"), S_OK);
    EXPECT_EQ(FirstSelection(), L"");
    lines = WaitForRecords(6);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_TRUE(EndsWith(lines[5], " /text /f1 \"" + strNew8 + "\" /f2 \"" + strOld8 + "\"")) << lines[5];
}

TEST_F(ExplorerCommand, FileDialogAndFailureMessageAreOwnedByTheSiteWindow)
{
    const std::wstring strOld = MakeFile(L"old.txt"), strChosen = MakeFile(L"chosen.txt");
    HWND hWnd = ::CreateWindowW(L"STATIC", L"host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 200,
                                nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(hWnd, nullptr);
    CWindowSite site(hWnd);
    {
        CDialogAnswerer answer(strChosen);
        EXPECT_EQ(InvokeShown({strOld}, L"Compare As Binary...", &site), S_OK);
        EXPECT_TRUE(answer.Found());
        EXPECT_EQ(answer.Owner(), hWnd);
    }
    std::vector<std::string> lines = WaitForRecords(1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(EndsWith(lines[0], " /hex /f1 \"" + fs::path(strOld).u8string() + "\" /f2 \"" +
                                       fs::path(strChosen).u8string() + "\""))
        << lines[0];

    // A host that sets only the root's site, one that offers its window as a service: the
    // sub-commands use that one.
    CServiceSite services(site);
    CUniqueInterface<IObjectWithSite> pWithSite;
    ASSERT_EQ(m_pRoot->QueryInterface(IID_IObjectWithSite, pWithSite.PutVoid()), S_OK);
    ASSERT_EQ(pWithSite->SetSite(&services), S_OK);
    {
        CDialogAnswerer cancel(L"");
        EXPECT_EQ(InvokeShown({strOld}, L"Compare As Text...", nullptr), S_FALSE);
        EXPECT_EQ(cancel.Owner(), hWnd);
    }
    // No "no user interface" request exists here: a failed start is always told.
    SetString(L"Korvane", (m_scratch / L"missing.exe").wstring());
    {
        CDialogAnswerer close(L"");
        EXPECT_TRUE(FAILED(InvokeShown({strOld, strChosen}, L"Compare As Text")));
        EXPECT_TRUE(close.Found());
        EXPECT_EQ(close.Owner(), hWnd);
    }
    pWithSite->SetSite(nullptr);
    ::DestroyWindow(hWnd);
}
} // namespace
