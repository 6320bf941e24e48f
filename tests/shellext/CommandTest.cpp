// InvokeCommand: what each row does to the remembered item and which command line starts the
// comparison program (the recorder, a real process), including the real file-open dialog.
#include "ShellExtFixture.h"
#include "DialogAnswerer.h"
#include <atomic>
#include <map>
#include <filesystem>
#include <chrono>
#include <thread>

namespace {
class CommandTest : public ShellExtTest {
protected:
    void SetUp() override
    {
        ShellExtTest::SetUp();
        m_program = InstallRecorder(L"Program Files\\Korvane");
        reg::SetString(L"Korvane", m_program);
        m_quoted = "\"" + Utf8(m_program) + "\"";
        m_originalDirectory = CurrentDirectory();
    }
    void TearDown() override
    {
        ::SetCurrentDirectoryW(m_originalDirectory.c_str()); // the scratch folder cannot go while current
        ShellExtTest::TearDown();
    }
    static std::wstring CurrentDirectory()
    {
        wchar_t dir[MAX_PATH] = {};
        ::GetCurrentDirectoryW(MAX_PATH, dir);
        return dir;
    }
    HRESULT InvokeWith(UINT nIndex, HWND hWnd, DWORD fMask)
    {
        CMINVOKECOMMANDINFO ici = {};
        ici.cbSize = sizeof(ici);
        ici.fMask = fMask;
        ici.hwnd = hWnd;
        ici.lpVerb = MAKEINTRESOURCEA(nIndex);
        ici.nShow = SW_SHOWNORMAL;
        return m_obj->InvokeCommand(&ici);
    }
    // Initialize with the names and build the menu; returns the number of items.
    HRESULT Prepare(const std::vector<std::wstring>& names)
    {
        EXPECT_EQ(S_OK, InitializeWith(names));
        CUniqueMenu menu(::CreatePopupMenu());
        return BuildOn(menu.Get());
    }
    std::string Line(const char* mode, const std::wstring& f1, const std::wstring& f2) const
    {
        return m_quoted + " /" + mode + " /f1 \"" + Utf8(f1) + "\" /f2 \"" + Utf8(f2) + "\"";
    }
    bool NothingRecorded()
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        return !std::filesystem::exists(m_recordFile);
    }

    std::wstring m_program;
    std::string m_quoted;
    std::wstring m_originalDirectory;
};
} // namespace

TEST_F(CommandTest, NeverBuiltObjectRunsTheProgramQuotedWithEmptyFiles)
{
    // The recorder sits below "Program Files": unquoted, the system would look for "...\Program.exe".
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(std::vector<std::string>({Line("text", L"", L"")}), WaitForRecords());
}

TEST_F(CommandTest, AlreadyQuotedProgramPathIsUsedAsItStands)
{
    reg::SetString(L"Korvane", L"\"" + m_program + L"\"");
    EXPECT_EQ(1, Prepare({MakeFolder(L"only a folder")}));
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(std::vector<std::string>({Line("text", L"", L"")}), WaitForRecords());
}

TEST_F(CommandTest, RememberThenCompareWithTheRememberedFile)
{
    std::wstring first = MakeFile(L"first.txt"), second = MakeFile(L"second.txt");
    EXPECT_EQ(3, Prepare({first}));
    EXPECT_EQ(S_FALSE, Invoke(0));
    EXPECT_EQ(first, reg::GetString(L"FirstSelection"));

    m_obj.Reset(NewShellExt()); // the next menu is a new object
    EXPECT_EQ(4, Prepare({second}));
    EXPECT_EQ(S_OK, Invoke(1));
    EXPECT_EQ(std::vector<std::string>({Line("hex", first, second)}), WaitForRecords());
    EXPECT_EQ(L"", reg::GetString(L"FirstSelection"));
}

// The product moved while Explorer still holds the extension: one message, owned by the host's
// window and naming the program, and the marked file is still marked.
TEST_F(CommandTest, FailedStartIsToldOnceAndKeepsTheRememberedFile)
{
    // Names no file: the program beside the module is tried, and is missing too.
    reg::SetString(L"Korvane", (m_scratch / L"moved\\korvane.exe").wstring());
    wchar_t module[MAX_PATH];
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    const std::wstring beside = (std::filesystem::path(module).parent_path() / L"korvane.exe").wstring();
    std::wstring first = MakeFile(L"first.txt");
    reg::SetString(L"FirstSelection", first);
    EXPECT_EQ(4, Prepare({MakeFile(L"second.txt")}));
    HWND hHost = ::CreateWindowExW(0, L"STATIC", L"Explorer stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200,
                                   nullptr, nullptr, nullptr, nullptr);
    CDialogAnswerer message(L"");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), InvokeWith(0, hHost, 0));
    EXPECT_TRUE(message.Found());
    EXPECT_EQ(hHost, message.Owner());
    EXPECT_NE(std::wstring::npos, message.Text().find(beside)) << Utf8(message.Text());
    EXPECT_EQ(first, reg::GetString(L"FirstSelection"));
    ::DestroyWindow(hHost);

    CDialogAnswerer none(L"");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), InvokeWith(1, nullptr, CMIC_MASK_FLAG_NO_UI));
    EXPECT_FALSE(none.Found());
    EXPECT_EQ(first, reg::GetString(L"FirstSelection"));
}

