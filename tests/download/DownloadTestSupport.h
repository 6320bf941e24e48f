#pragma once
// Shared pieces of the download tests: a sink that records the worker's reports, a window to
// receive its completion message, one scripted server per test program, and file helpers.
#include <windows.h>
#include <string>
#include <vector>
#include "DownloadSink.h"
#include "HttpTestServer.h"

// The server every test of the program talks to; WinInet reaches it as the process's proxy, so
// the worker's request is exactly the one the shipped program sends.
CHttpTestServer& TestServer();

struct CReport {
    char chKind; // 'S' SetProductSize, 'P' UpdateProgress
    ULONGLONG ullValue;
};

class CRecordingSink : public IDownloadSink {
public:
    CRecordingSink();
    ~CRecordingSink();
    void SetProductSize(ULONGLONG ullProductSize) override;
    // Like the dialog, refuses a report when no size was announced.
    void UpdateProgress(ULONGLONG ullDownloadSize) override;
    HWND GetNotifyWindow() override { return m_hWnd; }

    // True once WM_USER+2 has reached the window (waits up to the given time).
    bool WaitForFinishMessage(DWORD dwTimeoutMs);

    std::vector<CReport> m_reports;
    bool m_bThrowOnProgress = false;

private:
    HWND m_hWnd;
    ULONGLONG m_ullProductSize = 0;
};

std::string ReadFileBytes(const std::string& strPath);
void WriteFileBytes(const std::string& strPath, const std::string& strBytes);
bool FileExists(const std::string& strPath);
// A fresh, empty folder under the temp folder; ends with a backslash.
std::string MakeTempFolder(const char* pszName);
// Bytes that differ from one position to the next, so a misplaced chunk shows.
std::string PatternBytes(size_t nSize);
