// QueryContextMenu and GetCommandString against real menus and the real product key.
#include "ShellExtFixture.h"
#include <algorithm>
#include <cstring>
#include <iterator>
#include "MenuPicture.h"
#include "ShellExtModule.h"

namespace {
class MenuTest : public ShellExtTest {
protected:
    std::vector<MenuItem> MenuFor(const std::vector<std::wstring>& names, HRESULT* phr = nullptr)
    {
        EXPECT_EQ(S_OK, InitializeWith(names));
        m_menu.Reset(::CreatePopupMenu());
        HRESULT hr = BuildOn(m_menu.Get());
        if (phr)
            *phr = hr;
        return ReadMenu(m_menu.Get());
    }
    CUniqueMenu m_menu;
};

// The width of a text as a menu draws it: with uFormat 0 the prefix rules of menus apply.
int ShownWidth(const std::wstring& text, UINT uFormat)
{
    HDC hdc = ::GetDC(nullptr);
    HGDIOBJ hOld = ::SelectObject(hdc, ::GetStockObject(DEFAULT_GUI_FONT));
    RECT rc = {};
    ::DrawTextW(hdc, text.c_str(), -1, &rc, DT_CALCRECT | DT_SINGLELINE | uFormat);
    ::SelectObject(hdc, hOld);
    ::ReleaseDC(nullptr, hdc);
    return rc.right - rc.left;
}

std::vector<std::wstring> Texts(const std::vector<MenuItem>& items)
{
    std::vector<std::wstring> texts;
    for (const MenuItem& item : items)
        texts.push_back(item.text);
    return texts;
}
} // namespace

TEST_F(MenuTest, EachStateInsertsItsItemsWithConsecutiveIdsAndTheBitmap)
{
    ASSERT_NE(nullptr, m_obj->Bitmap());
    std::wstring a = MakeFile(L"a.txt"), b = MakeFile(L"b.txt");
    HRESULT hr;

    std::vector<MenuItem> items = MenuFor({MakeFolder(L"dir")}, &hr);
    EXPECT_EQ(1, hr);
    EXPECT_EQ(std::vector<std::wstring>({L"Run Korvane"}), Texts(items));

    items = MenuFor({a}, &hr);
    EXPECT_EQ(MAKE_HRESULT(SEVERITY_SUCCESS, 0, 3), hr);
    EXPECT_EQ(std::vector<std::wstring>(
                  {L"Select First Item to Compare", L"Compare As Text...", L"Compare As Binary..."}),
              Texts(items));

    reg::SetString(L"FirstSelection", L"C:\\Data\\old.txt");
    items = MenuFor({a}, &hr);
    EXPECT_EQ(4, hr);
    EXPECT_EQ(
        std::vector<std::wstring>({L"Compare to \"old.txt\" As Text", L"Compare to \"old.txt\" As Binary",
                                   L"Compare As Text...", L"Compare As Binary..."}),
        Texts(items));
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(kFirstId + i, items[i].id);
        EXPECT_EQ(m_obj->Bitmap(), items[i].bitmap);
    }

    items = MenuFor({a, b}, &hr);
    EXPECT_EQ(2, hr);
    EXPECT_EQ(std::vector<std::wstring>({L"Compare As Text", L"Compare As Binary"}), Texts(items));
}