namespace {
// Windows' answer for a program whose manifest asks for administrator rights, which wine never gives.
std::wstring g_shellFile, g_shellParameters, g_shellDirectory, g_startDirectory;
HWND g_shellOwner;
DWORD g_shellError;
BOOL WINAPI CreateProcessNeedingElevation(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                          DWORD, LPVOID, LPCWSTR pszDirectory, LPSTARTUPINFOW,
                                          LPPROCESS_INFORMATION)
{
    g_startDirectory = pszDirectory ? pszDirectory : L"";
    ::SetLastError(740); // ERROR_ELEVATION_REQUIRED
    return FALSE;
}
BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* pInfo)
{
    g_shellFile = pInfo->lpFile ? pInfo->lpFile : L"";
    g_shellParameters = pInfo->lpParameters ? pInfo->lpParameters : L"";
    g_shellDirectory = pInfo->lpDirectory ? pInfo->lpDirectory : L"";
    g_shellOwner = pInfo->hwnd;
    ::SetLastError(g_shellError);
    return g_shellError == 0;
}
} // namespace

TEST_F(CommandTest, ProgramNeedingElevationStartsThroughTheShellAskingForConsent)
{
    CTestableShellExt::SetStartCalls({&CreateProcessNeedingElevation, &RecordingShellExecute});
    std::wstring first = MakeFile(L"first.txt"), second = MakeFile(L"second.txt");
    reg::SetString(L"FirstSelection", first);
    EXPECT_EQ(4, Prepare({second}));
    HWND hHost = ::CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200, nullptr,
                                   nullptr, nullptr, nullptr);

    // A caller that allows no user interface gets no consent prompt either.
    g_shellFile = L"<not called>";
    CDialogAnswerer none(L"");
    EXPECT_EQ(HRESULT_FROM_WIN32(740), InvokeWith(0, hHost, CMIC_MASK_FLAG_NO_UI));
    EXPECT_EQ(L"<not called>", g_shellFile);
    EXPECT_EQ(first, reg::GetString(L"FirstSelection"));

    // Consent declined: the user's own answer, so no message, and the file stays marked.
    g_shellError = ERROR_CANCELLED;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED), InvokeWith(0, hHost, 0));
    EXPECT_EQ(first, reg::GetString(L"FirstSelection"));

    g_shellError = 0;
    EXPECT_EQ(S_OK, InvokeWith(1, hHost, 0));
    EXPECT_FALSE(none.Found());
    CTestableShellExt::SetStartCalls({nullptr, nullptr});
    EXPECT_EQ(m_program, g_shellFile);
    EXPECT_EQ(" /hex /f1 \"" + Utf8(first) + "\" /f2 \"" + Utf8(second) + "\"", Utf8(g_shellParameters));
    EXPECT_EQ(hHost, g_shellOwner);
    // Both starts in the program's own folder, never in the host's current one.
    const std::wstring folder = std::filesystem::path(m_program).parent_path().wstring();
    EXPECT_EQ(folder, g_startDirectory);
    EXPECT_EQ(folder, g_shellDirectory);
    EXPECT_EQ(L"", reg::GetString(L"FirstSelection"));
    ::DestroyWindow(hHost);
}

TEST_F(CommandTest, PairRowsKeepTheSelectionOrder)
{
    std::wstring a = MakeFile(L"a b.txt"), b = MakeFile(L"b.txt");
    EXPECT_EQ(2, Prepare({b, a}));
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(1u, WaitForRecords(1).size());
    EXPECT_EQ(S_OK, Invoke(1));
    EXPECT_EQ(std::vector<std::string>({Line("text", b, a), Line("hex", b, a)}), WaitForRecords(2));
}

