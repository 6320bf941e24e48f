// A transfer that breaks off, against the scripted local server: what is asked again, what the
// file holds, what the dialog is told, and when the run gives up.
#include <gtest/gtest.h>
#include <thread>
#include "DownloadTestSupport.h"
#include "UpdateDownload.h"

namespace {
const char kszURL[] = "http://" KV_DOWNLOAD_HOST "/download/kvsetup.exe";
const size_t knSize = 40000;

CHttpTestResponse Answer(const std::string& strBody, size_t nCutAfter,
                         std::vector<std::pair<std::string, std::string>> headers, bool bRanges = true)
{
    CHttpTestResponse response = CHttpTestResponse::Ok(strBody);
    response.headers = std::move(headers);
    response.bHonourRange = bRanges;
    response.nCutAfter = nCutAfter;
    response.nChunkBytes = 5000;
    return response;
}

class DownloadResumeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestServer();
        g_bOperationIsFinished = 0;
        g_bOperationIsCanceled = 0;
        m_strFile = MakeTempFolder("resume") + "kvsetup.exe";
    }
    void TearDown() override { g_bOperationIsCanceled = 0; }

    // The requests this run sent.
    std::vector<CRecordedRequest> Run(std::vector<CHttpTestResponse> responses, BOOL& bFinished)
    {
        const size_t nBefore = TestServer().GetRequests().size();
        m_sink.m_reports.clear();
        TestServer().SetResponses(std::move(responses));
        bFinished = DownloadNewVersion(&m_sink, kszURL, m_strFile.c_str());
        auto requests = TestServer().GetRequests();
        requests.erase(requests.begin(), requests.begin() + static_cast<ptrdiff_t>(nBefore));
        return requests;
    }

    CRecordingSink m_sink;
    std::string m_strFile;
};

TEST_F(DownloadResumeTest, BrokenTransferIsAskedAgainAndTheFileEndsWhole)
{
    const std::string strBody = PatternBytes(knSize);
    const std::string strNew = PatternBytes(knSize + 999).substr(999); // another installer
    const std::pair<std::string, std::string> etag{"ETag", "\"v1\""}, weak{"ETag", "W/\"v1\""},
        date{"Last-Modified", "Tue, 08 Dec 2026 10:00:00 GMT"};
    struct Row {
        const char* pszCase;
        std::vector<CHttpTestResponse> responses;
        std::string strRange, strIfRange; // of the second request; a range "<=N" only bounds N
        std::string strFile;
        size_t nSizeReports; // 2 when the second answer starts the file over
    } rows[] = {
        {"closed early, range honoured",
         {Answer(strBody, 15000, {etag}), Answer(strBody, SIZE_MAX, {etag})},
         "bytes=15000-",
         "\"v1\"",
         strBody,
         1},
        {"reset, range honoured",
         {[&] {
              CHttpTestResponse r = Answer(strBody, 15000, {etag});
              r.bReset = true;
              return r;
          }(),
          Answer(strBody, SIZE_MAX, {etag})},
         "<=15000",
         "\"v1\"",
         strBody,
         1},
        {"weak ETag: the date validates",
         {Answer(strBody, 15000, {weak, date}), Answer(strBody, SIZE_MAX, {weak, date})},
         "bytes=15000-",
         date.second,
         strBody,
         1},
        {"range ignored: the second answer alone",
         {Answer(strBody, 15000, {etag}), Answer(strNew, SIZE_MAX, {etag}, false)},
         "bytes=15000-",
         "\"v1\"",
         strNew,
         2},
        {"new installer: If-Range fails, whole new answer",
         {Answer(strBody, 15000, {etag}), Answer(strNew, SIZE_MAX, {{"ETag", "\"v2\""}})},
         "bytes=15000-",
         "\"v1\"",
         strNew,
         2},
        {"no validator: the whole file again",
         {Answer(strBody, 15000, {}), Answer(strNew, SIZE_MAX, {})},
         "",
         "",
         strNew,
         2},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.pszCase);
        BOOL bFinished = FALSE;
        const auto requests = Run(std::move(row.responses), bFinished);
        EXPECT_TRUE(bFinished);
        EXPECT_TRUE(ReadFileBytes(m_strFile) == row.strFile) << "the file is not the installer byte for byte";
        ASSERT_EQ(requests.size(), 2u);
        const std::string strRange = requests[1].Header("Range");
        if (row.strRange.compare(0, 2, "<=") == 0) {
            ASSERT_EQ(strRange.compare(0, 6, "bytes="), 0) << strRange;
            EXPECT_LE(std::stoull(strRange.substr(6)), std::stoull(row.strRange.substr(2)));
            EXPECT_GT(std::stoull(strRange.substr(6)), 0u);
        } else {
            EXPECT_EQ(strRange, row.strRange);
        }
        EXPECT_EQ(requests[1].Header("If-Range"), row.strIfRange);
        // The second request bypasses caches as the first did.
        EXPECT_EQ(requests[1].Header("Cache-Control"), "no-cache");
        EXPECT_EQ(requests[1].Header("Pragma"), "no-cache");
        EXPECT_EQ(requests[1].strRequestLine, requests[0].strRequestLine);

        // The label and bar go on, or go back to 0 only with a new size.
        size_t nSizeReports = 0;
        ULONGLONG ullLast = 0;
        for (const CReport& report : m_sink.m_reports) {
            if (report.chKind == 'S') {
                ++nSizeReports;
                ullLast = 0;
                continue;
            }
            EXPECT_GE(report.ullValue, ullLast) << "progress went back without a new size";
            ullLast = report.ullValue;
        }
        EXPECT_EQ(nSizeReports, row.nSizeReports);
        EXPECT_EQ(m_sink.m_reports.back().ullValue, row.strFile.size());
    }
}

