// The worker thread as the dialog starts it: the installer path, the folder, the completion message.
#include <gtest/gtest.h>
#include <shlobj.h>
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
} // namespace