// A script names an item by its verb, ANSI or Unicode; anything that is no item of this menu
// fails and does nothing.
TEST_F(CommandTest, ItemsByVerbOrIndexAndNothingElse)
{
    std::wstring a = MakeFile(L"a.txt"), b = MakeFile(L"b.txt");
    const struct {
        const char* pszCase;
        const char* pszVerb;     // lpVerb: a string, or null for nIndex
        const wchar_t* pszVerbW; // lpVerbW, read only with the Unicode flag in the extended record
        UINT nIndex;
        DWORD cbSize;
        HRESULT hr;
        const char* pszMode; // the comparison started, or null
    } rows[] = {
        {"ANSI verb", "KorvaneCompareSelectedText", nullptr, 0, sizeof(CMINVOKECOMMANDINFOEX), S_OK, "text"},
        {"Unicode verb, no ANSI one", nullptr, L"korvanecompareselectedBINARY", 0,
         sizeof(CMINVOKECOMMANDINFOEX), S_OK, "hex"},
        {"Unicode verb in a short record", nullptr, L"KorvaneCompareSelectedText", 1,
         sizeof(CMINVOKECOMMANDINFO), S_OK, "hex"},
        {"index", nullptr, nullptr, 0, sizeof(CMINVOKECOMMANDINFO), S_OK, "text"},
        {"unknown verb", "open", nullptr, 0, sizeof(CMINVOKECOMMANDINFOEX), E_FAIL, nullptr},
        {"verb of another menu", nullptr, L"KorvaneSelectFirst", 0, sizeof(CMINVOKECOMMANDINFOEX), E_FAIL,
         nullptr},
        {"verb with more after it", "KorvaneCompareSelectedText2", nullptr, 0, sizeof(CMINVOKECOMMANDINFOEX),
         E_FAIL, nullptr},
        {"index past the items", nullptr, nullptr, 2, sizeof(CMINVOKECOMMANDINFO), E_FAIL, nullptr},
        {"largest index", nullptr, nullptr, 0xFFFF, sizeof(CMINVOKECOMMANDINFO), E_FAIL, nullptr},
    };
    EXPECT_EQ(2, Prepare({a, b}));
    std::vector<std::string> expected;
    for (const auto& row : rows) {
        CMINVOKECOMMANDINFOEX ici = {};
        ici.cbSize = row.cbSize;
        ici.fMask = CMIC_MASK_UNICODE;
        ici.lpVerb = row.pszVerb ? row.pszVerb : MAKEINTRESOURCEA(row.nIndex);
        ici.lpVerbW = row.pszVerbW;
        ici.nShow = SW_SHOWNORMAL;
        EXPECT_EQ(row.hr, m_obj->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&ici))) << row.pszCase;
        if (row.pszMode)
            expected.push_back(Line(row.pszMode, a, b));
        EXPECT_EQ(expected, WaitForRecords(expected.size())) << row.pszCase;
    }
    EXPECT_EQ(E_INVALIDARG, m_obj->InvokeCommand(nullptr));

    // Each of the eight items has a verb of its own, whichever menu shows it.
    std::map<std::string, UINT> verbs;
    for (m_obj->m_nMenuState = 0; m_obj->m_nMenuState < 4; ++m_obj->m_nMenuState)
        for (int i = 0; UINT nItemId = m_obj->GetItemId(i); ++i)
            EXPECT_EQ(nItemId, verbs.emplace(CCompareMenu::GetItemVerb(nItemId), nItemId).first->second);
    EXPECT_EQ(8u, verbs.size());
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a start that should not have been
    EXPECT_EQ(expected, WaitForRecords(expected.size()));
}

// A script's verb reaches the object also when it added no item (the default-only flag, the
// Windows 11 package) or was never asked for a menu: it acts on the selection as it is now, and
// not at all while the menu is switched off.
TEST_F(CommandTest, VerbsWithoutABuiltMenu)
{
    std::wstring a = MakeFile(L"a.txt"), b = MakeFile(L"b.txt");
    auto invokeVerb = [this](const char* pszVerb) {
        CMINVOKECOMMANDINFO ici = {};
        ici.cbSize = sizeof(ici);
        ici.lpVerb = pszVerb;
        ici.nShow = SW_SHOWNORMAL;
        return m_obj->InvokeCommand(&ici);
    };
    EXPECT_EQ(S_OK, InitializeWith({a, b}));
    EXPECT_EQ(S_OK, invokeVerb("KorvaneCompareSelectedText"));
    EXPECT_EQ(std::vector<std::string>({Line("text", a, b)}), WaitForRecords(1));

    CUniqueMenu menu(::CreatePopupMenu());
    EXPECT_EQ(0, BuildOn(menu.Get(), CMF_DEFAULTONLY));
    EXPECT_EQ(S_OK, invokeVerb("KorvaneCompareSelectedBinary"));
    EXPECT_EQ(std::vector<std::string>({Line("text", a, b), Line("hex", a, b)}), WaitForRecords(2));

    reg::SetDword(L"ContextMenuEnabled", 0);
    EXPECT_EQ(E_FAIL, invokeVerb("KorvaneCompareSelectedText"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300)); // a start that should not have been
    EXPECT_EQ(std::vector<std::string>({Line("text", a, b), Line("hex", a, b)}), WaitForRecords(2));
}

