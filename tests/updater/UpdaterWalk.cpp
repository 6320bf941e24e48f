// The updater's walk for the main job: serves a sample installer from an embedded local server,
// runs kvupdate.exe through the proxy settings and walks it as a user would, from the download to
// the install prompt to starting the installer. At each picture it writes the dialog's screen
// rectangle to <handshake>\<name>.rect and waits for <handshake>\<name>.done, so that the caller can
// capture the screen.
//   kvupdatewalk HANDSHAKE_FOLDER
#include <cstdio>
#include <exception>
#include <fstream>
#include <string>
#include "HttpTestServer.h"
#include "UpdaterDriver.h"

namespace {
bool Picture(const std::string& strFolder, const char* pszName, HWND hWnd)
{
    RECT rc = {};
    ::GetWindowRect(hWnd, &rc);
    const std::string strBase = strFolder + "\\" + pszName;
    {
        std::ofstream rect(strBase + ".rect.tmp");
        rect << rc.left << ' ' << rc.top << ' ' << (rc.right - rc.left) << ' ' << (rc.bottom - rc.top) << '\n';
    }
    ::MoveFileA((strBase + ".rect.tmp").c_str(), (strBase + ".rect").c_str());
    return WaitFor([&] { return FileExists(strBase + ".done"); }, 60000);
}

int Fail(const char* pszWhat)
{
    std::printf("walk: FAILED: %s\n", pszWhat);
    return 1;
}

int Walk(const std::string& strFolder)
{
    const std::string strInstaller = ReadFileBytes(ToWindowsPath(KV_RECORDER_EXE));
    if (strInstaller.empty())
        return Fail("no sample installer");
    char szTemp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, szTemp);
    const std::string strRecord = std::string(szTemp) + "kvupdate-walk-installer.txt";
    ::DeleteFileA(strRecord.c_str());
    ::SetEnvironmentVariableA("KV_RECORD_FILE", strRecord.c_str());
    // No installer from an earlier run: the folder shows how far this download has come.
    ::DeleteFileA(UpdateFilePath().c_str());
    // The product is installed: its key exists.
    CUniqueRegKey key;
    ::RegCreateKeyExA(HKEY_CURRENT_USER, ProductKeyPath(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key.Put(), nullptr);

    CHttpTestServer server;
    CHttpTestResponse response = CHttpTestResponse::Ok(strInstaller);
    response.nChunkBytes = 4096;
    response.dwChunkDelayMs = 40000 / static_cast<DWORD>(strInstaller.size() / 4096 + 1); // about 40 s
    server.SetResponses({response});
    std::printf("walk: download server on 127.0.0.1:%u serving a %u-byte installer\n", server.GetPort(),
                static_cast<unsigned>(strInstaller.size()));

    CUpdaterProcess updater(server.GetPort());
    if (!updater.WaitForDialog())
        return Fail("no dialog");
    if (!WaitFor([&] { return !updater.IsDialogVisible(); }))
        return Fail("the dialog did not go to the tray");
    std::printf("walk: downloading, hidden in the tray\n");
    if (!WaitFor([&] { return ReadFileBytes(UpdateFilePath()).size() > 12288; }))
        return Fail("no progress");
    // The user double-clicks the icon.
    updater.PostTrayEvent(WM_LBUTTONDBLCLK);
    if (!WaitFor([&] { return updater.IsDialogVisible(); }))
        return Fail("the dialog did not come back from the tray");
    std::printf("walk: shown from the tray: %s\n", updater.ControlText(2001).c_str());
    if (!Picture(strFolder, "1-downloading", updater.FindDialog()))
        return Fail("no picture taken");
    updater.ClickButton(IDOK);
    std::printf("walk: back to the tray with \"&Minimize to Tray\"\n");

    if (!WaitFor([&] { return updater.IsDialogVisible() && updater.ControlText(IDOK) == "&Install Korvane"; },
                 120000))
        return Fail("no install prompt");
    std::printf("walk: ready to install; UpdateReadyToInstall=%s\n", ReadUpdateReadyValue().c_str());
    if (!Picture(strFolder, "2-ready-to-install", updater.FindDialog()))
        return Fail("no picture taken");
    updater.ClickButton(IDOK);
    if (!updater.WaitForExit())
        return Fail("the updater did not end");
    if (!WaitFor([&] { return !ReadFileBytes(strRecord).empty(); }))
        return Fail("the installer was not started");
    std::printf("walk: installer started as: %s", ReadFileBytes(strRecord).c_str());
    return 0;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kvupdatewalk HANDSHAKE_FOLDER\n");
        return 2;
    }
    std::setvbuf(stdout, nullptr, _IONBF, 0); // lines reach the caller as they happen
    try {
        return Walk(argv[1]);
    } catch (const std::exception& e) {
        std::printf("walk: FAILED: %s\n", e.what());
        return 1;
    }
}
