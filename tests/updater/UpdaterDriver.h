#pragma once
// Drives a real kvupdate.exe as a user would: starts it, finds its dialog by caption, reads and
// clicks its controls, sends it the icon's mouse events, and answers its message boxes.
#include <windows.h>
#include <functional>
#include <string>
#include "UniqueHandle.h"

// Polls until the condition holds or the time is up; returns the last result.
bool WaitFor(const std::function<bool()>& condition, DWORD dwTimeoutMs = 20000);

// HKCU\Software\Halden Forge\Korvane, the product key.
const char* ProductKeyPath();
bool ProductKeyExists();
std::string ReadUpdateReadyValue(); // empty when missing

// The update folder's installer path as the updater builds it.
std::string UpdateFilePath();
std::string ReadFileBytes(const std::string& strPath);
bool FileExists(const std::string& strPath);
// Build-tree paths (Unix) as Windows paths.
std::string ToWindowsPath(const char* pszUnixPath);

class CUpdaterProcess {
public:
    // Starts kvupdate.exe (or pszProgram, a Windows path); WinInet in it reaches nProxyPort (0: the
    // http_proxy already set).
    explicit CUpdaterProcess(USHORT nProxyPort, const char* pszArguments = nullptr,
                             const char* pszProgram = nullptr);
    ~CUpdaterProcess(); // ends the process if it still runs
    CUpdaterProcess(const CUpdaterProcess&) = delete;
    CUpdaterProcess& operator=(const CUpdaterProcess&) = delete;

    DWORD GetId() const { return m_dwProcessId; }
    bool IsRunning() const;
    bool WaitForExit(DWORD dwTimeoutMs = 20000) const;
    DWORD GetExitCode() const;
    void Kill();

    // The progress dialog (also while hidden), or NULL.
    HWND FindDialog() const;
    HWND WaitForDialog();
    bool IsDialogVisible() const;
    std::string ControlText(int nID) const;
    bool IsControlVisible(int nID) const;
    void ClickButton(int nID) const;
    // A key pressed while the dialog has the focus (Enter, Escape).
    void PressKey(UINT uVirtualKey) const;
    // What the notification-area icon sends for a mouse event over it.
    void PostTrayEvent(UINT uMouseMessage) const;

    // A message box of this process with its text, or NULL.
    HWND FindMessageBox(std::string* pstrText = nullptr, std::string* pstrCaption = nullptr) const;
    HWND WaitForMessageBox(std::string* pstrText = nullptr, std::string* pstrCaption = nullptr) const;
    static void Answer(HWND hBox, int nButton);

    // The context menu this process tracks, or NULL.
    HWND FindPopupMenu() const;

private:
    DWORD m_dwProcessId = 0;
    CUniqueKernelHandle m_process;
    HWND m_hDialog = nullptr;
};
