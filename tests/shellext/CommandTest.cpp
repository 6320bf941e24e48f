// InvokeCommand: what each row does to the remembered item and which command line starts the
// comparison program (the recorder, a real process), including the real file-open dialog.
#include "ShellExtFixture.h"
#include <atomic>
#include <filesystem>
#include <chrono>
#include <thread>

namespace {
// Finds this process's file dialog from another thread and answers it as a user would: each
// folder of "browse" is typed into the name field and confirmed (the dialog goes there), then the
// final path is entered and confirmed, or the dialog is cancelled when it is empty. With
// bRefused the dialog is expected to refuse the path with a message of its own: that message is
// closed and the dialog cancelled. Also answers a message box, keeping its text.
class CDialogAnswerer {
public:
    explicit CDialogAnswerer(std::wstring path, std::vector<std::wstring> browse = {}, bool bRefused = false)
        : m_path(std::move(path)), m_browse(std::move(browse)), m_bRefused(bRefused),
          m_thread([this] { Run(); })
    {
    }
    ~CDialogAnswerer()
    {
        m_stop = true;
        m_thread.join();
    }
    bool Found() const { return m_found; }
    HWND Owner() const { return m_owner; }
    bool OwnerWasEnabled() const { return m_ownerEnabled; }
    bool Refused() const { return m_refusedSeen; }
    std::wstring Text() const { return m_text; } // read once the answerer is gone or has answered

private:
    // A visible dialog of this process other than the one in *lParam.
    static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        wchar_t cls[32] = {};
        ::GetClassNameW(hWnd, cls, 32);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) && std::wstring(cls) == L"#32770" &&
            hWnd != *reinterpret_cast<HWND*>(lParam)) {
            *reinterpret_cast<HWND*>(lParam) = hWnd;
            return FALSE;
        }
        return TRUE;
    }
    static void Enter(HWND hDlg, const std::wstring& text)
    {
        // The file-name field: an edit inside the name combo box, or a plain edit.
        HWND hName = ::GetDlgItem(hDlg, cmb13);
        HWND hEdit = hName ? ::FindWindowExW(hName, nullptr, L"Edit", nullptr) : nullptr;
        if (!hEdit)
            hEdit = hName ? hName : ::GetDlgItem(hDlg, edt1);
        ::SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    HWND WaitForDialog(HWND hOther)
    {
        for (int i = 0; i < 600 && !m_stop; ++i) {
            HWND hDlg = hOther;
            ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&hDlg));
            if (hDlg != hOther)
                return hDlg;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return nullptr;
    }
    static BOOL CALLBACK CollectText(HWND hWnd, LPARAM lParam)
    {
        wchar_t cls[32] = {};
        ::GetClassNameW(hWnd, cls, 32);
        if (::lstrcmpiW(cls, L"Static") == 0) {
            wchar_t text[2048] = {};
            ::GetWindowTextW(hWnd, text, 2048);
            *reinterpret_cast<std::wstring*>(lParam) += text;
        }
        return TRUE;
    }
    void Run()
    {
        HWND hDlg = WaitForDialog(nullptr);
        if (!hDlg)
            return;
        ::EnumChildWindows(hDlg, CollectText, reinterpret_cast<LPARAM>(&m_text));
        HWND hOwner = ::GetWindow(hDlg, GW_OWNER);
        m_ownerEnabled = hOwner && ::IsWindowEnabled(hOwner);
        m_owner = hOwner;
        m_found = true;
        const LPARAM okButton = reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDOK));
        for (const std::wstring& folder : m_browse) {
            Enter(hDlg, folder);
            // Sent, so that the dialog has moved to the folder before the next step.
            ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), okButton);
        }
        if (m_path.empty()) {
            ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return;
        }
        Enter(hDlg, m_path);
        ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), okButton);
        if (!m_bRefused)
            return;
        if (HWND hRefusal = WaitForDialog(hDlg)) {
            m_refusedSeen = true;
            ::PostMessageW(hRefusal, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        for (int i = 0; i < 100 && ::IsWindow(hDlg) && !::IsWindowEnabled(hDlg); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }

    std::wstring m_path;
    std::vector<std::wstring> m_browse;
    bool m_bRefused;
    std::wstring m_text;
    std::atomic<bool> m_refusedSeen{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_found{false};
    std::atomic<HWND> m_owner{nullptr};
    std::atomic<bool> m_ownerEnabled{false};
    std::thread m_thread;
};

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
std::wstring g_shellFile, g_shellParameters;
HWND g_shellOwner;
DWORD g_shellError;
BOOL WINAPI CreateProcessNeedingElevation(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL,
                                          DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)
{
    ::SetLastError(740); // ERROR_ELEVATION_REQUIRED
    return FALSE;
}
BOOL WINAPI RecordingShellExecute(SHELLEXECUTEINFOW* pInfo)
{
    g_shellFile = pInfo->lpFile ? pInfo->lpFile : L"";
    g_shellParameters = pInfo->lpParameters ? pInfo->lpParameters : L"";
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

    // Consent declined: the user's own answer, so no message, and the file stays marked.
    g_shellError = ERROR_CANCELLED;
    CDialogAnswerer none(L"");
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_CANCELLED), InvokeWith(0, hHost, 0));
    EXPECT_EQ(first, reg::GetString(L"FirstSelection"));

    g_shellError = 0;
    EXPECT_EQ(S_OK, InvokeWith(1, hHost, 0));
    EXPECT_FALSE(none.Found());
    CTestableShellExt::SetStartCalls({nullptr, nullptr});
    EXPECT_EQ(m_program, g_shellFile);
    EXPECT_EQ(" /hex /f1 \"" + Utf8(first) + "\" /f2 \"" + Utf8(second) + "\"", Utf8(g_shellParameters));
    EXPECT_EQ(hHost, g_shellOwner);
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

TEST_F(CommandTest, StringVerbsAndIndexesOutsideTheTableStartNothing)
{
    CMINVOKECOMMANDINFO ici = {};
    ici.cbSize = sizeof(ici);
    ici.lpVerb = "open";
    EXPECT_EQ(E_INVALIDARG, m_obj->InvokeCommand(&ici)); // never built: state 0
    EXPECT_EQ(E_INVALIDARG, m_obj->InvokeCommand(nullptr));
    EXPECT_EQ(S_FALSE, Invoke(1));

    EXPECT_EQ(3, Prepare({MakeFile(L"a.txt")}));
    EXPECT_EQ(S_FALSE, Invoke(3));
    EXPECT_EQ(S_FALSE, Invoke(0x7FFF));
    EXPECT_EQ(E_INVALIDARG, m_obj->InvokeCommand(&ici));
    EXPECT_EQ(L"<missing>", reg::GetString(L"FirstSelection"));
    EXPECT_TRUE(NothingRecorded());
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
