// The real kvupdate.exe under wine, driven as a user would drive it, against a local HTTP server
// reached through the proxy settings and serving a recording stand-in for the installer.
#include <gtest/gtest.h>
#include <regex>
#include <vector>
#include "AppDataRedirect.h"
#include "HttpTestServer.h"
#include "UpdaterDriver.h"
#include <commctrl.h> // after windows.h

namespace {
const int IDC_STATUS = 2001;
const int IDC_PROGRESS = 2002;
const char kStopPrompt[] = "Stop downloading and cancel all updates?";
const char kNotInstallPrompt[] = "Not install and cancel all updates?";

const UINT kIconId = 201;

// Whether the notification area shows the dialog's icon: it accepts a change of nothing only for
// an icon it holds.
bool TrayShowsIcon(HWND hDialog)
{
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = hDialog;
    data.uID = kIconId;
    return ::Shell_NotifyIconA(NIM_MODIFY, &data) != FALSE;
}

// In the notification area: the icon is added only once the dialog has been shown, and just
// before it hides. A dialog not yet shown looks hidden too.
bool IsInTray(const CUpdaterProcess& updater, HWND hDialog)
{
    return TrayShowsIcon(hDialog) && !updater.IsDialogVisible();
}

// The dialog once it has gone to the notification area, or nullptr.
HWND WaitForDialogInTray(CUpdaterProcess& updater)
{
    HWND hDialog = updater.WaitForDialog();
    return hDialog && WaitFor([&] { return IsInTray(updater, hDialog); }) ? hDialog : nullptr;
}

// An exit through the program's own end, not a crash or an abort.
bool IsCleanExit(DWORD dwCode)
{
    return dwCode < 0xC0000000 && dwCode != 3 && dwCode != STILL_ACTIVE;
}

class UpdaterProgram : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_strInstaller = ReadFileBytes(ToWindowsPath(KV_RECORDER_EXE));
        ASSERT_GT(m_strInstaller.size(), 1000u);
        char szTemp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, szTemp);
        m_strRecordFile = std::string(szTemp) + "kvupdate-installer-runs.txt";
        ::DeleteFileA(m_strRecordFile.c_str());
        ::SetEnvironmentVariableA("KV_RECORD_FILE", m_strRecordFile.c_str());
        ::DeleteFileA(UpdateFilePath().c_str());
        CreateProductKey();
    }

    void TearDown() override { ::DeleteFileA(UpdateFilePath().c_str()); }

    static void CreateProductKey()
    {
        CUniqueRegKey key;
        ::RegCreateKeyExA(HKEY_CURRENT_USER, ProductKeyPath(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                          nullptr);
        ::RegDeleteValueA(key.Get(), "UpdateReadyToInstall");
    }

    // The installer in pieces of 4 KiB, paced so that a whole run takes about dwTotalMs.
    void ServeInstaller(DWORD dwTotalMs = 0)
    {
        CHttpTestResponse response = CHttpTestResponse::Ok(m_strInstaller);
        if (dwTotalMs) {
            response.nChunkBytes = 4096;
            response.dwChunkDelayMs = dwTotalMs / static_cast<DWORD>(m_strInstaller.size() / 4096 + 1);
        }
        m_server.SetResponses({response});
    }

    std::string InstallerRuns() const { return ReadFileBytes(m_strRecordFile); }

    // What an earlier run left: an installer, recorded as ready to install.
    void RecordEarlierInstaller() const
    {
        ::CreateDirectoryA(UpdateFilePath().substr(0, UpdateFilePath().rfind("\\update\\")).c_str(), nullptr);
        ::CreateDirectoryA(UpdateFilePath().substr(0, UpdateFilePath().rfind('\\')).c_str(), nullptr);
        CUniqueFileHandle file(
            ::CreateFileA(UpdateFilePath().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        // Smaller than the first chunks of this run, so it is not taken for them.
        const char kszEarlier[] = "installer of an earlier run";
        DWORD dwWritten = 0;
        ::WriteFile(file.Get(), kszEarlier, sizeof(kszEarlier) - 1, &dwWritten, nullptr);
        ::RegSetKeyValueA(HKEY_CURRENT_USER, ProductKeyPath(), "UpdateReadyToInstall", REG_SZ, "1", 2);
        ASSERT_EQ("1", ReadUpdateReadyValue());
    }

    void ExpectInstallLayout(CUpdaterProcess& updater)
    {
        EXPECT_EQ("&Install Korvane", updater.ControlText(IDOK));
        EXPECT_EQ("Please close all instances of Korvane now, \n\nthen click the button \"&Install Korvane\" to "
                  "install it, or \"Cancel\" to exit.",
                  updater.ControlText(IDC_STATUS));
        EXPECT_FALSE(updater.IsControlVisible(IDC_PROGRESS));
    }

    CHttpTestServer m_server;
    std::string m_strInstaller;
    std::string m_strRecordFile;
};

TEST_F(UpdaterProgram, DownloadsHiddenThenOffersTheInstallAndStartsTheInstallerByItsQuotedPath)
{
    ServeInstaller(2500);
    // Arguments are not read: they change nothing.
    CUpdaterProcess updater(m_server.GetPort(), "/silent --install now");
    ASSERT_TRUE(updater.WaitForDialog());
    EXPECT_TRUE(WaitFor([&] { return !updater.IsDialogVisible(); }));
    // Hidden in the tray while the bytes come in.
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(UpdateFilePath()).size() > 4096; }));
    EXPECT_FALSE(updater.IsDialogVisible());

    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible(); }));
    ExpectInstallLayout(updater);
    EXPECT_EQ("1", ReadUpdateReadyValue());
    EXPECT_EQ(m_strInstaller, ReadFileBytes(UpdateFilePath()));
    EXPECT_EQ("", InstallerRuns());

    updater.ClickButton(IDOK);
    ASSERT_TRUE(updater.WaitForExit());
    EXPECT_TRUE(IsCleanExit(updater.GetExitCode()));
    ASSERT_TRUE(WaitFor([&] { return !InstallerRuns().empty(); }));
    EXPECT_EQ("\"" + UpdateFilePath() + "\"\r\n", InstallerRuns());

    const auto requests = m_server.GetRequests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_NE(std::string::npos, requests[0].strRequestLine.find("/download/kvsetup.exe"));
    EXPECT_EQ("Korvane", requests[0].Header("User-Agent"));
}

