// A transfer that breaks off, against the scripted local server: what is asked again, what the
// file holds, what the dialog is told, and when the run gives up.
#include <gtest/gtest.h>
#include <thread>
#include "DownloadTestSupport.h"
#include "UpdateDownload.h"

namespace {
const char kszURL[] = "http://" KV_DOWNLOAD_HOST "/download/kvsetup.exe";
using CHeaders = std::vector<std::pair<std::string, std::string>>;
const std::string kstrBody = PatternBytes(40000);
const std::string kstrNew = PatternBytes(40999).substr(999); // another installer
const CHeaders kEtag = {{"ETag", "\"v1\""}};

// The body cut after nCut bytes of this answer (closed, or reset), served in 5000-byte pieces.
CHttpTestResponse Answer(const std::string& strBody, size_t nCut, CHeaders headers = kEtag,
                         bool bRanges = true, const char* pszStatus = "HTTP/1.1 200 OK", bool bReset = false)
{
    CHttpTestResponse response = CHttpTestResponse::Ok(strBody);
    response.strStatusLine = pszStatus;
    response.headers = std::move(headers);
    response.bHonourRange = bRanges;
    response.nCutAfter = nCut;
    response.bReset = bReset;
    response.nChunkBytes = 5000;
    return response;
}

const char kRange[] = "bytes=15000-";
const char kV1[] = "\"v1\"";
// The installer broken off after nCut bytes; the installer whole; another one; the rest of the
// first as a range answer (with extra bytes past the range when given).
CHttpTestResponse Cut(size_t nCut, CHeaders headers = kEtag, bool bReset = false)
{
    return Answer(kstrBody, nCut, std::move(headers), true, "HTTP/1.1 200 OK", bReset);
}
CHttpTestResponse Whole(CHeaders headers = kEtag)
{
    return Answer(kstrBody, SIZE_MAX, std::move(headers));
}
CHttpTestResponse New(CHeaders headers = kEtag, bool bRanges = true)
{
    return Answer(kstrNew, SIZE_MAX, std::move(headers), bRanges);
}
CHttpTestResponse Range(const char* pszContentRange, const std::string& strExtra = "")
{
    CHttpTestResponse response =
        Answer(kstrBody.substr(15000) + strExtra, SIZE_MAX, {{"Content-Range", pszContentRange}}, false,
               "HTTP/1.1 206 Partial Content");
    // Without a length of its own the range answer is read to its close.
    response.bAutoLength = strExtra.empty();
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

    // Runs the worker's transfer against the script; returns the requests it sent.
    std::vector<CRecordedRequest> Run(std::vector<CHttpTestResponse> responses, BOOL& bFinished)
    {
        const size_t nBefore = TestServer().GetRequests().size();
        m_sink.m_reports.clear();
        TestServer().SetResponses(std::move(responses));
        bFinished = DownloadNewVersion(&m_sink, kszURL, m_strFile.c_str());
        auto requests = TestServer().GetRequests();
        return {requests.begin() + static_cast<ptrdiff_t>(nBefore), requests.end()};
    }

    CRecordingSink m_sink;
    std::string m_strFile;
};

TEST_F(DownloadResumeTest, BrokenTransferIsAskedAgainAndTheFileEndsWhole)
{
    const char* pszModified = "Tue, 08 Dec 2026 10:00:00 GMT";
    const CHeaders weak = {{"ETag", "W/\"v1\""}, {"Last-Modified", pszModified}};
    const CHeaders dated = {{"Last-Modified", pszModified}, {"Date", "Tue, 08 Dec 2026 10:00:01 GMT"}};
    const CHeaders same = {{"Last-Modified", pszModified}, {"Date", pszModified}};
    struct Row {
        const char* pszCase;
        std::vector<CHttpTestResponse> responses;
        const char* pszRange; // of the second request; a reset may lose bytes in flight, so "bytes=" only
        std::string strIfRange;
        const std::string& strFile;
        size_t nSizeReports; // 2 when the second answer starts the file over
    } rows[] = {
        {"closed early, range honoured", {Cut(15000), Whole()}, kRange, kV1, kstrBody, 1},
        {"reset, range honoured", {Cut(15000, kEtag, true), Whole()}, "bytes=", kV1, kstrBody, 1},
        // If-Range takes no weak ETag, and a date only from an answer without any ETag whose
        // own Date is at least a second later.
        {"weak ETag: the whole file again", {Cut(15000, weak), Whole(weak)}, "", "", kstrBody, 2},
        {"no ETag: the date validates", {Cut(15000, dated), Whole(dated)}, kRange, pszModified, kstrBody, 1},
        {"a date of the answer's own second is weak", {Cut(15000, same), Whole(same)}, "", "", kstrBody, 2},
        {"unit in capitals", {Cut(15000), Range("BYTES 15000-39999/40000")}, kRange, kV1, kstrBody, 1},
        {"range ignored: the second answer alone", {Cut(15000), New(kEtag, false)}, kRange, kV1, kstrNew, 2},
        {"new installer: If-Range fails", {Cut(15000), New({{"ETag", "\"v2\""}})}, kRange, kV1, kstrNew, 2},
        {"no validator: the whole file again", {Cut(15000, {}), New({})}, "", "", kstrNew, 2},
    };
    for (Row& row : rows) {
        SCOPED_TRACE(row.pszCase);
        BOOL bFinished = FALSE;
        const auto requests = Run(std::move(row.responses), bFinished);
        EXPECT_TRUE(bFinished);
        EXPECT_TRUE(ReadFileBytes(m_strFile) == row.strFile) << "the file is not the installer byte for byte";
        ASSERT_EQ(requests.size(), 2u);
        const std::string strRange = requests[1].Header("Range");
        EXPECT_TRUE(row.pszRange[0] && row.pszRange[6] == '\0' ? strRange.compare(0, 6, row.pszRange) == 0
                                                               : strRange == row.pszRange)
            << strRange;
        EXPECT_EQ(requests[1].Header("If-Range"), row.strIfRange);
        // The same request otherwise, caches bypassed as the first.
        EXPECT_EQ(requests[1].Header("Cache-Control") + requests[1].Header("Pragma"), "no-cacheno-cache");
        EXPECT_EQ(requests[1].strRequestLine, requests[0].strRequestLine);
        // The label and the bar go on, and go back to 0 only with a new size.
        size_t nSizeReports = 0;
        for (size_t i = 0; i < m_sink.m_reports.size(); ++i) {
            nSizeReports += m_sink.m_reports[i].chKind == 'S';
            if (i > 0 && m_sink.m_reports[i].chKind == 'P' && m_sink.m_reports[i - 1].chKind == 'P') {
                EXPECT_GE(m_sink.m_reports[i].ullValue, m_sink.m_reports[i - 1].ullValue) << "report " << i;
            }
        }
        EXPECT_EQ(nSizeReports, row.nSizeReports);
        EXPECT_EQ(m_sink.m_reports.back().ullValue, row.strFile.size());
    }
}

TEST_F(DownloadResumeTest, RunThatCannotGetTheWholeInstallerEndsFailedAndLeavesNothing)
{
    CHttpTestResponse shortBody = Answer(kstrBody.substr(0, 20000), SIZE_MAX, {{"Content-Length", "40000"}});
    shortBody.bAutoLength = false;
    // Each would complete the file to its announced length if taken: only the range's numbers
    // show that the bytes belong elsewhere.
    struct Row {
        const char* pszCase;
        std::vector<CHttpTestResponse> responses;
        size_t nRequests;
    } rows[] = {
        {"every answer breaks", {Answer(kstrBody, 5000)}, 4},
        {"body shorter than its length every time", {shortBody}, 2},
        {"a range that starts elsewhere", {Cut(15000), Range("bytes 14000-39999/40000")}, 2},
        {"a range of another total", {Cut(15000), Range("bytes 15000-39999/50000")}, 2},
        {"longer than its range", {Cut(15000), Range("bytes 15000-39999/40000", PatternBytes(10000))}, 2},
        {"error status", {Cut(15000), CHttpTestResponse::Status("HTTP/1.1 500 Internal Server Error")}, 2},
        {"2xx but 200 or 206", {Cut(15000), Answer(kstrBody, SIZE_MAX, kEtag, false, "HTTP/1.1 203 X")}, 2},
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
        for (const auto& report : m_sink.m_reports)
            EXPECT_LE(report.ullValue, kstrBody.size()) << "read on past the announced length";
    }
}

TEST_F(DownloadResumeTest, CancelDuringTheWaitEndsTheRunAtOnce)
{
    TestServer().SetResponses({Cut(15000)});
    const size_t nBefore = TestServer().GetRequests().size();
    BOOL bFinished = TRUE;
    std::thread worker([&] { bFinished = DownloadNewVersion(&m_sink, kszURL, m_strFile.c_str()); });
    // The first answer has gone out and its connection is closed: the worker waits to ask again.
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