// The program starts in its own folder, a root kept with its separator in every form.
TEST(ProgramFolder, OfEveryFormOfPath)
{
    const std::wstring longFolder = L"C:\\" + std::wstring(MAX_PATH - 5, L'x'); // 258 characters
    const struct {
        std::wstring file, folder;
    } rows[] = {
        {L"C:\\korvane.exe", L"C:\\"},
        {L"\\\\?\\C:\\korvane.exe", L"\\\\?\\C:\\"},
        {L"\\\\server\\share\\korvane.exe", L"\\\\server\\share"},
        {L"\\\\?\\UNC\\server\\share\\korvane.exe", L"\\\\?\\UNC\\server\\share"},
        {L"\\korvane.exe", L"\\"},
        {L"C:\\Tools/bin/korvane.exe", L"C:\\Tools/bin"},
        {L"korvane.exe", L""},
        {longFolder + L"\\k.exe", longFolder},
        {longFolder + L"y\\k.exe", L""}, // longer than a current directory may be
    };
    for (const auto& row : rows)
        EXPECT_EQ(row.folder, std::wstring(CCompareMenu::ProgramFolder(row.file.c_str()).GetString()))
            << "row " << &row - rows;
}

// Another Explorer window remembered a new file while this menu was open: the compare uses the
// file this menu named, and the new choice stays.
TEST_F(CommandTest, CompareWithTheRememberedFileKeepsANewerChoice)
{
    std::wstring first = MakeFile(L"first.txt"), newer = MakeFile(L"newer.txt"),
                 second = MakeFile(L"second.txt");
    reg::SetString(L"FirstSelection", first);
    EXPECT_EQ(4, Prepare({second}));
    reg::SetString(L"FirstSelection", newer);
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(std::vector<std::string>({Line("text", first, second)}), WaitForRecords());
    EXPECT_EQ(newer, reg::GetString(L"FirstSelection"));
}

TEST_F(CommandTest, WithoutAUsableKorvaneValueTheProgramBesideTheModuleStarts)
{
    wchar_t module[MAX_PATH];
    ::GetModuleFileNameW(nullptr, module, MAX_PATH);
    std::filesystem::path beside = std::filesystem::path(module).parent_path() / L"korvane.exe";
    ASSERT_TRUE(::CopyFileW(m_program.c_str(), beside.c_str(), FALSE));
    m_quoted = "\"" + Utf8(beside.wstring()) + "\"";

    reg::SetString(L"Korvane", L"");
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(1u, WaitForRecords(1).size());
    reg::SetString(L"Korvane", (m_scratch / L"uninstalled\\korvane.exe").wstring()); // names no file
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(2u, WaitForRecords(2).size());
    reg::DeleteProductKey();
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(std::vector<std::string>(3, Line("text", L"", L"")), WaitForRecords(3));
    ::DeleteFileW(beside.c_str());
}

TEST_F(CommandTest, ExpandableKorvaneValueAndLongNamesAsTheyStand)
{
    ::SetEnvironmentVariableW(L"KV_TEST_PROGRAMS", (m_scratch / L"Program Files").c_str());
    const wchar_t value[] = L"%KV_TEST_PROGRAMS%\\Korvane\\korvane.exe";
    reg::SetRaw(L"Korvane", REG_EXPAND_SZ, value, sizeof(value));
    std::wstring deep = MakeDeepFile(300), other = MakeFile(L"b.txt");
    EXPECT_EQ(2, Prepare({deep, other}));
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(std::vector<std::string>({Line("text", deep, other)}), WaitForRecords());
}

TEST_F(CommandTest, DialogRowComparesWithTheChosenFileAndKeepsTheRememberedOne)
{
    std::wstring remembered = MakeFile(L"old.txt");
    std::wstring selected = MakeFile(L"selected.txt"), chosen = MakeFile(L"chosen file.txt");
    reg::SetString(L"FirstSelection", remembered);
    EXPECT_EQ(4, Prepare({selected}));
    {
        CDialogAnswerer answer(chosen);
        EXPECT_EQ(S_OK, Invoke(3));
        EXPECT_TRUE(answer.Found());
    }
    EXPECT_EQ(std::vector<std::string>({Line("hex", selected, chosen)}), WaitForRecords());
    EXPECT_EQ(remembered, reg::GetString(L"FirstSelection"));
}