TEST_F(UpdaterProgram, FailedDownloadEndsSilentlyWithoutFileOrRecord)
{
    m_server.SetResponses({CHttpTestResponse::Status("HTTP/1.1 404 Not Found")});
    RecordEarlierInstaller();
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(updater.WaitForExit());
    EXPECT_TRUE(IsCleanExit(updater.GetExitCode()));
    EXPECT_FALSE(FileExists(UpdateFilePath()));
    EXPECT_EQ("", ReadUpdateReadyValue());
    EXPECT_EQ("", InstallerRuns());
}

TEST_F(UpdaterProgram, WithoutProductKeyStaysHiddenAndFromTheTrayItsFirstButtonInstalls)
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, ProductKeyPath());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, ProductKeyPath());
    ServeInstaller();
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(updater.WaitForDialog());
    const std::string strDone = "Downloading Update: Korvane (" + std::to_string(m_strInstaller.size() / 1024) +
                                " KB of " + std::to_string(m_strInstaller.size() / 1024) + " KB)";
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(UpdateFilePath()) == m_strInstaller; }));
    ::Sleep(1000);
    EXPECT_FALSE(updater.IsDialogVisible());
    EXPECT_FALSE(ProductKeyExists()); // opened, never created

    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible(); }));
    EXPECT_EQ(strDone, updater.ControlText(IDC_STATUS));
    EXPECT_TRUE(updater.IsControlVisible(IDC_PROGRESS));
    EXPECT_EQ("&Minimize to Tray", updater.ControlText(IDOK));

    updater.ClickButton(IDOK);
    ASSERT_TRUE(updater.WaitForExit());
    ASSERT_TRUE(WaitFor([&] { return !InstallerRuns().empty(); }));
    EXPECT_EQ("\"" + UpdateFilePath() + "\"\r\n", InstallerRuns());
}

