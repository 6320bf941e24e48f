// Folder creation on the real file system, with a watcher that answers (and records) any message
// box the routine shows, so a wrong message fails the test instead of hanging it.
#include <gtest/gtest.h>
#include <atomic>
#include <string>
#include <thread>
#include "AppDataRedirect.h"
#include "DownloadTestSupport.h"
#include "EMCreateDirectory.h"

namespace {
class CMessageBoxWatcher {
public:
    CMessageBoxWatcher() : m_thread([this] { Watch(); }) {}
    ~CMessageBoxWatcher()
    {
        m_bStop = true;
        m_thread.join();
    }
    std::string Text() const { return m_strText; }
    int Count() const { return m_nCount; }

private:
    void Watch()
    {
        while (!m_bStop) {
            ::EnumWindows(&CMessageBoxWatcher::OnWindow, reinterpret_cast<LPARAM>(this));
            ::Sleep(20);
        }
    }
    static BOOL CALLBACK OnWindow(HWND hWnd, LPARAM lParam)
    {
        auto* pThis = reinterpret_cast<CMessageBoxWatcher*>(lParam);
        DWORD dwProcess = 0;
        char szClass[16] = {};
        ::GetWindowThreadProcessId(hWnd, &dwProcess);
        ::GetClassNameA(hWnd, szClass, sizeof(szClass));
        if (dwProcess == ::GetCurrentProcessId() && std::string(szClass) == "#32770" && ::IsWindowVisible(hWnd)) {
            char szText[512] = {};
            char szCaption[128] = {};
            ::GetDlgItemTextA(hWnd, 0xFFFF, szText, sizeof(szText)); // the message box's text control
            ::GetWindowTextA(hWnd, szCaption, sizeof(szCaption));
            pThis->m_strText = std::string(szCaption) + "|" + szText;
            ++pThis->m_nCount;
            ::PostMessageA(hWnd, WM_COMMAND, IDOK, 0);
        }
        return TRUE;
    }
    std::atomic<bool> m_bStop{false};
    std::string m_strText;
    std::atomic<int> m_nCount{0};
    std::thread m_thread;
};

bool IsDirectory(const std::string& strPath)
{
    DWORD dwAttributes = ::GetFileAttributesA(strPath.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

char MissingDriveLetter()
{
    DWORD dwDrives = ::GetLogicalDrives();
    for (char ch = 'Y'; ch > 'C'; --ch)
        if (!(dwDrives & (1u << (ch - 'A'))))
            return ch;
    return 0;
}

TEST(EMCreateDirectoryTest, CreatesMissingParentsAndAcceptsExistingFolders)
{
    CMessageBoxWatcher watcher;
    const std::string strRoot = MakeTempFolder("emcreate");
    EXPECT_TRUE(EMCreateDirectory(strRoot.c_str()));

    const std::string strNested = strRoot + "a\\b\\c\\";
    EXPECT_TRUE(EMCreateDirectory(strNested.c_str()));
    EXPECT_TRUE(IsDirectory(strRoot + "a\\b\\c"));
    EXPECT_TRUE(EMCreateDirectory(strNested.c_str()));

    // Without a trailing backslash, and through a relative path.
    const std::string strNoSlash = strRoot + "x\\y";
    EXPECT_TRUE(EMCreateDirectory(strNoSlash.c_str()));
    EXPECT_TRUE(IsDirectory(strNoSlash));
    EXPECT_EQ(watcher.Count(), 0);
}

TEST(EMCreateDirectoryTest, FileInTheWayFails)
{
    CMessageBoxWatcher watcher;
    const std::string strRoot = MakeTempFolder("emfile");
    WriteFileBytes(strRoot + "a", "a file, not a folder");
    EXPECT_FALSE(EMCreateDirectory((strRoot + "a\\b\\").c_str()));
    EXPECT_FALSE(EMCreateDirectory((strRoot + "a").c_str()));
    EXPECT_EQ(watcher.Count(), 0);
}

TEST(EMCreateDirectoryTest, MissingDriveAndOverlongPathFailWithoutAMessage)
{
    CMessageBoxWatcher watcher;
    const char chDrive = MissingDriveLetter();
    ASSERT_NE(chDrive, 0);
    const std::string strOnMissingDrive = std::string(1, chDrive) + ":\\Korvane\\update\\";
    EXPECT_FALSE(EMCreateDirectory(strOnMissingDrive.c_str()));

    // The longest path that fits is still made; one character more is refused.
    const std::string strRoot = MakeTempFolder("emlong");
    for (size_t nLength : {259u, 260u, 300u, 600u}) {
        SCOPED_TRACE(nLength);
        std::string strLong = strRoot;
        while (strLong.size() < nLength)
            strLong += "d\\";
        strLong.resize(nLength, 'e');
        EXPECT_EQ(EMCreateDirectory(strLong.c_str()), nLength < MAX_PATH ? TRUE : FALSE);
    }
    EXPECT_EQ(watcher.Count(), 0);
}

TEST(EMCreateDirectoryTest, OnAShareMissingFoldersAreMadeBelowItsRoot)
{
    CMessageBoxWatcher watcher;
    const std::string strShare = ToAnsi(CAppDataRedirect::ShareRoot());
    ASSERT_FALSE(strShare.empty());
    const std::string strBase = strShare + "\\emcreate-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                std::to_string(::GetTickCount());
    EXPECT_TRUE(EMCreateDirectory((strBase + "\\Korvane\\update\\").c_str()));
    EXPECT_TRUE(IsDirectory(strBase + "\\Korvane\\update"));
    EXPECT_TRUE(EMCreateDirectory(strShare.c_str()));
    // A share that is not there cannot be made.
    EXPECT_FALSE(EMCreateDirectory("\\\\kvserver\\noshare\\Korvane\\"));
    EXPECT_EQ(watcher.Count(), 0);
}

TEST(EMCreateDirectoryTest, PathThatCannotBeMadeAbsoluteShowsTheMessage)
{
    CMessageBoxWatcher watcher;
    EXPECT_FALSE(EMCreateDirectory(""));
    EXPECT_EQ(watcher.Count(), 1);
    EXPECT_EQ(watcher.Text(), "download_tests|Invalid directory string\"\"\n");
}
} // namespace
