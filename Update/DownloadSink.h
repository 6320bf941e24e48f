#pragma once
// What the download worker needs of the window that shows its progress, and nothing more. The
// progress dialog's CUpdateDlgSink implements it; all calls come on the worker's thread.
#include <windows.h>

class IDownloadSink {
public:
    // The expected length, once, when the response has been accepted.
    virtual void SetProductSize(ULONGLONG ullProductSize) = 0;
    // Bytes received so far, after every chunk and once more after the last. May throw; the
    // worker then ends the run unfinished.
    virtual void UpdateProgress(ULONGLONG ullDownloadSize) = 0;
    // The window WM_USER+2 is posted to when the worker has ended.
    virtual HWND GetNotifyWindow() = 0;

protected:
    ~IDownloadSink() = default;
};
