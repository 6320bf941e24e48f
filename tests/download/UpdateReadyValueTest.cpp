// The product's "UpdateReadyToInstall" never outlives the installer it vouches for: the worker takes
// it back before it truncates or deletes the local file, and only the value goes, never the key.
#include <gtest/gtest.h>
#include "DownloadTestSupport.h"
#include "UniqueHandle.h"
#include "UpdateDownload.h"
#include "UpdateReadyValue.h"

namespace {
const char kszURL[] = "http://" KV_DOWNLOAD_HOST "/download/kvsetup.exe";
const char kszKey[] = "Software\\Halden Forge\\Korvane";

bool KeyExists()
{
    CUniqueRegKey key;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, kszKey, 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

bool ReadyValueExists()
{
    return ::RegGetValueA(HKEY_CURRENT_USER, kszKey, "UpdateReadyToInstall", RRF_RT_ANY, nullptr, nullptr,
                          nullptr) == ERROR_SUCCESS;
}

// What an earlier run left: a complete installer, recorded as ready, beside another value.
void RecordEarlierInstaller(const std::string& strFile)
{
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kszKey, "UpdateReadyToInstall", REG_SZ, "1", 2);
    ::RegSetKeyValueA(HKEY_CURRENT_USER, kszKey, "Korvane", REG_SZ, "C:\\k.exe", 9);
    WriteFileBytes(strFile, "complete installer of an earlier run");
}

// Samples the record when the first chunk is reported: by then the local file has been truncated.
class CSamplingSink : public CRecordingSink {
public:
    void UpdateProgress(ULONGLONG ullDownloadSize) override
    {
        if (m_nSamples++ == 0)
            m_bValueAtFirstChunk = ReadyValueExists();
        CRecordingSink::UpdateProgress(ullDownloadSize);
    }
    int m_nSamples = 0;
    bool m_bValueAtFirstChunk = true;
};

class UpdateReadyValueTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        TestServer();
        g_bOperationIsFinished = 0;
        m_strFile =
            MakeTempFolder(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "kvsetup.exe";
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kszKey);
        ::RegDeleteKeyA(HKEY_CURRENT_USER, kszKey);
        CUniqueRegKey key;
        ::RegCreateKeyExA(HKEY_CURRENT_USER, kszKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(),
                          nullptr);
    }
    BOOL Run(CHttpTestResponse response)
    {
        TestServer().SetResponses({std::move(response)});
        return DownloadNewVersion(&m_sink, kszURL, m_strFile.c_str());
    }
    CSamplingSink m_sink;
    std::string m_strFile;
};

TEST_F(UpdateReadyValueTest, GoesBeforeTheInstallerIsTruncatedAndIsNotWrittenBackByTheWorker)
{
    RecordEarlierInstaller(m_strFile);
    CHttpTestResponse response = CHttpTestResponse::Ok(PatternBytes(3 * 4096));
    response.nChunkBytes = 4096;
    EXPECT_TRUE(Run(response));
    EXPECT_GT(m_sink.m_nSamples, 0);
    EXPECT_FALSE(m_sink.m_bValueAtFirstChunk);
    // Writing it again is the dialog's, once it has seen the finished flag.
    EXPECT_FALSE(ReadyValueExists());
    EXPECT_EQ(ReadFileBytes(m_strFile), PatternBytes(3 * 4096));
    EXPECT_EQ(::RegGetValueA(HKEY_CURRENT_USER, kszKey, "Korvane", RRF_RT_REG_SZ, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
}

TEST_F(UpdateReadyValueTest, GoesWithTheInstallerAFailedRunDeletes)
{
    for (bool bCutShort : {false, true}) {
        SCOPED_TRACE(bCutShort ? "partial body" : "404 before any byte");
        RecordEarlierInstaller(m_strFile);
        CHttpTestResponse response = CHttpTestResponse::Status("HTTP/1.1 404 Not Found");
        if (bCutShort) {
            response = CHttpTestResponse::Ok(PatternBytes(20000));
            response.nCutAfter = 9000;
        }
        EXPECT_FALSE(Run(response));
        EXPECT_FALSE(FileExists(m_strFile));
        EXPECT_FALSE(ReadyValueExists());
        EXPECT_TRUE(KeyExists());
    }
}

TEST_F(UpdateReadyValueTest, MissingKeyIsNotCreated)
{
    ::RegDeleteTreeA(HKEY_CURRENT_USER, kszKey);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kszKey);
    EXPECT_TRUE(Run(CHttpTestResponse::Ok("abc")));
    EXPECT_FALSE(Run(CHttpTestResponse::Status("HTTP/1.1 500 Internal Server Error")));
    EXPECT_FALSE(KeyExists());
    EXPECT_TRUE(RemoveUpdateReadyValue()); // nothing to take back is no failure
}
} // namespace