TEST_F(UpdaterProgram, StopPromptAnsweredCancelGoesOnAndAnsweredOkEndsMidDownload)
{
    RecordEarlierInstaller(); // cut short by this run, it must not stay recorded as ready
    ServeInstaller(15000);
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(updater.WaitForDialog());
    ASSERT_TRUE(WaitFor([&] { return !updater.IsDialogVisible(); }));
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(UpdateFilePath()).size() > 8192; }));
    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible(); }));
    // Shown, it tells how far the download has come, not how it started.
    std::smatch match;
    const std::string strShown = updater.ControlText(IDC_STATUS);
    ASSERT_TRUE(std::regex_match(strShown, match, std::regex(R"(Downloading Update: Korvane \((\d+) KB of (\d+) KB\))")))
        << strShown;
    EXPECT_GT(std::stoi(match[1]), 0);
    EXPECT_EQ(std::to_string(m_strInstaller.size() / 1024), match[2].str());

    // The first button sends it back to the tray while the download goes on.
    updater.ClickButton(IDOK);
    ASSERT_TRUE(WaitFor([&] { return !updater.IsDialogVisible(); }));
    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible(); }));

    std::string strText, strCaption;
    updater.ClickButton(IDCANCEL);
    HWND hBox = updater.WaitForMessageBox(&strText, &strCaption);
    ASSERT_TRUE(hBox);
    EXPECT_EQ(kStopPrompt, strText);
    EXPECT_EQ("kvupdate", strCaption);
    CUpdaterProcess::Answer(hBox, IDCANCEL);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(hBox); }));
    const std::string strBefore = updater.ControlText(IDC_STATUS);
    ASSERT_TRUE(WaitFor([&] { return updater.ControlText(IDC_STATUS) != strBefore; }));
    EXPECT_TRUE(updater.IsDialogVisible());

    updater.ClickButton(IDCANCEL);
    hBox = updater.WaitForMessageBox(&strText);
    ASSERT_TRUE(hBox);
    EXPECT_EQ(kStopPrompt, strText);
    CUpdaterProcess::Answer(hBox, IDOK);
    // The worker is still reporting when the dialog goes: the program must end cleanly anyway.
    ASSERT_TRUE(updater.WaitForExit());
    EXPECT_TRUE(IsCleanExit(updater.GetExitCode())) << std::hex << updater.GetExitCode();
    EXPECT_EQ("", ReadUpdateReadyValue());
    EXPECT_EQ("", InstallerRuns());
}

TEST_F(UpdaterProgram, NotInstallPromptAnsweredCancelKeepsAndAnsweredOkDeletesTheInstaller)
{
    ServeInstaller();
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(updater.WaitForDialog());
    ASSERT_TRUE(WaitFor([&] { return updater.ControlText(IDOK) == "&Install Korvane"; }));

    std::string strText;
    updater.PressKey(VK_ESCAPE);
    HWND hBox = updater.WaitForMessageBox(&strText);
    ASSERT_TRUE(hBox);
    EXPECT_EQ(kNotInstallPrompt, strText);
    CUpdaterProcess::Answer(hBox, IDCANCEL);
    ASSERT_TRUE(WaitFor([&] { return !::IsWindow(hBox); }));
    EXPECT_TRUE(updater.IsRunning());
    EXPECT_TRUE(FileExists(UpdateFilePath()));

    updater.ClickButton(IDCANCEL);
    hBox = updater.WaitForMessageBox(&strText);
    ASSERT_TRUE(hBox);
    EXPECT_EQ(kNotInstallPrompt, strText);
    CUpdaterProcess::Answer(hBox, IDOK);
    ASSERT_TRUE(updater.WaitForExit());
    EXPECT_FALSE(FileExists(UpdateFilePath()));
    EXPECT_EQ("", ReadUpdateReadyValue()); // it went with the file
    EXPECT_EQ("", InstallerRuns());
}

