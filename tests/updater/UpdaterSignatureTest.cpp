// The real kvupdate.exe, signed at test time by a test publisher whose root the test prefix trusts,
// against installers signed in each way (the recording stand-in, signed at the same time). Each
// signature check costs about a second under wine, so cases that share a verdict share a test.
#include <gtest/gtest.h>
#include "AppDataRedirect.h"
#include "HttpTestServer.h"
#include "UpdaterDriver.h"

namespace {
const DWORD kdwSignedRunMs = 90000;

// An exit through the program's own end, not a crash or an abort.
bool IsCleanExit(DWORD dwCode)
{
    return dwCode < 0xC0000000 && dwCode != 3 && dwCode != STILL_ACTIVE;
}

bool IsSameFile(const std::string& strA, const std::string& strB)
{
    BY_HANDLE_FILE_INFORMATION a = {}, b = {};
    const auto read = [](const std::string& strPath, BY_HANDLE_FILE_INFORMATION& info) {
        CUniqueFileHandle file(::CreateFileA(strPath.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        return file && ::GetFileInformationByHandle(file.Get(), &info);
    };
    return read(strA, a) && read(strB, b) && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

std::string SigningFile(const char* pszName)
{
    return ToWindowsPath(KV_SIGNING_DIR) + "\\" + pszName;
}

class SignedInstaller : public ::testing::Test {
protected:
    void SetUp() override
    {
        char szTemp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, szTemp);
        m_strRecordFile = std::string(szTemp) + "kvupdate-signed-installer-runs.txt";
        ::SetEnvironmentVariableA("KV_RECORD_FILE", m_strRecordFile.c_str());
        ResetRun();
    }
    void TearDown() override { ::DeleteFileA(UpdateFilePath().c_str()); }

    // Before every run of the updater: no installer, no record, the product key without the value.
    void ResetRun()
    {
        ::DeleteFileA(m_strRecordFile.c_str());
        ::DeleteFileA(UpdateFilePath().c_str());
        CUniqueRegKey key;
        ::RegCreateKeyExA(HKEY_CURRENT_USER, ProductKeyPath(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                          key.Put(), nullptr);
        ::RegDeleteValueA(key.Get(), "UpdateReadyToInstall");
    }

    std::string Serve(const char* pszInstaller)
    {
        std::string strBytes = ReadFileBytes(SigningFile(pszInstaller));
        m_server.SetResponses({CHttpTestResponse::Ok(strBytes)});
        return strBytes;
    }

    std::string InstallerRuns() const { return ReadFileBytes(m_strRecordFile); }

    // Waits for the install prompt with the served installer on disk and the update recorded.
    void ExpectOffered(CUpdaterProcess& updater, const std::string& strInstaller)
    {
        ASSERT_TRUE(updater.WaitForDialog());
        // The button's text changes just before the window shows.
        ASSERT_TRUE(WaitFor(
            [&] { return updater.ControlText(IDOK) == "&Install Korvane" && updater.IsDialogVisible(); },
            kdwSignedRunMs));
        EXPECT_EQ("1", ReadUpdateReadyValue());
        EXPECT_EQ(strInstaller, ReadFileBytes(UpdateFilePath()));
    }

    void ExpectStartedOnClick(CUpdaterProcess& updater)
    {
        updater.ClickButton(IDOK);
        ASSERT_TRUE(updater.WaitForExit(kdwSignedRunMs));
        EXPECT_TRUE(IsCleanExit(updater.GetExitCode()));
        ASSERT_TRUE(WaitFor([&] { return !InstallerRuns().empty(); }));
        EXPECT_EQ("\"" + UpdateFilePath() + "\"\r\n", InstallerRuns());
    }

    // The run ended as a failed download does: silently, with nothing left and nothing started.
    void ExpectEndedWithNothingLeft(CUpdaterProcess& updater)
    {
        ASSERT_TRUE(updater.WaitForExit(kdwSignedRunMs));
        EXPECT_TRUE(IsCleanExit(updater.GetExitCode())) << std::hex << updater.GetExitCode();
        EXPECT_FALSE(FileExists(UpdateFilePath()));
        ::Sleep(300);
        EXPECT_EQ("", InstallerRuns());
    }

    CHttpTestServer m_server;
    std::string m_strRecordFile;
    const std::string m_strSignedUpdater = SigningFile("kvupdate-signed.exe");
};

TEST_F(SignedInstaller, OfItsPublisherUnderARenewedCertificateIsOfferedAndStarted)
{
    // Renewed as it was; renewed with its names in another string encoding, or in other case; an
    // extended-validation certificate of the same organisation. All of a newer release.
    for (const char* pszInstaller :
         {"installer-good.exe", "installer-printable.exe", "installer-case.exe", "installer-ev.exe"}) {
        SCOPED_TRACE(pszInstaller);
        ResetRun();
        const std::string strInstaller = Serve(pszInstaller);
        CUpdaterProcess updater(m_server.GetPort(), nullptr, m_strSignedUpdater.c_str());
        ExpectOffered(updater, strInstaller);
        ExpectStartedOnClick(updater);
    }
}

TEST_F(SignedInstaller, NotOfItsPublisherOrNotNewerEndsTheRunLikeAFailedDownload)
{
    // Flipped: the hash no longer matches. Spoof: the publisher's very subject, from a root the
    // system does not trust, which only the chain's own check catches. Then the publisher's own
    // signature on an older release, on the updater's own release, and on a file of no release.
    for (const char* pszInstaller :
         {"installer-flipped.exe", "installer-unsigned.exe", "installer-other.exe", "installer-spoof.exe",
          "installer-older.exe", "installer-equal.exe", "installer-noversion.exe"}) {
        SCOPED_TRACE(pszInstaller);
        ResetRun();
        Serve(pszInstaller);
        const size_t nRequestsBefore = m_server.GetRequests().size();
        CUpdaterProcess updater(m_server.GetPort(), nullptr, m_strSignedUpdater.c_str());
        ExpectEndedWithNothingLeft(updater);
        EXPECT_EQ(nRequestsBefore + 1, m_server.GetRequests().size()); // downloaded, then refused
        EXPECT_EQ("", ReadUpdateReadyValue());
    }
}

TEST_F(SignedInstaller, SwappedOnDiskBeforeTheClickIsDeletedAndNotStarted)
{
    const std::string strInstaller = Serve("installer-good.exe");
    CUpdaterProcess updater(m_server.GetPort(), nullptr, m_strSignedUpdater.c_str());
    ExpectOffered(updater, strInstaller);
    // A valid signature, but another maker's.
    ASSERT_TRUE(::CopyFileA(SigningFile("installer-other.exe").c_str(), UpdateFilePath().c_str(), FALSE));
    updater.ClickButton(IDOK);
    ExpectEndedWithNothingLeft(updater);
}

TEST_F(SignedInstaller, HeldOpenForWritingByAnotherProgramAtTheClickIsDeletedAndNotStarted)
{
    // Unchanged yet, but whoever holds it could change it between the check and the start.
    const std::string strInstaller = Serve("installer-good.exe");
    CUpdaterProcess updater(m_server.GetPort(), nullptr, m_strSignedUpdater.c_str());
    ExpectOffered(updater, strInstaller);
    {
        CUniqueFileHandle writer(::CreateFileA(UpdateFilePath().c_str(), GENERIC_WRITE,
                                               FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                               nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(writer);
        updater.ClickButton(IDOK);
        ASSERT_TRUE(updater.WaitForExit(kdwSignedRunMs));
    }
    ExpectEndedWithNothingLeft(updater);
}

TEST_F(SignedInstaller, OfItsPublisherIsRefusedByAnUpdaterWhoseOwnSignatureIsThereButNotGood)
{
    // Signed through a root the system does not trust; signed, its PKCS#7 garbled; signed, its
    // certificate table's length cut (which WinVerifyTrust answers as no signature at all).
    for (const char* pszUpdater : {"kvupdate-untrusted.exe", "kvupdate-garbled.exe", "kvupdate-cut.exe"}) {
        SCOPED_TRACE(pszUpdater);
        ResetRun();
        Serve("installer-good.exe");
        const std::string strUpdater = SigningFile(pszUpdater);
        CUpdaterProcess updater(m_server.GetPort(), nullptr, strUpdater.c_str());
        ExpectEndedWithNothingLeft(updater);
        EXPECT_EQ("", ReadUpdateReadyValue());
    }
}

TEST_F(SignedInstaller, FileInTheWayBesideItIsNamedAndTheInstallerKeptForTheNextClick)
{
    const std::string strInstaller = Serve("installer-good.exe");
    CUpdaterProcess updater(m_server.GetPort(), nullptr, m_strSignedUpdater.c_str());
    ExpectOffered(updater, strInstaller);
    const std::string strHeld = UpdateFilePath().substr(0, UpdateFilePath().rfind('\\')) + "\\held.dll";
    {
        // Another program's, open without leave to delete it.
        CUniqueFileHandle held(::CreateFileA(strHeld.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held);
        updater.ClickButton(IDOK);
        std::string strText, strCaption;
        HWND hBox = updater.WaitForMessageBox(&strText, &strCaption);
        ASSERT_TRUE(hBox);
        EXPECT_NE(std::string::npos, strText.find(strHeld)) << strText;
        EXPECT_EQ("kvupdate-signed", strCaption);
        EXPECT_EQ(updater.FindDialog(), ::GetWindow(hBox, GW_OWNER));
        CUpdaterProcess::Answer(hBox, IDOK);
        ASSERT_TRUE(WaitFor([&] { return !updater.FindMessageBox(); }));
        EXPECT_TRUE(updater.IsDialogVisible());
        EXPECT_EQ("1", ReadUpdateReadyValue());
        EXPECT_EQ(strInstaller, ReadFileBytes(UpdateFilePath()));
        EXPECT_EQ("", InstallerRuns());
    }
    // Once the other program has let go, the same click installs.
    ExpectStartedOnClick(updater);
    EXPECT_FALSE(FileExists(strHeld));
}

TEST_F(SignedInstaller, UpdatePathThroughALinkIsStartedByThePathOfTheFileHeldOpen)
{
    // The Application Data folder below a folder link, as in a profile moved by a junction (the
    // link made by the fixture: wine makes no junctions), and on a server share, as folder
    // redirection puts it. Either installs, from the folder the file really is in.
    const std::string strShare = ToAnsi(CAppDataRedirect::ShareRoot());
    ASSERT_FALSE(strShare.empty());
    const struct {
        std::string strAppData, strRealAppData;
    } kCases[] = {
        {SigningFile("linked") + "\\AppData", SigningFile("linked-target") + "\\AppData"},
        {strShare + "\\AppData", strShare + "\\AppData"},
    };
    ASSERT_NE(0u, ::GetFileAttributesA(SigningFile("linked").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.strAppData);
        ::CreateDirectoryA(c.strAppData.c_str(), nullptr);
        CAppDataRedirect redirect(std::wstring(c.strAppData.begin(), c.strAppData.end()));
        ResetRun();
        const std::string strTail = UpdateFilePath().substr(c.strAppData.size());
        const std::string strReal = c.strRealAppData + strTail;
        ASSERT_EQ(0u, UpdateFilePath().find(c.strAppData));

        const std::string strInstaller = Serve("installer-good.exe");
        CUpdaterProcess updater(m_server.GetPort(), nullptr, m_strSignedUpdater.c_str());
        ASSERT_NO_FATAL_FAILURE(ExpectOffered(updater, strInstaller));
        const std::string strBeside = strReal.substr(0, strReal.rfind('\\')) + "\\version.dll";
        CUniqueFileHandle(
            ::CreateFileA(strBeside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        updater.ClickButton(IDOK);
        ASSERT_TRUE(updater.WaitForExit(kdwSignedRunMs));
        ASSERT_TRUE(WaitFor([&] { return !InstallerRuns().empty(); }));
        // Windows names the share's file "\\server\share\...", wine by where it serves the share.
        const std::string strRun = InstallerRuns();
        const std::string strStarted = strRun.substr(1, strRun.find('"', 1) - 1);
        EXPECT_TRUE(IsSameFile(strStarted, strReal)) << strRun;
        EXPECT_EQ(std::string::npos, strStarted.find("\\linked\\")) << "started through the link";
        EXPECT_FALSE(FileExists(strBeside)) << "the folder the installer is really in is emptied";
        ::DeleteFileA(strReal.c_str());
        ::RemoveDirectoryA((c.strRealAppData + "\\Korvane\\update").c_str());
        ::RemoveDirectoryA((c.strRealAppData + "\\Korvane").c_str());
    }
}

TEST_F(SignedInstaller, IsNotCheckedByAnUnsignedUpdater)
{
    // An unsigned build behaves as before signatures: whatever complete file came is offered.
    for (const char* pszInstaller : {"installer-unsigned.exe", "installer-flipped.exe"}) {
        SCOPED_TRACE(pszInstaller);
        ResetRun();
        const std::string strInstaller = Serve(pszInstaller);
        CUpdaterProcess updater(m_server.GetPort());
        ExpectOffered(updater, strInstaller);
        ExpectStartedOnClick(updater);
    }
}
} // namespace
