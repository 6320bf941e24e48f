// Initialize: which of the selected names become the object's files, and what the menu then is.
#include "ShellExtFixture.h"
#include <cstring>

namespace {
class SelectionTest : public ShellExtTest {
protected:
    // The number of items of the menu built after Initialize: tells the state taken.
    HRESULT ItemsAfter(const std::vector<std::wstring>& names)
    {
        EXPECT_EQ(S_OK, InitializeWith(names));
        CUniqueMenu menu(::CreatePopupMenu());
        return BuildOn(menu.Get());
    }
};
} // namespace

TEST_F(SelectionTest, FoldersAndVanishedPathsAreNotTaken)
{
    std::wstring folder = MakeFolder(L"dir");
    std::wstring vanished = (m_scratch / L"gone.txt").wstring();
    EXPECT_EQ(1, ItemsAfter({folder, vanished})); // run state
    EXPECT_EQ(0, m_obj->m_nFileCount);

    std::wstring file = MakeFile(L"a.txt");
    EXPECT_EQ(3, ItemsAfter({folder, vanished, file})); // one file: select-first state
    EXPECT_EQ(1, m_obj->m_nFileCount);
    EXPECT_EQ(file, m_obj->m_strFile1.GetString());
}

TEST_F(SelectionTest, TakesTheFirstTwoFilesInListOrder)
{
    std::wstring a = MakeFile(L"a.txt"), b = MakeFile(L"b.txt"), c = MakeFile(L"c.txt");
    EXPECT_EQ(2, ItemsAfter({c, a, b}));
    EXPECT_EQ(2, m_obj->m_nFileCount);
    EXPECT_EQ(c, m_obj->m_strFile1.GetString());
    EXPECT_EQ(a, m_obj->m_strFile2.GetString());
}

TEST_F(SelectionTest, ThousandsOfFoldersBeforeTheFiles)
{
    std::wstring folder = MakeFolder(L"dir");
    std::vector<std::wstring> names(5000, folder);
    names.push_back(MakeFile(L"last.txt"));
    EXPECT_EQ(3, ItemsAfter(names));
    EXPECT_EQ(names.back(), m_obj->m_strFile1.GetString());
}

TEST_F(SelectionTest, NamesLongerThanAPathAreTakenWhole)
{
    std::wstring deep = MakeDeepFile(400), other = MakeFile(L"b.txt");
    // Cut to 259 characters this name would be the existing file's: it is not that file.
    std::wstring file = MakeFile(std::wstring(100, L'x'));
    std::wstring vanished = file + std::wstring(300, L'y');
    EXPECT_EQ(2, ItemsAfter({vanished, deep, other}));
    EXPECT_EQ(deep, m_obj->m_strFile1.GetString());
    EXPECT_EQ(other, m_obj->m_strFile2.GetString());
}

TEST_F(SelectionTest, UnusableDataObjectsAreRefusedAndMediaReleased)
{
    std::wstring a = MakeFile(L"a.txt");
    {
        CRef<CDataObjectDouble> data(new CDataObjectDouble({a}));
        data->SetMode(CDataObjectDouble::Mode::FailGetData);
        EXPECT_EQ(E_INVALIDARG, m_obj->Initialize(nullptr, data.Get(), nullptr));
    }
    {
        CRef<CDataObjectDouble> data(new CDataObjectDouble({a}));
        data->SetMode(CDataObjectDouble::Mode::NullBlock);
        EXPECT_EQ(E_INVALIDARG, m_obj->Initialize(nullptr, data.Get(), nullptr));
        EXPECT_EQ(1, data->MediaReleased());
    }
    {
        CRef<CDataObjectDouble> data(new CDataObjectDouble(std::vector<std::wstring>{}));
        EXPECT_EQ(E_INVALIDARG, m_obj->Initialize(nullptr, data.Get(), nullptr));
        EXPECT_EQ(1, data->MediaReleased());
    }
    EXPECT_EQ(E_INVALIDARG, m_obj->Initialize(nullptr, nullptr, nullptr));
    EXPECT_EQ(0, m_obj->m_nFileCount);
}

TEST_F(SelectionTest, MalformedListsAreNotReadPastTheirBlock)
{
    std::wstring a = MakeFile(L"a.txt");
    std::vector<BYTE> good = CDataObjectDouble::MakeDropBlock({a});

    std::vector<BYTE> unterminated(good.begin(), good.end() - 4); // no terminators at all
    std::vector<BYTE> offsetOutside = good;
    DROPFILES header;
    std::memcpy(&header, offsetOutside.data(), sizeof(header));
    header.pFiles = 1u << 20;
    std::memcpy(offsetOutside.data(), &header, sizeof(header));
    std::vector<BYTE> headerOnly(good.begin(), good.begin() + 8);

    for (const std::vector<BYTE>* block : {&unterminated, &offsetOutside, &headerOnly}) {
        CRef<CDataObjectDouble> data(CDataObjectDouble::FromBytes(*block));
        EXPECT_EQ(E_INVALIDARG, m_obj->Initialize(nullptr, data.Get(), nullptr));
        EXPECT_EQ(1, data->MediaReleased());
    }
    EXPECT_EQ(0, m_obj->m_nFileCount);
}