TEST_F(UpdaterProgram, StopPromptDuringTheWaitBeforeAskingAgainEndsTheUpdater)
{
    // Every answer breaks off after 5000 bytes of its own: the worker asks again after 1, 2, 4 s.
    CHttpTestResponse response = CHttpTestResponse::Ok(m_strInstaller);
    response.headers.emplace_back("ETag", "\"e2e\"");
    response.bHonourRange = true;
    response.nCutAfter = 5000;
    m_server.SetResponses({response});
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(WaitForDialogInTray(updater));
    // The third answer has broken off: the longest wait has begun.
    ASSERT_TRUE(WaitFor(
        [&] { return m_server.GetRequests().size() == 3 && m_server.GetOpenConnectionCount() == 0; }));
    const std::string strLabel =
        "Downloading Update: Korvane (14 KB of " + std::to_string(m_strInstaller.size() / 1024) + " KB)";
    EXPECT_TRUE(WaitFor([&] { return updater.ControlText(IDC_STATUS) == strLabel; }))
        << updater.ControlText(IDC_STATUS);
    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible(); }));
    updater.ClickButton(IDCANCEL);
    std::string strText;
    HWND hBox = updater.WaitForMessageBox(&strText);
    ASSERT_TRUE(hBox);
    EXPECT_EQ(kStopPrompt, strText);
    EXPECT_EQ(m_server.GetRequests().size(), 3u) << "the prompt came after the wait";
    // Whether the worker is stopped before the wait is up is shown in-process: here wine's own
    // waits on hiding the message box and the icon take longer than the wait itself.
    CUpdaterProcess::Answer(hBox, IDOK);
    ASSERT_TRUE(updater.WaitForExit());
    EXPECT_TRUE(IsCleanExit(updater.GetExitCode())) << std::hex << updater.GetExitCode();
    EXPECT_EQ("", ReadUpdateReadyValue());
}

TEST_F(UpdaterProgram, QuitFromTheTrayMenuAsksAndEnds)
{
    ServeInstaller(15000);
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(updater.WaitForDialog());
    ASSERT_TRUE(WaitFor([&] { return !updater.IsDialogVisible(); }));

    updater.PostTrayEvent(WM_RBUTTONUP);
    HWND hMenu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hMenu = updater.FindPopupMenu()) != nullptr; }));
    // The user picks the last item, "Quit".
    ::PostMessageA(hMenu, WM_KEYDOWN, VK_UP, 0);
    ::PostMessageA(hMenu, WM_KEYDOWN, VK_RETURN, 0);
    std::string strText;
    HWND hBox = updater.WaitForMessageBox(&strText);
    ASSERT_TRUE(hBox);
    EXPECT_EQ(kStopPrompt, strText);
    CUpdaterProcess::Answer(hBox, IDOK);
    ASSERT_TRUE(updater.WaitForExit());
    EXPECT_TRUE(IsCleanExit(updater.GetExitCode())) << std::hex << updater.GetExitCode();
}

TEST_F(UpdaterProgram, FiveStartedTogetherLeaveExactlyOne)
{
    ServeInstaller(15000);
    std::vector<std::unique_ptr<CUpdaterProcess>> updaters;
    for (int i = 0; i < 5; ++i)
        updaters.push_back(std::make_unique<CUpdaterProcess>(m_server.GetPort()));
    auto running = [&] {
        int n = 0;
        for (auto& p : updaters)
            n += p->IsRunning() ? 1 : 0;
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return running() == 1; }));
    ::Sleep(1000);
    EXPECT_EQ(1, running());
    for (auto& p : updaters) {
        if (p->IsRunning()) {
            EXPECT_TRUE(p->WaitForDialog());
        }
    }
}

TEST_F(UpdaterProgram, AKilledUpdaterDoesNotBlockTheNextStart)
{
    ServeInstaller(15000);
    {
        CUpdaterProcess first(m_server.GetPort());
        ASSERT_TRUE(first.WaitForDialog());
        CUpdaterProcess second(m_server.GetPort());
        ASSERT_TRUE(second.WaitForExit()); // the first still runs
        EXPECT_TRUE(first.IsRunning());
        first.Kill();
    }
    CUpdaterProcess next(m_server.GetPort());
    EXPECT_TRUE(next.WaitForDialog());
    ::Sleep(500);
    EXPECT_TRUE(next.IsRunning());
}

