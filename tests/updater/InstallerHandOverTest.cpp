// The hand-over to the installer. Installers need administrator rights, and on Windows
// CreateProcess refuses them with ERROR_ELEVATION_REQUIRED (wine has no such refusal), so the
// first start is made to report it here; the shell's execute that follows is the real one, and a
// recording stand-in for the installer tells what it started.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "InstallerStart.h"
#include "UpdateDlg.h"
#include "UpdateDownload.h"
#include "UpdaterDriver.h"

namespace {
struct CStarts {
    int nCreateProcess = 0;
    int nShellExecute = 0;
    DWORD dwCreateProcessError = 0; // 0: the real call
    DWORD dwShellExecuteError = 0;  // 0: the real call
    SHELLEXECUTEINFOA sei = {};
    std::string strVerb, strFile, strDirectory;
    std::string strCreateDirectory; // "(inherited)" when none was given
    bool bParameters = false;
} g_starts;

BOOL WINAPI RecordCreateProcess(LPCSTR lpszApplication, LPSTR lpszCommandLine, LPSECURITY_ATTRIBUTES pProcess,
                                LPSECURITY_ATTRIBUTES pThread, BOOL bInherit, DWORD dwFlags,
                                LPVOID pEnvironment, LPCSTR lpszDirectory, LPSTARTUPINFOA pStartup,
                                LPPROCESS_INFORMATION pInfo)
{
    ++g_starts.nCreateProcess;
    g_starts.strCreateDirectory = lpszDirectory ? lpszDirectory : "(inherited)";
    if (g_starts.dwCreateProcessError) {
        ::SetLastError(g_starts.dwCreateProcessError);
        return FALSE;
    }
    return ::CreateProcessA(lpszApplication, lpszCommandLine, pProcess, pThread, bInherit, dwFlags,
                            pEnvironment, lpszDirectory, pStartup, pInfo);
}

BOOL WINAPI RecordShellExecuteEx(SHELLEXECUTEINFOA* pInfo)
{
    ++g_starts.nShellExecute;
    g_starts.sei = *pInfo;
    g_starts.strVerb = pInfo->lpVerb ? pInfo->lpVerb : "";
    g_starts.strFile = pInfo->lpFile ? pInfo->lpFile : "";
    g_starts.strDirectory = pInfo->lpDirectory ? pInfo->lpDirectory : "";
    g_starts.bParameters = pInfo->lpParameters != nullptr;
    if (g_starts.dwShellExecuteError) {
        ::SetLastError(g_starts.dwShellExecuteError);
        return FALSE;
    }
    return ::ShellExecuteExA(pInfo);
}

std::vector<DWORD> g_iconCalls;

BOOL WINAPI RecordNotify(DWORD dwMessage, PNOTIFYICONDATAA)
{
    g_iconCalls.push_back(dwMessage);
    return TRUE;
}

void WriteText(const std::string& strPath, const char* pszText)
{
    CUniqueFileHandle file(::CreateFileA(strPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD cb = 0;
    ::WriteFile(file.Get(), pszText, ::lstrlenA(pszText), &cb, nullptr);
}

std::vector<std::string> FolderEntries(const std::string& strFolder)
{
    std::vector<std::string> entries;
    WIN32_FIND_DATAA found = {};
    HANDLE hFind = ::FindFirstFileA((strFolder + "\\*").c_str(), &found);
    if (hFind == INVALID_HANDLE_VALUE)
        return entries;
    do {
        if (::lstrcmpA(found.cFileName, ".") != 0 && ::lstrcmpA(found.cFileName, "..") != 0)
            entries.push_back(found.cFileName);
    } while (::FindNextFileA(hFind, &found));
    ::FindClose(hFind);
    return entries;
}

class CHandOverDlg : public CUpdateDlg {
public:
    using CUpdateDlg::OnOK;
};

class InstallerHandOver : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_starts = CStarts();
        m_oldCalls = SetInstallerStartCalls({&RecordCreateProcess, &RecordShellExecuteEx});
        char szTemp[MAX_PATH] = {};
        ::GetTempPathA(MAX_PATH, szTemp);
        m_strRecordFile = std::string(szTemp) + "kvhandover-runs.txt";
        ::DeleteFileA(m_strRecordFile.c_str());
        ::SetEnvironmentVariableA("KV_RECORD_FILE", m_strRecordFile.c_str());
        // A folder of its own: the hand-over empties the installer's folder.
        m_strFolder = std::string(szTemp) + "kvhandover";
        ::CreateDirectoryA(m_strFolder.c_str(), nullptr);
        m_strInstaller = m_strFolder + "\\kvsetup.exe";
        ASSERT_TRUE(::CopyFileA(ToWindowsPath(KV_RECORDER_EXE).c_str(), m_strInstaller.c_str(), FALSE));
        m_hOwner = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    }
    void TearDown() override
    {
        SetInstallerStartCalls(m_oldCalls);
        ::DestroyWindow(m_hOwner);
        WaitFor([&] { return ::DeleteFileA(m_strInstaller.c_str()) || !FileExists(m_strInstaller); });
    }
    std::string Runs() const { return ReadFileBytes(m_strRecordFile); }

    CInstallerStartCalls m_oldCalls = {};
    std::string m_strRecordFile;
    std::string m_strFolder;
    std::string m_strInstaller;
    HWND m_hOwner = nullptr;
};

std::string SystemFolder()
{
    char szDirectory[MAX_PATH] = {};
    ::GetSystemDirectoryA(szDirectory, MAX_PATH);
    return szDirectory;
}

TEST_F(InstallerHandOver, StartsInTheSystemFolderNeverTheInheritedOne)
{
    // The updater's own current directory is where the user's programs could have put a DLL.
    ASSERT_TRUE(::SetCurrentDirectoryA(m_strFolder.c_str()));
    EXPECT_TRUE(StartInstallerProcess(m_hOwner, m_strInstaller.c_str()));
    EXPECT_EQ(SystemFolder(), g_starts.strCreateDirectory);
    EXPECT_EQ(0, g_starts.nShellExecute);
    ASSERT_TRUE(WaitFor([&] { return !Runs().empty(); }));
    ::SetCurrentDirectoryA(SystemFolder().c_str());
}

TEST_F(InstallerHandOver, ElevationRequiredStartsTheSameFileThroughTheShell)
{
    g_starts.dwCreateProcessError = ERROR_ELEVATION_REQUIRED;
    EXPECT_TRUE(StartInstallerProcess(m_hOwner, m_strInstaller.c_str()));
    EXPECT_EQ(1, g_starts.nCreateProcess);
    ASSERT_EQ(1, g_starts.nShellExecute);
    EXPECT_EQ("runas", g_starts.strVerb);
    EXPECT_EQ(m_strInstaller, g_starts.strFile);
    EXPECT_FALSE(g_starts.bParameters);
    EXPECT_EQ(SystemFolder(), g_starts.strDirectory);
    EXPECT_EQ(m_hOwner, g_starts.sei.hwnd);
    // No process handle is asked for, so none can be left open; and no error box of the shell's.
    EXPECT_EQ(0u, g_starts.sei.fMask & SEE_MASK_NOCLOSEPROCESS);
    EXPECT_NE(0u, g_starts.sei.fMask & SEE_MASK_FLAG_NO_UI);
    ASSERT_TRUE(WaitFor([&] { return !Runs().empty(); }));
    EXPECT_NE(std::string::npos, Runs().find(m_strInstaller)) << Runs();
}

TEST_F(InstallerHandOver, DeclinedPromptAndOtherRefusalsAreNotAStart)
{
    g_starts.dwCreateProcessError = ERROR_ELEVATION_REQUIRED;
    g_starts.dwShellExecuteError = ERROR_CANCELLED;
    EXPECT_FALSE(StartInstallerProcess(m_hOwner, m_strInstaller.c_str()));
    EXPECT_EQ(1, g_starts.nShellExecute);

    // Only the elevation refusal goes on to the shell: a missing file is simply not started.
    g_starts = CStarts();
    g_starts.dwCreateProcessError = ERROR_FILE_NOT_FOUND;
    EXPECT_FALSE(StartInstallerProcess(m_hOwner, m_strInstaller.c_str()));
    EXPECT_EQ(0, g_starts.nShellExecute);
    EXPECT_FALSE(StartInstallerProcess(m_hOwner, ""));
    EXPECT_EQ(0, g_starts.nShellExecute);
    ::Sleep(300);
    EXPECT_EQ("", Runs());
}

TEST_F(InstallerHandOver, DialogStaysWhenThePromptIsDeclinedAndEndsOnceTheInstallerRuns)
{
    CTrayIcon::NotifyFunction pfnOld = CTrayIcon::SetNotifyFunction(&RecordNotify);
    g_iconCalls.clear();
    {
        CHandOverDlg dlg;
        ASSERT_TRUE(dlg.Create());
        MSG msg;
        // The dialog's own start message would start a real download here.
        while (::PeekMessageA(&msg, dlg.GetSafeHwnd(), WM_USER + 1, WM_USER + 1, PM_REMOVE))
            ;
        g_bOperationIsFinished = 0;
        dlg.OnOK(); // still downloading: to the notification area
        ASSERT_EQ(std::vector<DWORD>{NIM_ADD}, g_iconCalls);

        ::lstrcpynA(g_szLocalUpdateFile, m_strInstaller.c_str(), sizeof(g_szLocalUpdateFile));
        g_bOperationIsFinished = 1;
        g_starts.dwCreateProcessError = ERROR_ELEVATION_REQUIRED;
        g_starts.dwShellExecuteError = ERROR_CANCELLED;
        dlg.OnOK();
        EXPECT_EQ(1, g_starts.nShellExecute);
        EXPECT_EQ(dlg.GetSafeHwnd(), g_starts.sei.hwnd); // the prompt belongs to the dialog
        EXPECT_EQ(std::vector<DWORD>{NIM_ADD}, g_iconCalls) << "a declined prompt changes nothing";

        g_starts.dwShellExecuteError = 0;
        dlg.OnOK();
        EXPECT_EQ(2, g_starts.nShellExecute);
        EXPECT_EQ((std::vector<DWORD>{NIM_ADD, NIM_DELETE}), g_iconCalls);
        ASSERT_TRUE(WaitFor([&] { return !Runs().empty(); }));
        g_bOperationIsFinished = 0;
        ::SecureZeroMemory(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile));
        dlg.DestroyWindow();
    }
    CTrayIcon::SetNotifyFunction(pfnOld);
}
} // namespace

