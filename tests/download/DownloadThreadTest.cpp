// The worker thread as the dialog starts it: the installer path, the folder, the completion message.
#include <gtest/gtest.h>
#include <shlobj.h>
#include "AppDataRedirect.h"
#include "DownloadTestSupport.h"
#include "UniqueHandle.h"
#include "UpdateDownload.h"

namespace {
std::string ExpectedInstallerPath()
{
    char szAppData[MAX_PATH] = {};
    EXPECT_TRUE(::SHGetSpecialFolderPathA(nullptr, szAppData, CSIDL_APPDATA, TRUE));
    return std::string(szAppData) + "\\Korvane\\update\\kvsetup.exe";
}

class DownloadThreadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestServer();
        g_bOperationIsFinished = 0;
    }
    // Starts the worker the way the dialog does and waits for its completion message.
    void RunWorker(std::vector<CHttpTestResponse> responses)
    {
        TestServer().SetResponses(std::move(responses));
        CUniqueKernelHandle hThread(::CreateThread(nullptr, 0, DownloadThreadFunc, static_cast<IDownloadSink*>(&m_sink),
                                                   0, nullptr));
        ASSERT_TRUE(hThread);
        EXPECT_TRUE(m_sink.WaitForFinishMessage(30000));
        ASSERT_EQ(::WaitForSingleObject(hThread.Get(), 30000), WAIT_OBJECT_0);
        DWORD dwExit = 0;
        ::GetExitCodeThread(hThread.Get(), &dwExit);
        EXPECT_EQ(dwExit, 1u);
    }
    CRecordingSink m_sink;
};

TEST_F(DownloadThreadTest, CompleteDownloadLandsInTheUserUpdateFolder)
{
    const std::string strPath = ExpectedInstallerPath();
    const std::string strBody = PatternBytes(50000);
    RunWorker({CHttpTestResponse::Ok(strBody)});
    EXPECT_EQ(g_bOperationIsFinished, 1);
    EXPECT_EQ(std::string(g_szLocalUpdateFile), strPath);
    EXPECT_EQ(ReadFileBytes(strPath), strBody);
}

TEST_F(DownloadThreadTest, FailedRunStillPostsAndRemovesAnEarlierInstaller)
{
    const std::string strPath = ExpectedInstallerPath();
    RunWorker({CHttpTestResponse::Ok("earlier")});
    ASSERT_TRUE(FileExists(strPath));
    g_bOperationIsFinished = 0;

    RunWorker({CHttpTestResponse::Status("HTTP/1.1 404 Not Found")});
    EXPECT_EQ(g_bOperationIsFinished, 0);
    EXPECT_FALSE(FileExists(strPath));
}