TEST_F(UpdaterProgram, InstanceMessageIsConsumedAndItsAtomDeleted)
{
    ServeInstaller(15000);
    CUpdaterProcess updater(m_server.GetPort());
    HWND hDialog = updater.WaitForDialog();
    ASSERT_TRUE(hDialog);
    // The dialog is found by its caption before it has initialised; once its worker asks for the
    // installer, it has gone to the tray and these messages come after its own start message.
    ASSERT_TRUE(WaitFor([&] { return !m_server.GetRequests().empty(); }));
    ASSERT_TRUE(WaitFor([&] { return !updater.IsDialogVisible(); }));
    const UINT uMsg = ::RegisterWindowMessageA("{3F9B2C61-D4A8-4e57-8C0D-7A15E2B9406F}");
    ATOM atom = ::GlobalAddAtomA("kvupdate instance message test");
    ASSERT_NE(0, atom);
    ::PostMessageA(hDialog, uMsg, 0, 0);
    ::PostMessageA(hDialog, uMsg, atom, 0);
    EXPECT_TRUE(WaitFor([&] { return ::GlobalFindAtomA("kvupdate instance message test") == 0; }));
    EXPECT_TRUE(updater.IsRunning());
    EXPECT_FALSE(updater.IsDialogVisible());
}
} // namespace

TEST_F(UpdaterProgram, InstallerInAFolderWithABlankIsStartedByItsWholePath)
{
    // "C:\users\Public\Ann Lee\..." unquoted would first run C:\users\Public\Ann.exe.
    const std::string strDecoy = "C:\\users\\Public\\Ann.exe";
    ASSERT_TRUE(::CopyFileA(ToWindowsPath(KV_RECORDER_EXE).c_str(), strDecoy.c_str(), FALSE));
    {
        CAppDataRedirect redirect(L"C:\\users\\Public\\Ann Lee\\AppData");
        ASSERT_EQ("C:\\users\\Public\\Ann Lee\\AppData\\Korvane\\update\\kvsetup.exe", UpdateFilePath());
        ServeInstaller();
        CUpdaterProcess updater(m_server.GetPort());
        ASSERT_TRUE(updater.WaitForDialog());
        ASSERT_TRUE(WaitFor([&] { return updater.ControlText(IDOK) == "&Install Korvane"; }));
        updater.PressKey(VK_RETURN);
        ASSERT_TRUE(updater.WaitForExit());
        ASSERT_TRUE(WaitFor([&] { return !InstallerRuns().empty(); }));
        ::Sleep(300);
        EXPECT_EQ("\"" + UpdateFilePath() + "\"\r\n", InstallerRuns());
        ::DeleteFileA(UpdateFilePath().c_str());
    }
    ::DeleteFileA(strDecoy.c_str());
}

namespace {
// The kilobytes received so far, from a label in the downloading layout, or -1.
int ReceivedKilobytes(const std::string& strLabel, const std::string& strTotalKb)
{
    std::smatch match;
    if (!std::regex_match(strLabel, match,
                          std::regex(R"(Downloading Update: Korvane \((\d+) KB of (\d+) KB\))")) ||
        match[2].str() != strTotalKb)
        return -1;
    return std::stoi(match[1]);
}

// Accessibility events of the bar, as a screen reader hears them from another process.
HWND g_hWatchedBar = nullptr;
int g_nValueChanges = 0;
void CALLBACK CountValueChanges(HWINEVENTHOOK, DWORD, HWND hWnd, LONG idObject, LONG idChild, DWORD, DWORD)
{
    g_nValueChanges += hWnd == g_hWatchedBar && idObject == OBJID_CLIENT && idChild == CHILDID_SELF ? 1 : 0;
}

void PumpMessages()
{
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&msg);
}
} // namespace

