// Download throughput of the worker against the platform's own limit for its chunk size.
//   download_bench worker URL OUTFILE   the worker's DownloadNewVersion into OUTFILE
//   download_bench plain URL            a bare loop of 4096-byte WinInet reads of the same request
//   download_bench floor URL            the same loop, each chunk also waiting for a message answered
//                                       by a window on another thread: what the worker's report
//                                       to the dialog costs at least
//   download_bench label URL            the floor, the answering window also setting a hidden
//                                       label's text to the report's figures, as every report must
// Prints "<mode> <bytes> <seconds> <MB/s> <peak working set bytes>".
#include <windows.h>
#include <psapi.h>
#include <wininet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include "InternetSession.h"
#include "UpdateDownload.h"

namespace {
class CCountingSink : public IDownloadSink {
public:
    void SetProductSize(ULONGLONG ullProductSize) override { m_ullSize = ullProductSize; }
    void UpdateProgress(ULONGLONG ullDownloadSize) override { m_ullDone = ullDownloadSize; }
    HWND GetNotifyWindow() override { return nullptr; }
    ULONGLONG m_ullSize = 0;
    ULONGLONG m_ullDone = 0;
};

// The label mode's answer: the text the dialog's label takes on a report, set on a hidden label.
LRESULT CALLBACK LabelAnswerProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg != WM_APP)
        return ::DefWindowProcA(hWnd, uMsg, wParam, lParam);
    const ULONGLONG ullTotal = (static_cast<ULONGLONG>(wParam) << 32) | static_cast<DWORD>(lParam);
    char szText[128];
    std::snprintf(szText, sizeof(szText), "Downloading Update: Korvane (%d KB of %d KB)",
                  static_cast<int>(ullTotal / 1024), 262144);
    ::SetWindowTextA(::GetWindow(hWnd, GW_CHILD), szText);
    return 1;
}

// A window on a thread of its own that answers what is sent to it, as the dialog answers the
// worker's reports; with bLabel, each answer also sets a hidden label's text.
class CAnsweringWindow {
public:
    explicit CAnsweringWindow(bool bLabel = false)
    {
        HANDLE hReady = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_thread = std::thread([this, hReady, bLabel] {
            if (bLabel) {
                WNDCLASSA wc = {};
                wc.lpfnWndProc = &LabelAnswerProc;
                wc.hInstance = ::GetModuleHandleA(nullptr);
                wc.lpszClassName = "KvLabelAnswer";
                ::RegisterClassA(&wc);
                m_hWnd = ::CreateWindowExA(0, wc.lpszClassName, "", WS_POPUP, 0, 0, 400, 100, nullptr,
                                           nullptr, wc.hInstance, nullptr);
                ::CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE, 10, 10, 380, 16, m_hWnd, nullptr,
                                  wc.hInstance, nullptr);
            } else {
                m_hWnd = ::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                           nullptr);
            }
            m_dwThreadId = ::GetCurrentThreadId();
            ::SetEvent(hReady);
            MSG msg;
            while (::GetMessage(&msg, nullptr, 0, 0) > 0)
                ::DispatchMessage(&msg);
            ::DestroyWindow(m_hWnd);
        });
        ::WaitForSingleObject(hReady, INFINITE);
        ::CloseHandle(hReady);
    }
    ~CAnsweringWindow()
    {
        ::PostThreadMessageA(m_dwThreadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
    CAnsweringWindow(const CAnsweringWindow&) = delete;
    CAnsweringWindow& operator=(const CAnsweringWindow&) = delete;
    HWND GetHwnd() const { return m_hWnd; }

private:
    HWND m_hWnd = nullptr;
    DWORD m_dwThreadId = 0;
    std::thread m_thread;
};

// With hAnswering, every chunk also waits for that window to answer a sent message.
ULONGLONG PlainLoop(const char* pszURL, HWND hAnswering = nullptr)
{
    const DWORD dwFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
    CUniqueInternetHandle hSession(
        ::InternetOpenA("Korvane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    CUniqueInternetHandle hRequest(::InternetOpenUrlA(hSession.Get(), pszURL, nullptr, 0, dwFlags, 1));
    static char buffer[4096];
    ULONGLONG ullTotal = 0;
    DWORD dwRead = 0;
    while (::InternetReadFile(hRequest.Get(), buffer, sizeof(buffer), &dwRead) && dwRead > 0) {
        ullTotal += dwRead;
        if (hAnswering)
            ::SendMessage(hAnswering, WM_APP, static_cast<WPARAM>(ullTotal >> 32),
                          static_cast<LPARAM>(ullTotal & 0xFFFFFFFFu));
    }
    return ullTotal;
}
} // namespace

int main(int argc, char** argv)
{
    if (argc < 3 || (std::strcmp(argv[1], "worker") == 0 && argc < 4)) {
        std::fprintf(stderr,
                     "usage: download_bench worker URL OUTFILE | plain URL | floor URL | label URL\n");
        return 2;
    }
    const bool bWorker = std::strcmp(argv[1], "worker") == 0;
    auto start = std::chrono::steady_clock::now();
    ULONGLONG ullBytes = 0;
    if (bWorker) {
        CCountingSink sink;
        if (!DownloadNewVersion(&sink, argv[2], argv[3]))
            return 1;
        ullBytes = sink.m_ullDone;
    } else if (std::strcmp(argv[1], "floor") == 0 || std::strcmp(argv[1], "label") == 0) {
        CAnsweringWindow window(std::strcmp(argv[1], "label") == 0);
        ullBytes = PlainLoop(argv[2], window.GetHwnd());
    } else {
        ullBytes = PlainLoop(argv[2]);
    }
    const double dSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
    std::printf("%s %llu %.3f %.1f %llu\n", argv[1], ullBytes, dSeconds, ullBytes / dSeconds / 1e6,
                static_cast<unsigned long long>(counters.PeakWorkingSetSize));
    return ullBytes > 0 ? 0 : 1;
}
