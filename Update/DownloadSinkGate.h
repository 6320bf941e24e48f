#pragma once
// Stands between the download worker and the dialog. The worker is never joined and may still be
// reporting when the user ends the dialog; the gate outlives the dialog, and once closed it turns
// reports away instead of calling into an object that is gone.
#include <atomic>
#include "DownloadSink.h"

class CDownloadSinkGate : public IDownloadSink {
public:
    explicit CDownloadSinkGate(IDownloadSink* pTarget) : m_pTarget(pTarget) {}

    void SetProductSize(ULONGLONG ullProductSize) override;
    void UpdateProgress(ULONGLONG ullDownloadSize) override;
    HWND GetNotifyWindow() override;

    // Called on the UI thread before the target goes: waits for a report in progress, serving the
    // window calls it is waiting on, and lets no further report through.
    void Close();

private:
    class CEntry;
    IDownloadSink* m_pTarget;
    std::atomic<bool> m_bClosed{false};
    std::atomic<int> m_nInside{0};
};