TEST_F(MenuTest, ItemsGoAtTheInsertPositionAndOnlyAsManyAsTheIdRangeHolds)
{
    EXPECT_EQ(S_OK, InitializeWith({MakeFile(L"a.txt")}));
    CUniqueMenu menu(::CreatePopupMenu());
    ::AppendMenuW(menu.Get(), MF_STRING, 1, L"Open");
    ::AppendMenuW(menu.Get(), MF_STRING, 2, L"Delete");
    // Ids past the last one belong to the next handler of the same menu.
    EXPECT_EQ(2, m_obj->QueryContextMenu(menu.Get(), 1, 500, 501, CMF_NORMAL));
    std::vector<MenuItem> items = ReadMenu(menu.Get());
    ASSERT_EQ(4u, items.size());
    EXPECT_EQ(L"Open", items[0].text);
    EXPECT_EQ(L"Select First Item to Compare", items[1].text);
    EXPECT_EQ(501u, items[2].id);
    EXPECT_EQ(L"Delete", items[3].text);
    EXPECT_EQ(nullptr, items[3].bitmap);

    // A position past the end (-1) appends the items in their order, each with its picture.
    menu.Reset(::CreatePopupMenu());
    ::AppendMenuW(menu.Get(), MF_STRING, 1, L"Open");
    EXPECT_EQ(3, m_obj->QueryContextMenu(menu.Get(), 0xFFFFFFFFu, 500, 599, CMF_NORMAL));
    items = ReadMenu(menu.Get());
    EXPECT_EQ(std::vector<std::wstring>(
                  {L"Open", L"Select First Item to Compare", L"Compare As Text...", L"Compare As Binary..."}),
              Texts(items));
    for (size_t i = 0; i < items.size(); ++i)
        EXPECT_EQ(i == 0 ? nullptr : m_obj->Bitmap(), items[i].bitmap) << i;

    menu.Reset(::CreatePopupMenu());
    EXPECT_EQ(0, m_obj->QueryContextMenu(menu.Get(), 0, 500, 499, CMF_NORMAL));
    EXPECT_EQ(0, ::GetMenuItemCount(menu.Get()));
    EXPECT_EQ(3, m_obj->QueryContextMenu(menu.Get(), 0, 0xFFFFFFF0u, 0xFFFFFFFFu, CMF_NORMAL));
    EXPECT_EQ(1, m_obj->QueryContextMenu(menu.Get(), 0, 0xFFFFFFFFu, 0xFFFFFFFFu, CMF_NORMAL));
}

TEST_F(MenuTest, DefaultOnlyAddsNothingAndLeavesTheRegistryAlone)
{
    reg::DeleteProductKey();
    CUniqueMenu menu(::CreatePopupMenu());
    EXPECT_EQ(0, BuildOn(menu.Get(), CMF_DEFAULTONLY));
    EXPECT_EQ(0, ::GetMenuItemCount(menu.Get()));
    EXPECT_FALSE(reg::ProductKeyExists());
}

TEST_F(MenuTest, SwitchMissingOrOffAddsNothingButCreatesTheKey)
{
    reg::DeleteProductKey();
    CUniqueMenu menu(::CreatePopupMenu());
    EXPECT_EQ(0, BuildOn(menu.Get()));
    EXPECT_TRUE(reg::ProductKeyExists());
    reg::SetDword(L"ContextMenuEnabled", 0);
    reg::SetString(L"FirstSelection", L"C:\\x.txt");
    EXPECT_EQ(0, BuildOn(menu.Get()));
    EXPECT_EQ(0, ::GetMenuItemCount(menu.Get()));
    EXPECT_EQ(L"C:\\x.txt", std::wstring(m_obj->m_strFirstSelection)); // read before the switch
    EXPECT_EQ(CKorvaneShellExt::MENU_STATE_RUN, m_obj->m_nMenuState);
}

TEST_F(MenuTest, SwitchOfAnotherTypeOrSize)
{
    CUniqueMenu menu(::CreatePopupMenu());
    BYTE eight[8] = {1, 0, 0, 0, 0, 0, 0, 0};
    reg::SetRaw(L"ContextMenuEnabled", REG_BINARY, eight, sizeof(eight)); // too long: unreadable, off
    EXPECT_EQ(0, BuildOn(menu.Get()));
    BYTE one[1] = {1};
    reg::SetRaw(L"ContextMenuEnabled", REG_BINARY, one, sizeof(one)); // short: its byte counts
    EXPECT_EQ(1, BuildOn(menu.Get()));
}

