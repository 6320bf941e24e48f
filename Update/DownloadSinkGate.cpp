#include "DownloadSinkGate.h"
#include <stdexcept>

// Marks a report in progress for its length; Close waits for such marks to go.
class CDownloadSinkGate::CEntry {
public:
    explicit CEntry(CDownloadSinkGate& gate) : m_gate(gate) { ++m_gate.m_nInside; }
    ~CEntry() { --m_gate.m_nInside; }
    CEntry(const CEntry&) = delete;
    CEntry& operator=(const CEntry&) = delete;
    bool IsOpen() const { return !m_gate.m_bClosed; }

private:
    CDownloadSinkGate& m_gate;
};

void CDownloadSinkGate::SetProductSize(ULONGLONG ullProductSize)
{
    CEntry entry(*this);
    if (entry.IsOpen())
        m_pTarget->SetProductSize(ullProductSize);
}

void CDownloadSinkGate::UpdateProgress(ULONGLONG ullDownloadSize)
{
    CEntry entry(*this);
    // Nobody is left to show the download: stop it.
    if (!entry.IsOpen())
        throw std::runtime_error("the progress dialog has ended");
    m_pTarget->UpdateProgress(ullDownloadSize);
}

HWND CDownloadSinkGate::GetNotifyWindow()
{
    CEntry entry(*this);
    return entry.IsOpen() ? m_pTarget->GetNotifyWindow() : nullptr;
}

void CDownloadSinkGate::Close()
{
    m_bClosed = true;
    // A report in progress may be waiting for this thread to handle its window call.
    while (m_nInside > 0) {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG msg;
        ::PeekMessage(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