TEST_F(CommandTest, CancelledDialogStartsNothing)
{
    EXPECT_EQ(3, Prepare({MakeFile(L"a.txt")}));
    {
        CDialogAnswerer cancel(L"");
        EXPECT_EQ(S_FALSE, Invoke(1));
        EXPECT_TRUE(cancel.Found());
    }
    EXPECT_TRUE(NothingRecorded());
    EXPECT_EQ(L"<missing>", reg::GetString(L"FirstSelection"));
}

TEST_F(CommandTest, FileDialogAcceptsOnlyAnExistingFile)
{
    EXPECT_EQ(3, Prepare({MakeFile(L"a.txt")}));
    {
        CDialogAnswerer refused((m_scratch / L"typed but missing.txt").wstring(), {}, true);
        EXPECT_EQ(S_FALSE, Invoke(1));
        EXPECT_TRUE(refused.Refused());
    }
    EXPECT_TRUE(NothingRecorded());
}

TEST_F(CommandTest, FileDialogLeavesTheCurrentDirectoryWhereItWas)
{
    std::wstring start = MakeFolder(L"start"), other = MakeFolder(L"other");
    std::wstring chosen = MakeFile(L"other\\chosen.txt"), selected = MakeFile(L"a.txt");
    ASSERT_TRUE(::SetCurrentDirectoryW(start.c_str()));
    EXPECT_EQ(3, Prepare({selected}));
    {
        CDialogAnswerer cancel(L"", {other});
        EXPECT_EQ(S_FALSE, Invoke(1));
        EXPECT_TRUE(cancel.Found());
    }
    EXPECT_EQ(start, CurrentDirectory()) << "after a cancel";
    {
        CDialogAnswerer confirm(L"chosen.txt", {other});
        EXPECT_EQ(S_OK, Invoke(2));
        EXPECT_TRUE(confirm.Found());
    }
    EXPECT_EQ(start, CurrentDirectory()) << "after a confirmed choice";
    // A name typed in the dialog counts in the folder it browsed to.
    EXPECT_EQ(std::vector<std::string>({Line("hex", selected, chosen)}), WaitForRecords());
}

TEST_F(CommandTest, FileDialogIsModalToTheInvokingWindow)
{
    HWND hHost = ::CreateWindowExW(0, L"STATIC", L"Explorer stand-in", WS_OVERLAPPEDWINDOW, 0, 0, 320, 200,
                                   nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, hHost);
    EXPECT_EQ(3, Prepare({MakeFile(L"a.txt")}));
    {
        CDialogAnswerer cancel(L"");
        EXPECT_EQ(S_FALSE, InvokeWith(1, hHost, 0));
        EXPECT_TRUE(cancel.Found());
        EXPECT_EQ(hHost, cancel.Owner());
        EXPECT_FALSE(cancel.OwnerWasEnabled());
    }
    EXPECT_TRUE(::IsWindowEnabled(hHost));
    ::DestroyWindow(hHost);

    // A window that is gone by the time of the command: the dialog still shows, without an owner.
    CDialogAnswerer cancel(L"");
    EXPECT_EQ(S_FALSE, InvokeWith(2, hHost, 0));
    EXPECT_TRUE(cancel.Found());
    EXPECT_EQ(nullptr, cancel.Owner());
}

TEST_F(CommandTest, NoUiFlagLeavesOutOnlyTheRowsThatNeedTheDialog)
{
    std::wstring selected = MakeFile(L"a.txt");
    EXPECT_EQ(3, Prepare({selected}));
    {
        CDialogAnswerer cancel(L""); // closes a dialog that should not have appeared
        EXPECT_EQ(S_FALSE, InvokeWith(1, nullptr, CMIC_MASK_FLAG_NO_UI));
        EXPECT_EQ(S_FALSE, InvokeWith(2, nullptr, CMIC_MASK_FLAG_NO_UI));
        EXPECT_FALSE(cancel.Found());
    }
    EXPECT_TRUE(NothingRecorded());
    EXPECT_EQ(S_FALSE, InvokeWith(0, nullptr, CMIC_MASK_FLAG_NO_UI));
    EXPECT_EQ(selected, reg::GetString(L"FirstSelection"));
}