TEST_F(MenuTest, RememberedPathsThatCannotBeUsedAsTheyStand)
{
    std::wstring a = MakeFile(L"a.txt");
    // Deep in a synced folder, and as long as a path can be.
    for (size_t nLength : {300u, 32000u}) {
        std::wstring path = L"C:\\" + std::wstring(nLength - 10, L'r') + L"\\deep.txt";
        reg::SetString(L"FirstSelection", path);
        EXPECT_EQ(L"Compare to \"deep.txt\" As Text", MenuFor({a})[0].text) << nLength;
        EXPECT_EQ(path, std::wstring(m_obj->m_strFirstSelection));
    }

    reg::SetString(L"FirstSelection", L"old.txt"); // no backslash: the name is left out
    EXPECT_EQ(L"Compare to  As Binary", MenuFor({a})[1].text);

    reg::SetString(L"FirstSelection", a); // the selected file itself: still offered
    EXPECT_EQ(L"Compare to \"a.txt\" As Text", MenuFor({a})[0].text);

    // A menu would take a single "&" for an access-key mark and drop it from the text it shows.
    reg::SetString(L"FirstSelection", L"C:\\R&D\\R&D && co.txt");
    std::wstring stored = MenuFor({a})[0].text;
    EXPECT_EQ(L"Compare to \"R&&D &&&& co.txt\" As Text", stored);
    EXPECT_EQ(ShownWidth(L"Compare to \"R&D && co.txt\" As Text", DT_NOPREFIX), ShownWidth(stored, 0));

    // Stored without a terminator and of an odd size: the whole characters, nothing past them.
    const char raw[] = "C\0:\0\\\0b\0.\0t\0x\0t\0Z";
    reg::SetRaw(L"FirstSelection", REG_BINARY, raw, sizeof(raw) - 1);
    EXPECT_EQ(L"Compare to \"b.txt\" As Text", MenuFor({a})[0].text);
}

TEST_F(MenuTest, HelpTextsOfEveryStateAndIndex)
{
    const wchar_t* const run = L"Compare using Korvane";
    const wchar_t* const select = L"Select file as the first item to compare using Korvane";
    const wchar_t* const toText = L"Compare selected item to previously selected file as text using Korvane";
    const wchar_t* const toBinary =
        L"Compare selected item to previously selected file as binary using Korvane";
    const wchar_t* const otherText = L"Compare to other file as text using Korvane";
    const wchar_t* const otherBinary = L"Compare to other file as binary using Korvane";
    const wchar_t* const pairText = L"Compare selected items as text using Korvane";
    const wchar_t* const pairBinary = L"Compare selected items as binary using Korvane";
    const std::vector<std::vector<std::wstring>> expected = {
        {run, L"", L"", L"", L""},
        {select, otherText, otherBinary, L"", L""},
        {toText, toBinary, otherText, otherBinary, L""},
        {pairText, pairBinary, L"", L"", L""},
    };
    // A never-built object answers for the run state.
    EXPECT_EQ(run, HelpW(0));
    for (int state = 0; state < 4; ++state) {
        m_obj->m_nMenuState = state;
        for (UINT_PTR i = 0; i < 5; ++i)
            EXPECT_EQ(expected[state][i], HelpW(i)) << "state " << state << " index " << i;
        EXPECT_EQ(L"", HelpW(0x10000 + 0)) << "index past the table";
    }
}

