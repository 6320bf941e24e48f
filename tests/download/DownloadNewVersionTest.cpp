// The transfer itself against a scripted local server: what is accepted, what is left on disk, and
// what the dialog is told.
#include <gtest/gtest.h>
#include "DownloadTestSupport.h"
#include "InternetSession.h"
#include "UpdateDownload.h"

namespace {
const char kszURL[] = "http://" KV_DOWNLOAD_HOST "/download/kvsetup.exe";

class DownloadNewVersionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestServer();
        g_bOperationIsFinished = 0;
        g_bOperationIsCanceled = 0;
        m_strFile = MakeTempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "kvsetup.exe";
    }
    void TearDown() override { g_bOperationIsCanceled = 0; }

    BOOL Run(std::vector<CHttpTestResponse> responses)
    {
        TestServer().SetResponses(std::move(responses));
        return DownloadNewVersion(&m_sink, kszURL, m_strFile.c_str());
    }
    // A run that must end unfinished and leave nothing at the local path.
    void ExpectFailedRun(std::vector<CHttpTestResponse> responses)
    {
        WriteFileBytes(m_strFile, "installer of an earlier run");
        EXPECT_FALSE(Run(std::move(responses)));
        EXPECT_EQ(g_bOperationIsFinished, 0);
        EXPECT_FALSE(FileExists(m_strFile));
    }

    CRecordingSink m_sink;
    std::string m_strFile;
};

CHttpTestResponse WithLength(std::string strBody, const char* pszLength)
{
    CHttpTestResponse response = CHttpTestResponse::Ok(std::move(strBody));
    response.bAutoLength = false;
    response.headers.emplace_back("Content-Length", pszLength);
    return response;
}

// How many header lines of this name the request carried (a name sent twice may confuse a proxy).
size_t HeaderLines(const CRecordedRequest& request, const char* pszName)
{
    size_t nCount = 0;
    const std::string strLines = "\r\n" + request.strHeaders;
    for (size_t nPos = strLines.find("\r\n"); nPos != std::string::npos;
         nPos = strLines.find("\r\n", nPos + 2)) {
        const size_t nColon = strLines.find(':', nPos);
        if (nColon != std::string::npos &&
            ::lstrcmpiA(strLines.substr(nPos + 2, nColon - nPos - 2).c_str(), pszName) == 0)
            ++nCount;
    }
    return nCount;
}

TEST_F(DownloadNewVersionTest, CompleteBodyIsKeptAndReportedChunkByChunk)
{
    const std::string strBody = PatternBytes(3 * 4096 + 123);
    CHttpTestResponse response = CHttpTestResponse::Ok(strBody);
    response.nChunkBytes = 2000; // pieces smaller than a read, so reads come back short too
    response.dwChunkDelayMs = 5;
    EXPECT_TRUE(Run({response}));
    EXPECT_EQ(g_bOperationIsFinished, 1);
    EXPECT_EQ(ReadFileBytes(m_strFile), strBody);

    const auto& reports = m_sink.m_reports;
    ASSERT_GE(reports.size(), 6u); // size, at least four chunks, the closing report
    EXPECT_EQ(reports.front().chKind, 'S');
    EXPECT_EQ(reports.front().ullValue, strBody.size());
    for (size_t i = 1; i + 1 < reports.size(); ++i) {
        EXPECT_EQ(reports[i].chKind, 'P');
        ULONGLONG ullBefore = i == 1 ? 0 : reports[i - 1].ullValue;
        EXPECT_GT(reports[i].ullValue, ullBefore) << "report " << i;
        EXPECT_LE(reports[i].ullValue - ullBefore, 4096u) << "report " << i;
    }
    EXPECT_EQ(reports[reports.size() - 2].ullValue, strBody.size());
    EXPECT_EQ(reports.back().chKind, 'P');
    EXPECT_EQ(reports.back().ullValue, strBody.size());
}

