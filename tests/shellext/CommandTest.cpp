// InvokeCommand: what each row does to the remembered item and which command line starts the
// comparison program (the recorder, a real process), including the real file-open dialog.
#include "ShellExtFixture.h"
#include <atomic>
#include <chrono>
#include <thread>

namespace {
// Finds this process's file dialog from another thread and either enters a path and presses OK
// or cancels it, as a user would.
class CDialogAnswerer {
public:
    explicit CDialogAnswerer(std::wstring path) : m_path(std::move(path)), m_thread([this] { Run(); }) {}
    ~CDialogAnswerer() { m_thread.join(); }
    bool Found() const { return m_found; }

private:
    static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        wchar_t cls[32] = {};
        ::GetClassNameW(hWnd, cls, 32);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) && std::wstring(cls) == L"#32770") {
            *reinterpret_cast<HWND*>(lParam) = hWnd;
            return FALSE;
        }
        return TRUE;
    }
    void Run()
    {
        HWND hDlg = nullptr;
        for (int i = 0; i < 600 && !hDlg; ++i) {
            ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&hDlg));
            if (!hDlg)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!hDlg)
            return;
        m_found = true;
        if (m_path.empty()) {
            ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return;
        }
        // The file-name field: an edit inside the name combo box, or a plain edit.
        HWND hName = ::GetDlgItem(hDlg, cmb13);
        HWND hEdit = hName ? ::FindWindowExW(hName, nullptr, L"Edit", nullptr) : nullptr;
        if (!hEdit)
            hEdit = hName ? hName : ::GetDlgItem(hDlg, edt1);
        ::SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(m_path.c_str()));
        ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                       reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDOK)));
    }

    std::wstring m_path;
    std::atomic<bool> m_found{false};
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

TEST_F(CommandTest, CompareClearsTheRememberedFileEvenWhenTheStartFails)
{
    reg::SetString(L"Korvane", (m_scratch / L"missing\\korvane.exe").wstring());
    reg::SetString(L"FirstSelection", MakeFile(L"first.txt"));
    EXPECT_EQ(4, Prepare({MakeFile(L"second.txt")}));
    EXPECT_EQ(S_FALSE, Invoke(0));
    EXPECT_EQ(L"", reg::GetString(L"FirstSelection"));
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
    reg::SetString(L"Korvane", L"C:\\" + std::wstring(200, L'k')); // longer than 199: not read
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(2u, WaitForRecords(2).size());
    reg::DeleteProductKey();
    EXPECT_EQ(S_OK, Invoke(0));
    EXPECT_EQ(std::vector<std::string>(3, Line("text", L"", L"")), WaitForRecords(3));
    ::DeleteFileW(beside.c_str());
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