// Each request type answers its own string: the verb a script invokes, the help text Explorer
// shows, or whether the index is an item; the verb of an index that is no item is refused.
TEST_F(MenuTest, CommandStringRequestTypesAndBuffers)
{
    const struct {
        UINT uType;
        UINT_PTR nIndex;
        HRESULT hr;
        const char* pszText; // null: the buffer is left as it was
    } rows[] = {
        {GCS_VERBA, 1, S_OK, "KorvaneCompareSelectedBinary"},
        {GCS_VERBW, 0, S_OK, "KorvaneCompareSelectedText"},
        {GCS_VERBW, 2, E_INVALIDARG, nullptr},
        {GCS_VERBA, 0x10000, E_INVALIDARG, nullptr},
        {GCS_HELPTEXTA, 0, S_OK, "Compare selected items as text using Korvane"},
        {GCS_HELPTEXTW, 1, S_OK, "Compare selected items as binary using Korvane"},
        {GCS_HELPTEXTW, 2, S_OK, ""},
        {GCS_VALIDATEA, 1, S_OK, nullptr},
        {GCS_VALIDATEW, 0, S_OK, nullptr},
        {GCS_VALIDATEW, 2, S_FALSE, nullptr},
        {GCS_VALIDATEA, 0x10000, S_FALSE, nullptr},
        {GCS_VERBICONW, 0, E_NOTIMPL, nullptr},
        {0x100, 0, E_INVALIDARG, nullptr},
    };
    m_obj->m_nMenuState = CKorvaneShellExt::MENU_STATE_COMPARE_PAIR;
    for (const auto& row : rows) {
        wchar_t buffer[128];
        std::fill(std::begin(buffer), std::end(buffer), L'#');
        const UINT cch = (row.uType & GCS_UNICODE) ? 128 : 256;
        EXPECT_EQ(row.hr, m_obj->GetCommandString(row.nIndex, row.uType, nullptr,
                                                  reinterpret_cast<CHAR*>(buffer), cch))
            << "type " << row.uType << " index " << row.nIndex;
        std::string text;
        if (row.uType & GCS_UNICODE)
            text = row.pszText ? Utf8(buffer) : std::string(1, static_cast<char>(buffer[0]));
        else
            text =
                reinterpret_cast<const char*>(buffer)[0] == '#' ? "#" : reinterpret_cast<const char*>(buffer);
        EXPECT_EQ(row.pszText ? row.pszText : "#", text) << "type " << row.uType << " index " << row.nIndex;
    }
    // A verb is given whole or not at all: cut short, "...ToFirstText" and "...ToFirstBinary"
    // would be one verb. A help text may be cut.
    char verb[27]; // "KorvaneCompareSelectedText" and its terminator
    EXPECT_EQ(S_OK, m_obj->GetCommandString(0, GCS_VERBA, nullptr, verb, sizeof(verb)));
    EXPECT_STREQ("KorvaneCompareSelectedText", verb);
    const HRESULT hrShort = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(hrShort, m_obj->GetCommandString(0, GCS_VERBA, nullptr, verb, sizeof(verb) - 1));
    EXPECT_EQ(hrShort, m_obj->GetCommandString(0, GCS_VERBW, nullptr, nullptr, 64));
    wchar_t wide[4] = {L'#', L'#', L'#', L'#'};
    EXPECT_EQ(hrShort, m_obj->GetCommandString(0, GCS_VERBW, nullptr, reinterpret_cast<CHAR*>(wide), 4));
    EXPECT_EQ(L'#', wide[0]);
    EXPECT_EQ(S_OK, m_obj->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 1));
    EXPECT_EQ(L'\0', wide[0]);
    EXPECT_EQ(L'#', wide[1]);
    EXPECT_EQ(S_OK, m_obj->GetCommandString(0, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(wide), 0));
    EXPECT_EQ(S_OK, m_obj->GetCommandString(0, GCS_HELPTEXTW, nullptr, nullptr, 10));
}

TEST_F(MenuTest, ObjectHoldsAModuleLockAndAnswersItsInterfaces)
{
    LONG nBefore = g_ShellExtModule.GetLockCount();
    CTestableShellExt* p = NewShellExt();
    EXPECT_EQ(nBefore + 1, g_ShellExtModule.GetLockCount());
    IContextMenu* pMenu = nullptr;
    EXPECT_EQ(S_OK, p->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&pMenu)));
    IUnknown* pUnk1 = nullptr;
    IUnknown* pUnk2 = nullptr;
    EXPECT_EQ(S_OK, pMenu->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk1)));
    EXPECT_EQ(S_OK, p->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&pUnk2)));
    IUnknown* pNone = reinterpret_cast<IUnknown*>(1);
    EXPECT_EQ(E_NOINTERFACE, p->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&pNone)));
    EXPECT_EQ(nullptr, pNone);
    EXPECT_EQ(E_POINTER, p->QueryInterface(IID_IContextMenu, nullptr));
    pUnk2->Release();
    pUnk1->Release();
    pMenu->Release();
    p->Release();
    EXPECT_EQ(nBefore, g_ShellExtModule.GetLockCount());
}