TEST_F(DownloadNewVersionTest, RequestIsTheProductsGetAndNeverServedFromCache)
{
    const size_t nBefore = TestServer().GetRequests().size();
    ASSERT_TRUE(Run({CHttpTestResponse::Ok("first")}));
    // The same URL again: with the cache bypassed both ways the second body must arrive.
    ASSERT_TRUE(Run({CHttpTestResponse::Ok("second")}));
    EXPECT_EQ(ReadFileBytes(m_strFile), "second");
    const auto requests = TestServer().GetRequests();
    ASSERT_EQ(requests.size(), nBefore + 2);
    for (size_t i = nBefore; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].strRequestLine, "GET http://" KV_DOWNLOAD_HOST ":80/download/kvsetup.exe HTTP/1.1");
        EXPECT_EQ(requests[i].Header("User-Agent"), "Korvane");
        EXPECT_EQ(requests[i].Header("If-Modified-Since"), "");
        // A caching proxy between us and the server must revalidate, whatever the library adds.
        EXPECT_EQ(requests[i].Header("Cache-Control"), "no-cache");
        EXPECT_EQ(requests[i].Header("Pragma"), "no-cache");
        EXPECT_EQ(HeaderLines(requests[i], "Pragma"), 1u) << requests[i].strHeaders;
        EXPECT_EQ(HeaderLines(requests[i], "Cache-Control"), 1u) << requests[i].strHeaders;
    }
}

TEST_F(DownloadNewVersionTest, OneRedirectIsFollowed)
{
    const size_t nBefore = TestServer().GetRequests().size();
    EXPECT_TRUE(Run({CHttpTestResponse::Redirect("http://mirror.example/kvsetup.exe"), CHttpTestResponse::Ok("moved")}));
    EXPECT_EQ(ReadFileBytes(m_strFile), "moved");
    const auto requests = TestServer().GetRequests();
    ASSERT_EQ(requests.size(), nBefore + 2);
    EXPECT_EQ(requests.back().strRequestLine, "GET http://mirror.example:80/kvsetup.exe HTTP/1.1");
}

TEST_F(DownloadNewVersionTest, StatusOutsideSuccessRangeWritesNothing)
{
    for (const char* pszStatus : {"HTTP/1.1 404 Not Found", "HTTP/1.1 500 Internal Server Error",
                                  "HTTP/1.1 199 Odd", "HTTP/1.1 300 Multiple Choices"}) {
        SCOPED_TRACE(pszStatus);
        m_sink.m_reports.clear();
        CHttpTestResponse response = CHttpTestResponse::Status(pszStatus);
        response.strBody = "error page";
        ExpectFailedRun({response});
        EXPECT_TRUE(m_sink.m_reports.empty());
    }
}

TEST_F(DownloadNewVersionTest, OtherSuccessStatusIsAccepted)
{
    CHttpTestResponse response = CHttpTestResponse::Ok("partial content is content");
    response.strStatusLine = "HTTP/1.1 203 Non-Authoritative Information";
    EXPECT_TRUE(Run({response}));
    EXPECT_EQ(g_bOperationIsFinished, 1);
}

TEST_F(DownloadNewVersionTest, UnusableContentLengthFailsTheRun)
{
    {
        SCOPED_TRACE("missing");
        CHttpTestResponse response = CHttpTestResponse::Ok("no length");
        response.bAutoLength = false;
        ExpectFailedRun({response});
        EXPECT_TRUE(m_sink.m_reports.empty());
    }
    for (const char* pszLength : {"0", "abc"}) {
        // No length to compute a percentage against: reported as 0, then the run fails.
        SCOPED_TRACE(pszLength);
        m_sink.m_reports.clear();
        ExpectFailedRun({WithLength("body", pszLength)});
        ASSERT_EQ(m_sink.m_reports.size(), 1u);
        EXPECT_EQ(m_sink.m_reports[0].chKind, 'S');
        EXPECT_EQ(m_sink.m_reports[0].ullValue, 0u);
    }
    {
        SCOPED_TRACE("twenty characters do not fit the header buffer");
        m_sink.m_reports.clear();
        ExpectFailedRun({WithLength("12345", "00000000000000000005")});
        EXPECT_TRUE(m_sink.m_reports.empty());
    }
}

