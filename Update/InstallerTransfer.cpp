#include "InstallerTransfer.h"
#include <shlwapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include "HttpFile.h"
#include "InternetSession.h"
#include "UniqueHandle.h"
#include "UpdateDownload.h"
#include "UpdateReadyValue.h"

namespace {
// Always from the server, never into the cache. RELOAD passes by the local cache only: a caching
// proxy is passed by PRAGMA_NOCACHE on Windows, and the headers say the same to every proxy and to
// internet libraries that send nothing for that flag.
// IGNORE_REDIRECT_TO_HTTPS: a server that starts forcing HTTPS must not stop the updates of
// machines where "Warn if changing between secure and not secure mode" is on (WinInet then fails
// such a redirect with ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR). Never the other way round.
const DWORD kdwRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                              INTERNET_FLAG_TRANSFER_BINARY | INTERNET_FLAG_PRAGMA_NOCACHE |
                              INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;
const char kszNoCacheHeaders[] = "Cache-Control: no-cache\r\nPragma: no-cache\r\n";
const UINT knChunkSize = 4096;
// A connection that stops delivering without closing (a laptop that slept, a stalled proxy) would
// otherwise hold the updater, and its instance marker, for as long as the machine's setting says
// (Windows' documented default is 30 seconds, but an administrator may set up to a day) or for good
// where the library has no such wait. A minute without a byte is a failed download.
std::atomic<DWORD> g_dwReceiveTimeout{60000};

struct StdioFileTraits {
    using HandleType = FILE*;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { std::fclose(h); }
};
using CUniqueStdioFile = CUniqueHandle<StdioFileTraits>;

// The waits before each further request, after a transfer broke off: at most three more per run.
const DWORD kdwRetryWaits[] = {1000, 2000, 4000};

// Wakes a worker waiting before a further request when the user stops the download. Auto-reset: a
// signal nobody waited for is taken by the next wait, which then finds the flag down and waits on.
// Never closed: the worker is not joined and may still wait while the process runs its exit, and
// closing a handle under a pending wait is undefined; the process's end closes it.
HANDLE CancelEvent()
{
    static const HANDLE s_hEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    return s_hEvent;
}

// False when the user stopped the download before the time was up.
bool WaitBeforeRetry(DWORD dwMilliseconds)
{
    const DWORD dwStart = ::GetTickCount();
    for (;;) {
        if (g_bOperationIsCanceled.load() == 1)
            return false;
        const DWORD dwElapsed = ::GetTickCount() - dwStart;
        if (dwElapsed >= dwMilliseconds)
            return true;
        HANDLE hEvent = CancelEvent();
        if (!hEvent || ::WaitForSingleObject(hEvent, dwMilliseconds - dwElapsed) == WAIT_FAILED)
            ::Sleep(std::min<DWORD>(dwMilliseconds - dwElapsed, 100)); // no event: look at the flag often
    }
}

// Errors by which a connection broke off, could not be made, or timed out: worth asking again once
// the file holds some of the installer. Anything else (a certificate refused, an invalid answer)
// ends the run. Wine reports some of these with the sockets' own codes.
bool IsBreakOff(DWORD dwError)
{
    switch (dwError) {
    case ERROR_INTERNET_TIMEOUT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_INTERNET_DISCONNECTED:        // "the Internet connection has been lost"
    case ERROR_HTTP_INVALID_SERVER_RESPONSE: // closed before the status line
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAETIMEDOUT:
    case WSAECONNREFUSED:
        return true;
    default:
        return false;
    }
}

// Reads a decimal number of up to 19 digits and nothing else.
bool ParseDecimal(const char*& psz, ULONGLONG& ullValue)
{
    const char* pszStart = psz;
    ullValue = 0;
    while (*psz >= '0' && *psz <= '9' && psz - pszStart < 19)
        ullValue = ullValue * 10 + static_cast<ULONGLONG>(*psz++ - '0');
    return psz != pszStart && !(*psz >= '0' && *psz <= '9');
}

// "bytes FIRST-LAST/TOTAL", as a 206 answer to "bytes=N-" carries it; a range unit is matched
// without regard to case (RFC 9110, 14.1).
bool ParseContentRange(const char* psz, ULONGLONG& ullFirst, ULONGLONG& ullLast, ULONGLONG& ullTotal)
{
    if (::StrCmpNIA(psz, "bytes ", 6) != 0)
        return false;
    psz += 6;
    if (!ParseDecimal(psz, ullFirst) || *psz++ != '-' || !ParseDecimal(psz, ullLast) || *psz++ != '/' ||
        !ParseDecimal(psz, ullTotal))
        return false;
    return *psz == '\0';
}

// A header's text when the answer carries it whole in the buffer and it is fit to be sent back in
// a header of ours (printable, no line break). pbPresent, when given, learns whether the answer
// carries the header at all, fit or not.
bool QueryHeaderText(const CHttpFile& request, DWORD dwInfoLevel, char* pszBuffer, DWORD cbBuffer,
                     bool* pbPresent = nullptr)
{
    DWORD dwLength = cbBuffer;
    const BOOL bRead = request.QueryInfo(dwInfoLevel, pszBuffer, &dwLength);
    if (pbPresent)
        *pbPresent = bRead || ::GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND;
    if (!bRead || dwLength == 0 || dwLength >= cbBuffer)
        return false;
    pszBuffer[dwLength] = '\0';
    for (const char* p = pszBuffer; *p; ++p)
        if (*p < 0x20 || *p > 0x7E)
            return false;
    return true;
}

// The installer being fetched into its file, over as many requests as the rules allow.
class CInstallerTransfer {
public:
    CInstallerTransfer(IDownloadSink& sink, LPCSTR lpszLocalFile)
        : m_sink(sink), m_lpszLocalFile(lpszLocalFile)
    {
    }