TEST_F(UpdaterProgram, HiddenLabelAndBarAlwaysReadTheNewestReportAndTheBarTellsOfChanges)
{
    ServeInstaller(8000);
    CUpdaterProcess updater(m_server.GetPort());
    HWND hDialog = WaitForDialogInTray(updater);
    ASSERT_TRUE(hDialog);
    const std::string strTotalKb = std::to_string(m_strInstaller.size() / 1024);
    // What a screen reader asks the bar (each end of the range alone: a record would not cross
    // processes) and the events it hears.
    g_hWatchedBar = ::GetDlgItem(hDialog, IDC_PROGRESS);
    g_nValueChanges = 0;
    HWINEVENTHOOK hHook = ::SetWinEventHook(EVENT_OBJECT_VALUECHANGE, EVENT_OBJECT_VALUECHANGE, nullptr,
                                            &CountValueChanges, updater.GetId(), 0, WINEVENT_OUTOFCONTEXT);
    EXPECT_EQ(0, ::SendMessageA(g_hWatchedBar, PBM_GETRANGE, TRUE, 0));
    EXPECT_EQ(100, ::SendMessageA(g_hWatchedBar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(PBST_NORMAL, ::SendMessageA(g_hWatchedBar, PBM_GETSTATE, 0, 0));

    // Read from outside while the window stays hidden: the figures grow with the file on disk.
    std::vector<int> seen, positions;
    ASSERT_TRUE(WaitFor([&] {
        PumpMessages();
        int nKb = ReceivedKilobytes(updater.ControlText(IDC_STATUS), strTotalKb);
        if (nKb > 0 && (seen.empty() || nKb > seen.back()))
            seen.push_back(nKb);
        int nPos = static_cast<int>(::SendMessageA(g_hWatchedBar, PBM_GETPOS, 0, 0));
        if (nPos > 0 && (positions.empty() || nPos > positions.back()))
            positions.push_back(nPos);
        return (seen.size() >= 3 && positions.size() >= 3 && g_nValueChanges >= 3) || updater.IsDialogVisible();
    }));
    ::UnhookWinEvent(hHook);
    EXPECT_GE(seen.size(), 3u) << "the hidden label did not follow the download";
    EXPECT_GE(positions.size(), 3u) << "the bar's position did not follow the download";
    EXPECT_GE(g_nValueChanges, 3);
    EXPECT_LE(positions.back(), 100);
    for (int nKb : seen)
        EXPECT_LE(nKb, static_cast<int>(m_strInstaller.size() / 1024));
    ASSERT_TRUE(WaitFor([&] { return updater.ControlText(IDOK) == "&Install Korvane"; }));
}

TEST_F(UpdaterProgram, ASecondStartMessageStartsNoSecondWorker)
{
    ServeInstaller(4000);
    CUpdaterProcess updater(m_server.GetPort());
    HWND hDialog = updater.WaitForDialog();
    ASSERT_TRUE(hDialog);
    ASSERT_TRUE(WaitFor([&] { return ReadFileBytes(UpdateFilePath()).size() >= 4096; }));
    // WM_USER+1 is also DM_SETDEFID, which anyone may send.
    ::PostMessageA(hDialog, WM_USER + 1, 0, 0);
    ::SendMessageTimeoutA(hDialog, WM_USER + 1, IDOK, 0, SMTO_NORMAL, 5000, nullptr);
    ASSERT_TRUE(WaitFor([&] { return updater.ControlText(IDOK) == "&Install Korvane"; }));
    EXPECT_EQ(1u, m_server.GetRequests().size());
    EXPECT_EQ(m_strInstaller, ReadFileBytes(UpdateFilePath()));
    EXPECT_TRUE(updater.IsRunning());
}

TEST_F(UpdaterProgram, IconComesBackWhenTheTaskbarIsCreatedAnew)
{
    ServeInstaller(15000);
    CUpdaterProcess updater(m_server.GetPort());
    HWND hDialog = WaitForDialogInTray(updater);
    ASSERT_TRUE(hDialog);

    // What a restarted Explorer's taskbar knows of the icon: nothing.
    NOTIFYICONDATAA data = {};
    data.cbSize = NOTIFYICONDATAA_V1_SIZE;
    data.hWnd = hDialog;
    data.uID = kIconId;
    ASSERT_TRUE(::Shell_NotifyIconA(NIM_DELETE, &data));
    ASSERT_FALSE(TrayShowsIcon(hDialog));
    ::PostMessageA(HWND_BROADCAST, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0);
    EXPECT_TRUE(WaitFor([&] { return TrayShowsIcon(hDialog); }));
    EXPECT_FALSE(updater.IsDialogVisible());

    // From the icon back to the window: the icon goes, and a new taskbar then brings none.
    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible() && !TrayShowsIcon(hDialog); }));
    // Sent, not posted, so that it has been handled when the call returns.
    ASSERT_TRUE(::SendMessageTimeoutA(hDialog, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0, SMTO_NORMAL,
                                      5000, nullptr));
    EXPECT_FALSE(TrayShowsIcon(hDialog));
    EXPECT_TRUE(updater.IsDialogVisible());
}

