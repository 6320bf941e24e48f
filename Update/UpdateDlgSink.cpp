#include "UpdateDlgSink.h"
#include <stdexcept>
#include "UpdateDownload.h"

LRESULT CUpdateDlgSink::Send(UINT uMessage, ULONGLONG ullValue) const
{
    return ::SendMessage(m_hDialog, uMessage, static_cast<WPARAM>(ullValue >> 32),
                         static_cast<LPARAM>(ullValue & 0xFFFFFFFFu));
}

void CUpdateDlgSink::SetProductSize(ULONGLONG ullProductSize)
{
    Send(WM_DOWNLOAD_SIZE, ullProductSize);
}

void CUpdateDlgSink::UpdateProgress(ULONGLONG ullDownloadSize)
{
    if (Send(WM_DOWNLOAD_PROGRESS, ullDownloadSize) != 1)
        throw std::runtime_error("the progress dialog refused the report or has ended");
}

DWORD WINAPI CUpdateDlgSink::ThreadFunc(LPVOID lpParam)
{
    CUpdateDlgSink sink(static_cast<HWND>(lpParam));
    return DownloadThreadFunc(&sink);
}
