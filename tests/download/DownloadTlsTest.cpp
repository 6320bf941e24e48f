// The download over HTTPS against a real TLS server on loopback (tls-test.sh starts it, with a test
// authority trusted in this prefix alone): WinInet's own TLS, proxy settings and certificate checks.
#include <gtest/gtest.h>
#include <cstdlib>
#include "DownloadTestSupport.h"
#include "UpdateDownload.h"

namespace {
std::string Env(const char* pszName)
{
    const char* psz = std::getenv(pszName);
    return psz ? psz : "";
}

// The script's folder as wine names a Unix path.
std::string TlsDir()
{
    std::string strDir = "Z:" + Env("KV_TLS_DIR");
    for (char& ch : strDir)
        if (ch == '/')
            ch = '\\';
    return strDir + "\\";
}

TEST(DownloadTlsTest, HttpsWorksAsHttpAndRefusesWhatIsNotSecure)
{
    ASSERT_FALSE(Env("KV_TLS_PORT").empty()) << "run through tls-test.sh";
    const std::string strHttps = "https://localhost:" + Env("KV_TLS_PORT") + "/download/kvsetup.exe";
    const std::string strInstaller = ReadFileBytes(TlsDir() + "installer.bin");
    ASSERT_EQ(strInstaller.size(), 300000u);

    // A plain server on loopback, reached directly (no proxy in this program), for the redirects.
    CHttpTestServer plain;
    const std::string strPlain = "http://127.0.0.1:" + std::to_string(plain.GetPort());
    // The TLS server sends the file as its whole answer: a redirect down to plain http.
    WriteFileBytes(TlsDir() + "www\\download\\down",
                   "HTTP/1.1 302 Found\r\nLocation: " + strPlain +
                       "/download/kvsetup.exe\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");

    struct Row {
        const char* pszCase;
        std::string strURL;
        CHttpTestResponse plainAnswer;
        bool bFinished;
    } rows[] = {
        {"whole download over https", strHttps, {}, true},
        {"http redirected to https is followed", strPlain + "/download/kvsetup.exe",
         CHttpTestResponse::Redirect(strHttps), true},
        {"certificate for another name",
         "https://127.0.0.1:" + Env("KV_TLS_PORT") + "/download/kvsetup.exe",
         {},
         false},
        {"https redirected down to http", "https://localhost:" + Env("KV_TLS_PORT") + "/download/down",
         CHttpTestResponse::Ok(strInstaller), false},
    };
    const std::string strFile = MakeTempFolder("tls") + "kvsetup.exe";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszCase);
        plain.SetResponses({row.plainAnswer});
        g_bOperationIsFinished = 0;
        WriteFileBytes(strFile, "installer of an earlier run");
        CRecordingSink sink;
        EXPECT_EQ(DownloadNewVersion(&sink, row.strURL.c_str(), strFile.c_str()),
                  row.bFinished ? TRUE : FALSE);
        if (row.bFinished)
            EXPECT_TRUE(ReadFileBytes(strFile) == strInstaller)
                << "the file is not the installer byte for byte";
        else
            EXPECT_FALSE(FileExists(strFile));
    }
}
} // namespace