TEST_F(UpdaterProgram, EnterReachesTheDefaultButtonInBothLayouts)
{
    ServeInstaller(6000);
    CUpdaterProcess updater(m_server.GetPort());
    HWND hDialog = WaitForDialogInTray(updater);
    ASSERT_TRUE(hDialog);
    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    ASSERT_TRUE(WaitFor([&] { return updater.IsDialogVisible(); }));

    // The dialog manager asks the dialog for its default button when Enter is pressed.
    const LRESULT lDefault = MAKELRESULT(IDOK, DC_HASDEFID);
    DWORD_PTR dwResult = 0;
    ASSERT_TRUE(::SendMessageTimeoutA(hDialog, DM_GETDEFID, 0, 0, SMTO_NORMAL, 5000, &dwResult));
    EXPECT_EQ(lDefault, static_cast<LRESULT>(dwResult));
    updater.PressKey(VK_RETURN); // "&Minimize to Tray"
    ASSERT_TRUE(WaitFor([&] { return !updater.IsDialogVisible(); }));

    ASSERT_TRUE(WaitFor([&] { return updater.ControlText(IDOK) == "&Install Korvane"; }));
    ASSERT_TRUE(::SendMessageTimeoutA(hDialog, DM_GETDEFID, 0, 0, SMTO_NORMAL, 5000, &dwResult));
    EXPECT_EQ(lDefault, static_cast<LRESULT>(dwResult));
    updater.PressKey(VK_RETURN); // "&Install Korvane"
    ASSERT_TRUE(updater.WaitForExit());
    ASSERT_TRUE(WaitFor([&] { return !InstallerRuns().empty(); }));
    EXPECT_EQ("\"" + UpdateFilePath() + "\"\r\n", InstallerRuns());
}

namespace {
// Keys reaching a window of the test's own, the user's window in the foreground.
LRESULT CALLBACK KeyRecordingProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_KEYDOWN)
        ::SetWindowLongPtrA(hWnd, GWLP_USERDATA, static_cast<LONG_PTR>(wParam));
    return ::DefWindowProcA(hWnd, uMsg, wParam, lParam);
}
} // namespace

TEST_F(UpdaterProgram, ATrayMenuClosedWithoutACommandLeavesTheKeysToTheUsersWindow)
{
    ServeInstaller(15000);
    CUpdaterProcess updater(m_server.GetPort());
    ASSERT_TRUE(WaitForDialogInTray(updater));
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &KeyRecordingProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "KvUserWindow";
    ::RegisterClassA(&wc);
    HWND hUser = ::CreateWindowExA(0, wc.lpszClassName, "user", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                                   nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_TRUE(WaitFor([&] {
        PumpMessages();
        ::SetForegroundWindow(hUser);
        return ::GetForegroundWindow() == hUser;
    }));

    updater.PostTrayEvent(WM_RBUTTONUP);
    HWND hMenu = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (hMenu = updater.FindPopupMenu()) != nullptr; }));
    ::PostMessageA(hMenu, WM_KEYDOWN, VK_ESCAPE, 0);
    ASSERT_TRUE(WaitFor([&] { return !updater.FindPopupMenu(); }));
    EXPECT_TRUE(WaitFor([&] { return ::GetForegroundWindow() == hUser; }));

    // The user goes on typing: Escape reaches the user's window, not the hidden dialog's Cancel.
    INPUT keys[2] = {};
    keys[0].type = keys[1].type = INPUT_KEYBOARD;
    keys[0].ki.wVk = keys[1].ki.wVk = VK_ESCAPE;
    keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
    ASSERT_EQ(2u, ::SendInput(2, keys, sizeof(INPUT)));
    EXPECT_TRUE(WaitFor([&] {
        PumpMessages();
        return ::GetWindowLongPtrA(hUser, GWLP_USERDATA) == VK_ESCAPE;
    }));
    EXPECT_FALSE(updater.FindMessageBox());
    EXPECT_FALSE(updater.IsDialogVisible());
    ::DestroyWindow(hUser);
}