namespace {
TEST_F(InstallerHandOver, EverythingBesideTheInstallerIsRemovedLinksNotFollowed)
{
    WriteText(m_strFolder + "\\version.dll", "planted");
    WriteText(m_strFolder + "\\readonly.dll", "planted");
    ::SetFileAttributesA((m_strFolder + "\\readonly.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    ::CreateDirectoryA((m_strFolder + "\\sub").c_str(), nullptr);
    ::CreateDirectoryA((m_strFolder + "\\sub\\deeper").c_str(), nullptr);
    WriteText(m_strFolder + "\\sub\\deeper\\planted.dll", "planted");
    // A link to a folder of the user's: it goes, what it points to stays.
    const std::string strOutside = m_strFolder + "-outside";
    ::CreateDirectoryA(strOutside.c_str(), nullptr);
    WriteText(strOutside + "\\keep.txt", "the user's");
    const bool bLinked = ::CreateSymbolicLinkA((m_strFolder + "\\link").c_str(), strOutside.c_str(),
                                               SYMBOLIC_LINK_FLAG_DIRECTORY) != FALSE;

    EXPECT_TRUE(RemoveAllButInstaller(m_strInstaller.c_str()));
    EXPECT_EQ(std::vector<std::string>{"kvsetup.exe"}, FolderEntries(m_strFolder));
    EXPECT_TRUE(FileExists(strOutside + "\\keep.txt")) << (bLinked ? "followed the link" : "no link made");
    ::DeleteFileA((strOutside + "\\keep.txt").c_str());
    ::RemoveDirectoryA(strOutside.c_str());
}
} // namespace