TEST_F(DownloadResumeTest, RunThatCannotGetTheWholeInstallerEndsFailedAndLeavesNothing)
{
    const std::string strBody = PatternBytes(knSize);
    const std::pair<std::string, std::string> etag{"ETag", "\"v1\""};
    CHttpTestResponse shortBody = Answer(strBody.substr(0, 20000), SIZE_MAX, {etag});
    shortBody.bAutoLength = false;
    shortBody.headers.emplace_back("Content-Length", std::to_string(knSize));
    CHttpTestResponse badRange = CHttpTestResponse::Status("HTTP/1.1 206 Partial Content");
    // Each would complete the file to the announced length if taken: only the range's numbers
    // show that the bytes belong elsewhere.
    badRange.headers = {etag, {"Content-Range", "bytes 14000-39999/40000"}};
    badRange.strBody = strBody.substr(15000);
    CHttpTestResponse otherTotal = badRange;
    otherTotal.headers[1].second = "bytes 15000-39999/50000";
    struct Row {
        const char* pszCase;
        std::vector<CHttpTestResponse> responses;
        size_t nRequests;
    } rows[] = {
        {"every answer breaks", {Answer(strBody, 5000, {etag})}, 4},
        {"body shorter than its length every time", {shortBody}, 2},
        {"a range that starts elsewhere", {Answer(strBody, 15000, {etag}), badRange}, 2},
        {"a range of another total", {Answer(strBody, 15000, {etag}), otherTotal}, 2},
        {"an error status is not asked again",
         {Answer(strBody, 15000, {etag}), CHttpTestResponse::Status("HTTP/1.1 500 Internal Server Error")},
         2},
        {"a 2xx other than 200 or 206",
         {Answer(strBody, 15000, {etag}),
          [&] {
              CHttpTestResponse r = Answer(strBody, SIZE_MAX, {etag}, false);
              r.strStatusLine = "HTTP/1.1 203 Non-Authoritative Information";
              return r;
          }()},
         2},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.pszCase);
        WriteFileBytes(m_strFile, "installer of an earlier run");
        const DWORD dwStart = ::GetTickCount();
        BOOL bFinished = TRUE;
        EXPECT_EQ(Run(std::move(row.responses), bFinished).size(), row.nRequests);
        EXPECT_LT(::GetTickCount() - dwStart, 40000u);
        EXPECT_FALSE(bFinished);
        EXPECT_EQ(g_bOperationIsFinished, 0);
        EXPECT_FALSE(FileExists(m_strFile));
    }
}

TEST_F(DownloadResumeTest, CancelDuringTheWaitEndsTheRunAtOnce)
{
    const std::string strBody = PatternBytes(knSize);
    TestServer().SetResponses({Answer(strBody, 15000, {{"ETag", "\"v1\""}})});
    const size_t nBefore = TestServer().GetRequests().size();
    BOOL bFinished = TRUE;
    std::thread worker([&] { bFinished = DownloadNewVersion(&m_sink, kszURL, m_strFile.c_str()); });
    // The first answer has gone out and its connection is closed: the worker waits its second.
    while (TestServer().GetRequests().size() == nBefore || TestServer().GetOpenConnectionCount() > 0)
        ::Sleep(10);
    ::Sleep(200);
    const DWORD dwCancel = ::GetTickCount();
    CancelDownload();
    worker.join();
    EXPECT_LT(::GetTickCount() - dwCancel, 500u) << "the wait went on after Cancel";
    EXPECT_FALSE(bFinished);
    EXPECT_EQ(TestServer().GetRequests().size(), nBefore + 1);
    EXPECT_FALSE(FileExists(m_strFile));
}
} // namespace