    BOOL Run(LPCSTR lpszAgent, LPCSTR lpszRemoteFile)
    {
        CInternetSession session(lpszAgent, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        const CHttpAddress address = CInternetSession::CrackURL(lpszRemoteFile);
        ULONGLONG ullEndBefore = 0;
        for (size_t nTry = 0;; ++nTry) {
            bool bAnswered = false;
            const TryEnd end = Try(session, address, bAnswered);
            if (end == TryEnd::Complete)
                return Finish();
            // A break-off before any of the installer arrived is a failed download, as is a try
            // that got an answer but not the file past where the one before left it (a server
            // that always breaks at the same byte, a stall). A try that reached no server at all
            // (the network still down) says nothing of the server, and only uses up a request.
            if (end == TryEnd::Failed || !m_file || (bAnswered && m_ullTotal <= ullEndBefore) ||
                nTry == _countof(kdwRetryWaits) || !WaitBeforeRetry(kdwRetryWaits[nTry]))
                return FALSE;
            ullEndBefore = m_ullTotal;
        }
    }

private:
    enum class TryEnd { Complete, BrokeOff, Failed };

    TryEnd Try(CInternetSession& session, const CHttpAddress& address, bool& bAnswered)
    {
        // Only with a validator: a range of whatever the server holds now could splice two
        // different installers into one file.
        const bool bRange = m_file && !m_strValidator.empty();
        std::string strHeaders = kszNoCacheHeaders;
        if (bRange)
            strHeaders +=
                "Range: bytes=" + std::to_string(m_ullTotal) + "-\r\nIf-Range: " + m_strValidator + "\r\n";
        std::unique_ptr<CHttpFile> pRequest;
        try {
            pRequest = session.OpenRequest(address, 1, kdwRequestFlags, strHeaders.c_str(),
                                           static_cast<DWORD>(strHeaders.size()), g_dwReceiveTimeout.load());
        } catch (const CInternetException& e) {
            return IsBreakOff(e.m_dwError) ? TryEnd::BrokeOff : TryEnd::Failed;
        }
        bAnswered = true;
        if (address.bSecure && !EndedSecure(*pRequest))
            return TryEnd::Failed;

        DWORD dwStatus = 0;
        if (!pRequest->QueryInfoStatusCode(dwStatus))
            return TryEnd::Failed;
        if (!m_file) {
            if (dwStatus < 200 || dwStatus >= 300 || !StartFile(*pRequest, false))
                return TryEnd::Failed;
        } else if (bRange && dwStatus == 206) {
            if (!RangeContinuesFile(*pRequest))
                return TryEnd::Failed;
        } else if (dwStatus != 200 || !StartFile(*pRequest, true)) {
            // The server ignored the range or holds a new installer: only a whole new answer will do.
            return TryEnd::Failed;
        }
        return Receive(*pRequest);
    }

    // An https address redirected to plain http would hand the installer to anyone on the way.
    static bool EndedSecure(const CHttpFile& request)
    {
        char szURL[INTERNET_MAX_URL_LENGTH + 1] = {};
        DWORD cbURL = sizeof(szURL) - 1;
        return ::InternetQueryOptionA(request.GetHandle(), INTERNET_OPTION_URL, szURL, &cbURL) &&
               ::StrCmpNIA(szURL, "https://", 8) == 0;
    }

    // Reads the announced length and validator, reports the size and (re)opens the file empty.
    bool StartFile(const CHttpFile& request, bool bOver)
    {
        // A text longer than 19 characters does not fit and fails the query.
        char szContentLength[20] = {};
        DWORD dwLength = sizeof(szContentLength);
        if (!request.QueryInfo(HTTP_QUERY_CONTENT_LENGTH, szContentLength, &dwLength))
            return false;
        szContentLength[sizeof(szContentLength) - 1] = '\0';
        m_ullProductSize = static_cast<ULONGLONG>(_atoi64(szContentLength));
        ReadValidator(request);
        m_file.Reset();
        m_ullTotal = 0;
        m_sink.SetProductSize(m_ullProductSize);
        // The bar goes back with the label when the installer starts over.
        if (bOver)
            m_sink.UpdateProgress(0);
        // An installer that cannot be disowned is left as it is, rather than truncated under the value.
        if (!RemoveUpdateReadyValue())
            return false;
        m_file.Reset(std::fopen(m_lpszLocalFile, "wb"));
        return static_cast<bool>(m_file);
    }

    // A strong ETag, else a strong Last-Modified date. If-Range may carry neither a weak ETag nor a
    // date when the answer carried any ETag (RFC 9110, 13.1.5): such an answer has no validator.
    void ReadValidator(const CHttpFile& request)
    {
        char szValue[256];
        m_strValidator.clear();
        bool bETag = false;
        if (QueryHeaderText(request, HTTP_QUERY_ETAG, szValue, sizeof(szValue), &bETag) &&
            std::strncmp(szValue, "W/", 2) != 0)
            m_strValidator = szValue;
        else if (!bETag && LastModifiedIsStrong(request) &&
                 QueryHeaderText(request, HTTP_QUERY_LAST_MODIFIED, szValue, sizeof(szValue)))
            m_strValidator = szValue;
    }

    // A date is strong only when the answer's own Date is at least a second later (RFC 9110,
    // 8.8.2.2): a file written within the second it was sent may change again under the same date.
    static bool LastModifiedIsStrong(const CHttpFile& request)
    {
        SYSTEMTIME stModified = {}, stDate = {};
        DWORD cbModified = sizeof(stModified), cbDate = sizeof(stDate);
        FILETIME ftModified = {}, ftDate = {};
        if (!request.QueryInfo(HTTP_QUERY_LAST_MODIFIED | HTTP_QUERY_FLAG_SYSTEMTIME, &stModified,
                               &cbModified) ||
            !request.QueryInfo(HTTP_QUERY_DATE | HTTP_QUERY_FLAG_SYSTEMTIME, &stDate, &cbDate) ||
            !::SystemTimeToFileTime(&stModified, &ftModified) || !::SystemTimeToFileTime(&stDate, &ftDate))
            return false;
        const ULONGLONG ullModified =
            (static_cast<ULONGLONG>(ftModified.dwHighDateTime) << 32) | ftModified.dwLowDateTime;
        const ULONGLONG ullDate =
            (static_cast<ULONGLONG>(ftDate.dwHighDateTime) << 32) | ftDate.dwLowDateTime;
        return ullDate >= ullModified && ullDate - ullModified >= 10000000; // in 100-ns units
    }

    bool RangeContinuesFile(const CHttpFile& request) const
    {
        char szRange[64];
        ULONGLONG ullFirst = 0, ullLast = 0, ullTotal = 0;
        return QueryHeaderText(request, HTTP_QUERY_CONTENT_RANGE, szRange, sizeof(szRange)) &&
               ParseContentRange(szRange, ullFirst, ullLast, ullTotal) && ullFirst == m_ullTotal &&
               ullTotal == m_ullProductSize && ullLast + 1 == ullTotal;
    }

    TryEnd Receive(CHttpFile& request)
    {
        char buffer[knChunkSize];
        for (;;) {
            UINT nRead = 0;
            try {
                nRead = request.Read(buffer, knChunkSize);
            } catch (const CInternetException& e) {
                return IsBreakOff(e.m_dwError) ? TryEnd::BrokeOff : TryEnd::Failed;
            }
            if (nRead == 0)
                break;
            m_ullTotal += nRead;
            // Without a length there is no percentage to report against: such a run cannot finish.
            if (m_ullProductSize == 0)
                return TryEnd::Failed;
            // WinInet ends a body at its own Content-Length, but a range answer without one is read
            // to its close: past the announced length it cannot end whole, and must not fill the disk.
            if (m_ullTotal > m_ullProductSize)
                return TryEnd::Failed;
            m_sink.UpdateProgress(m_ullTotal);
            if (std::fwrite(buffer, 1, nRead, m_file.Get()) != nRead)
                return TryEnd::Failed;
            if (g_bOperationIsCanceled.load() == 1)
                return m_ullTotal == m_ullProductSize ? TryEnd::Complete : TryEnd::Failed;
        }
        if (m_ullTotal < m_ullProductSize)
            return TryEnd::BrokeOff; // closed before the announced length
        return m_ullTotal == m_ullProductSize ? TryEnd::Complete : TryEnd::Failed;
    }

    BOOL Finish()
    {
        // fclose flushes the stream's last bytes; a failure there is a short write too.
        if (std::fclose(m_file.Detach()) != 0 || m_ullProductSize == 0)
            return FALSE;
        m_sink.UpdateProgress(m_ullTotal);
        return m_ullTotal == m_ullProductSize;
    }

    IDownloadSink& m_sink;
    LPCSTR m_lpszLocalFile;
    CUniqueStdioFile m_file; // open from the first accepted answer on
    ULONGLONG m_ullProductSize = 0;
    ULONGLONG m_ullTotal = 0; // bytes the file holds
    std::string m_strValidator;
};
} // namespace

void CancelDownload()
{
    g_bOperationIsCanceled.store(1);
    if (HANDLE hEvent = CancelEvent())
        ::SetEvent(hEvent);
}

DWORD SetDownloadReceiveTimeout(DWORD dwMilliseconds)
{
    return g_dwReceiveTimeout.exchange(dwMilliseconds);
}

BOOL TransferInstaller(IDownloadSink& sink, LPCSTR lpszAgent, LPCSTR lpszRemoteFile, LPCSTR lpszLocalFile)
{
    return CInstallerTransfer(sink, lpszLocalFile).Run(lpszAgent, lpszRemoteFile);
}