TEST_F(DownloadNewVersionTest, NineteenCharacterContentLengthStillFits)
{
    EXPECT_TRUE(Run({WithLength("12345", "0000000000000000005")}));
    EXPECT_EQ(ReadFileBytes(m_strFile), "12345");
}

TEST_F(DownloadNewVersionTest, BodyEndingEarlyLeavesNoFile)
{
    for (bool bReset : {false, true}) {
        SCOPED_TRACE(bReset ? "reset" : "closed");
        CHttpTestResponse response = CHttpTestResponse::Ok(PatternBytes(20000));
        response.nChunkBytes = 5000;
        response.nCutAfter = 10000;
        response.bReset = bReset;
        ExpectFailedRun({response});
    }
}

TEST_F(DownloadNewVersionTest, SinkRefusingAReportFailsTheRun)
{
    m_sink.m_bThrowOnProgress = true;
    ExpectFailedRun({CHttpTestResponse::Ok("abc")});
}

TEST_F(DownloadNewVersionTest, CancelFlagEndsTheRunUnfinished)
{
    g_bOperationIsCanceled = 1;
    CHttpTestResponse response = CHttpTestResponse::Ok(PatternBytes(5 * 4096));
    response.nChunkBytes = 4096;
    response.dwChunkDelayMs = 20;
    ExpectFailedRun({response});
}

TEST_F(DownloadNewVersionTest, CancelAfterTheLastChunkStillFinishes)
{
    g_bOperationIsCanceled = 1;
    EXPECT_TRUE(Run({CHttpTestResponse::Ok("fits in one chunk")}));
    EXPECT_EQ(ReadFileBytes(m_strFile), "fits in one chunk");
}

TEST_F(DownloadNewVersionTest, LocalFileThatCannotBeOpenedFails)
{
    std::string strMissing = m_strFile.substr(0, m_strFile.rfind('\\')) + "\\missing\\kvsetup.exe";
    TestServer().SetResponses({CHttpTestResponse::Ok("abc")});
    EXPECT_FALSE(DownloadNewVersion(&m_sink, kszURL, strMissing.c_str()));
    EXPECT_EQ(g_bOperationIsFinished, 0);
    EXPECT_FALSE(FileExists(strMissing));
}

TEST_F(DownloadNewVersionTest, ConnectionClosedWithoutAnswerFailsQuietly)
{
    // WinInet raises this as an error; it must be caught like any connection failure.
    CHttpTestResponse response = CHttpTestResponse::Ok("never sent");
    response.bCloseWithoutAnswer = true;
    ExpectFailedRun({response});
    EXPECT_TRUE(m_sink.m_reports.empty());
}

TEST_F(DownloadNewVersionTest, TransferThatStopsMovingEndsUnfinished)
{
    // The shipped wait is a minute without a byte; the same wait, shortened. Under wine the library
    // has none of its own, so without it this run would never end.
    struct CShortWait {
        DWORD dwOld = SetDownloadReceiveTimeout(1500);
        ~CShortWait() { SetDownloadReceiveTimeout(dwOld); }
    } wait;
    CHttpTestResponse response = CHttpTestResponse::Ok(PatternBytes(16 * 4096));
    response.nChunkBytes = 4096;
    response.nCutAfter = 6 * 4096;
    response.bStall = true;
    ExpectFailedRun({response});
    ASSERT_FALSE(m_sink.m_reports.empty());
    EXPECT_LT(m_sink.m_reports.back().ullValue, 16u * 4096) << "the stall came after the first chunks";
}

TEST(InternetSessionTest, BadURLsRaise)
{
    CInternetSession session("Korvane");
    EXPECT_THROW(session.OpenURL("not a url"), CInternetException);
    EXPECT_THROW(session.OpenURL("ftp://127.0.0.1/x"), CInternetException);
}
} // namespace