TEST_F(DownloadThreadTest, FlagSeenFromAnotherThreadComesWithTheClosedFile)
{
    // The dialog's view: it polls for the flag on its own thread and then opens the installer
    // exclusively, which fails while the worker still has it open.
    const std::string strBody = PatternBytes(200000);
    TestServer().SetResponses({CHttpTestResponse::Ok(strBody)});
    CUniqueKernelHandle hThread(
        ::CreateThread(nullptr, 0, DownloadThreadFunc, static_cast<IDownloadSink*>(&m_sink), 0, nullptr));
    ASSERT_TRUE(hThread);
    const DWORD dwStart = ::GetTickCount();
    while (g_bOperationIsFinished.load(std::memory_order_acquire) != 1 && ::GetTickCount() - dwStart < 30000)
        ;
    ASSERT_EQ(g_bOperationIsFinished, 1);
    CUniqueFileHandle hFile(::CreateFileA(g_szLocalUpdateFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    EXPECT_TRUE(hFile);
    LARGE_INTEGER size = {};
    ::GetFileSizeEx(hFile.Get(), &size);
    EXPECT_EQ(static_cast<size_t>(size.QuadPart), strBody.size());
    hFile.Reset();
    EXPECT_TRUE(m_sink.WaitForFinishMessage(30000));
    ::WaitForSingleObject(hThread.Get(), 30000);
}

// The Application Data folder where users and companies put it. Each test has folders of its own.
class DownloadThreadFolders : public DownloadThreadTest {
protected:
    void SetUp() override
    {
        DownloadThreadTest::SetUp();
        m_strUnique = std::to_wstring(::GetCurrentProcessId()) + L"-" +
                      std::to_wstring(::testing::UnitTest::GetInstance()->random_seed()) +
                      std::to_wstring(::GetTickCount());
        m_strBody = PatternBytes(9000);
    }
    void TearDown() override { SetUpdateFolderCalls(m_oldCalls); }

    // A folder the shell cannot make, so the updater's own folder must do.
    std::wstring UnreachableFolder()
    {
        const std::string strBlocker = MakeTempFolder("blocked") + "file";
        WriteFileBytes(strBlocker, "in the way");
        return std::wstring(strBlocker.begin(), strBlocker.end()) + L"\\AppData";
    }
    static std::string OwnFolder()
    {
        char sz[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, sz, MAX_PATH);
        std::string strFolder = sz;
        return strFolder.substr(0, strFolder.rfind('\\') + 1);
    }

    std::wstring m_strUnique;
    std::string m_strBody;
    CUpdateFolderCalls m_oldCalls = SetUpdateFolderCalls({&::GetShortPathNameW, &::GetModuleFileNameW});
};

DWORD WINAPI NoShortName(LPCWSTR, LPWSTR, DWORD)
{
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
}

DWORD WINAPI CutOffModuleName(HMODULE hModule, LPWSTR pszName, DWORD cchName)
{
    DWORD dwLength = ::GetModuleFileNameW(hModule, pszName, cchName);
    ::SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return dwLength ? cchName : 0; // what the platform returns for a path longer than the buffer
}

TEST_F(DownloadThreadFolders, OnANetworkShareTheMissingFoldersBelowTheShareAreMade)
{
    const std::wstring strShare = CAppDataRedirect::ShareRoot();
    ASSERT_FALSE(strShare.empty());
    const std::wstring strAppData = strShare + L"\\Ann-" + m_strUnique + L"\\AppData";
    CAppDataRedirect redirect(strAppData);
    RunWorker({CHttpTestResponse::Ok(m_strBody)});
    const std::string strPath = ToAnsi(strAppData) + "\\Korvane\\update\\kvsetup.exe";
    EXPECT_EQ(std::string(g_szLocalUpdateFile), strPath);
    EXPECT_EQ(g_bOperationIsFinished, 1);
    EXPECT_EQ(ReadFileBytes(strPath), m_strBody);
}

TEST_F(DownloadThreadFolders, OutsideTheAnsiCodePageTheShortFormIsUsed)
{
    // Thai and Chinese: no ANSI code page holds both.
    const std::wstring strProfile = L"C:\\users\\Public\\Ann \u0e01\u674e-" + m_strUnique;
    const std::wstring strAppData = strProfile + L"\\AppData";
    ASSERT_NE(ToAnsi(strAppData).find('?'), std::string::npos);
    CAppDataRedirect redirect(strAppData);
    RunWorker({CHttpTestResponse::Ok(m_strBody)});
    ASSERT_EQ(g_bOperationIsFinished, 1);
    const std::string strPath = g_szLocalUpdateFile;
    EXPECT_EQ(strPath.find('?'), std::string::npos) << strPath;
    // The ANSI path and the real one name the same file.
    EXPECT_EQ(ReadFileBytes(strPath), m_strBody);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    ASSERT_TRUE(::GetFileAttributesExW((strAppData + L"\\Korvane\\update\\kvsetup.exe").c_str(),
                                       GetFileExInfoStandard, &data));
    EXPECT_EQ(data.nFileSizeLow, m_strBody.size());
}

TEST_F(DownloadThreadFolders, WithoutAShortFormOrWithoutAppDataTheUpdatersOwnFolderIsUsed)
{
    const std::string strOwn = OwnFolder() + "Korvane\\update\\kvsetup.exe";
    {
        SCOPED_TRACE("no short form of a name outside the code page");
        SetUpdateFolderCalls({&NoShortName, &::GetModuleFileNameW});
        CAppDataRedirect redirect(L"C:\\users\\Public\\\u0e01\u674e-" + m_strUnique + L"\\AppData");
        RunWorker({CHttpTestResponse::Ok(m_strBody)});
        EXPECT_EQ(std::string(g_szLocalUpdateFile), strOwn);
        EXPECT_EQ(ReadFileBytes(strOwn), m_strBody);
        ::DeleteFileA(strOwn.c_str());
    }
    {
        SCOPED_TRACE("Application Data cannot be made");
        SetUpdateFolderCalls({&::GetShortPathNameW, &::GetModuleFileNameW});
        g_bOperationIsFinished = 0;
        CAppDataRedirect redirect(UnreachableFolder());
        RunWorker({CHttpTestResponse::Ok(m_strBody)});
        EXPECT_EQ(std::string(g_szLocalUpdateFile), strOwn);
        EXPECT_EQ(g_bOperationIsFinished, 1);
        ::DeleteFileA(strOwn.c_str());
    }
}

TEST_F(DownloadThreadFolders, CutOffOwnPathFailsTheRunWithoutARelativePath)
{
    const std::string strWork = MakeTempFolder("relative");
    char szOldDirectory[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, szOldDirectory);
    ASSERT_TRUE(::SetCurrentDirectoryA(strWork.c_str()));
    SetUpdateFolderCalls({&::GetShortPathNameW, &CutOffModuleName});
    const size_t nRequestsBefore = TestServer().GetRequests().size();
    {
        CAppDataRedirect redirect(UnreachableFolder());
        RunWorker({CHttpTestResponse::Ok(m_strBody)});
    }
    ::SetCurrentDirectoryA(szOldDirectory);
    EXPECT_EQ(g_bOperationIsFinished, 0);
    EXPECT_STREQ(g_szLocalUpdateFile, "");
    EXPECT_EQ(TestServer().GetRequests().size(), nRequestsBefore);
    EXPECT_FALSE(FileExists(strWork + "Korvane"));
}
} // namespace
