#pragma once
// The download worker's side of the progress dialog. It holds the dialog's window, never the
// dialog object: each report is one message sent to the window and handled there, on the
// user-interface thread, while the worker waits. Once the window has gone (the user ended the
// dialog, whose object then goes too), a report simply fails and the worker ends its run.
#include "DownloadSink.h"

// Private messages of the dialog's window, out of the WM_USER range, where the dialog manager's
// DM_GETDEFID, DM_SETDEFID and DM_REPOSITION live. The 64-bit value travels as its high half in
// WPARAM and its low half in LPARAM, so that a message from anywhere carries numbers, no pointer.
constexpr UINT WM_DOWNLOAD_SIZE = WM_APP;
constexpr UINT WM_DOWNLOAD_PROGRESS = WM_APP + 1;

inline ULONGLONG ReportedValue(WPARAM wp, LPARAM lp)
{
    return (static_cast<ULONGLONG>(wp & 0xFFFFFFFFu) << 32) | (static_cast<ULONGLONG>(lp) & 0xFFFFFFFFu);
}

class CUpdateDlgSink final : public IDownloadSink {
public:
    explicit CUpdateDlgSink(HWND hDialog) : m_hDialog(hDialog) {}

    void SetProductSize(ULONGLONG ullProductSize) override;
    // Throws when the dialog refuses the report (no size announced) or has ended.
    void UpdateProgress(ULONGLONG ullDownloadSize) override;
    HWND GetNotifyWindow() override { return m_hDialog; }

    // Thread entry: lpParam is the dialog's window. Runs the download worker with a sink for it.
    static DWORD WINAPI ThreadFunc(LPVOID lpParam);

private:
    LRESULT Send(UINT uMessage, ULONGLONG ullValue) const;

    HWND m_hDialog;
};