// What a menu of Windows Vista and later needs to draw the picture with its alpha on any menu
// colour: a 32-bit section, premultiplied, transparent around the mark, at the small-icon size of
// the menu's DPI (wine draws at 96 only, so the other sizes are asked for directly).
TEST_F(MenuTest, MenuPictureIsAPremultipliedAlphaBitmapAtTheSmallIconSizeOfEachDpi)
{
    const std::pair<UINT, int> sizes[] = {{96, 16}, {120, 20}, {144, 24}, {192, 32}, {240, 40}};
    for (const auto& [nDpi, nSize] : sizes) {
        HBITMAP hBitmap = CMenuPicture::ForDpi(nDpi);
        DIBSECTION ds = {};
        ASSERT_EQ(static_cast<int>(sizeof(ds)), ::GetObjectW(hBitmap, sizeof(ds), &ds)) << nDpi;
        EXPECT_EQ(nSize, ds.dsBm.bmWidth) << nDpi;
        EXPECT_EQ(nSize, ds.dsBm.bmHeight) << nDpi;
        EXPECT_EQ(32, ds.dsBm.bmBitsPixel);
        EXPECT_EQ(static_cast<DWORD>(BI_RGB), ds.dsBmih.biCompression);
        const BYTE* pBits = static_cast<const BYTE*>(ds.dsBm.bmBits);
        int nOpaque = 0, nNotPremultiplied = 0;
        for (int i = 0; i < nSize * nSize; ++i) {
            const BYTE* px = pBits + i * 4;
            nOpaque += px[3] == 255;
            nNotPremultiplied += px[0] > px[3] || px[1] > px[3] || px[2] > px[3];
        }
        EXPECT_EQ(0, nNotPremultiplied) << nDpi;
        EXPECT_GT(nOpaque, nSize * nSize / 4) << nDpi;
        EXPECT_EQ(0u, *reinterpret_cast<const DWORD*>(pBits)) << "the background is transparent at " << nDpi;
        EXPECT_EQ(hBitmap, CMenuPicture::ForDpi(nDpi)) << "made once per size";
    }
    // At 100 % the mark's own pixels, top row first: the navy frame of the first page, opaque, and
    // the transparent corner below it.
    DIBSECTION ds = {};
    ASSERT_NE(0, ::GetObjectW(CMenuPicture::ForDpi(96), sizeof(ds), &ds));
    const DWORD* pPixels = static_cast<const DWORD*>(ds.dsBm.bmBits);
    EXPECT_EQ(0xFF000080u, pPixels[1 * 16 + 1]);
    EXPECT_EQ(0u, pPixels[14 * 16 + 1]);

    // The menu's items carry the picture of the thread's menu DPI, set as the item's own bitmap.
    std::vector<MenuItem> items = MenuFor({MakeFile(L"a.txt")});
    ASSERT_EQ(3u, items.size());
    EXPECT_EQ(CMenuPicture::ForDpi(CMenuPicture::MenuDpi()), items[0].bitmap);
    MENUITEMINFOW mii = {};
    mii.cbSize = sizeof(mii);
    mii.fMask = MIIM_CHECKMARKS;
    ASSERT_TRUE(::GetMenuItemInfoW(m_menu.Get(), 0, TRUE, &mii));
    EXPECT_EQ(nullptr, mii.hbmpUnchecked);
}

TEST_F(MenuTest, MenuBitmapOutlivesTheObjectsThatShowedIt)
{
    EXPECT_EQ(S_OK, InitializeWith({MakeFile(L"a.txt")}));
    CUniqueMenu menu(::CreatePopupMenu());
    EXPECT_EQ(3, BuildOn(menu.Get()));
    CRef<CTestableShellExt> other(NewShellExt());
    EXPECT_EQ(m_obj->Bitmap(), other->Bitmap()); // loaded once for the process

    // A host may release the object before it shows the menu, or while the menu is open.
    m_obj.Reset(nullptr);
    other.Reset(nullptr);
    HBITMAP hShown = ReadMenu(menu.Get())[0].bitmap;
    BITMAP bm = {};
    EXPECT_EQ(static_cast<int>(sizeof(bm)), ::GetObjectW(hShown, sizeof(bm), &bm));
    m_obj.Reset(NewShellExt());
    EXPECT_EQ(hShown, m_obj->Bitmap());
}
