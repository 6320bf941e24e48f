#include "UpdateDownload.h"
#include <shlobj.h>
#include <strsafe.h>
#include <mbstring.h>
#include <cstdio>
#include <cstdlib>
#include "EMCreateDirectory.h"
#include "HttpFile.h"
#include "InternetSession.h"
#include "PublisherSignature.h"

#ifndef KV_DOWNLOAD_HOST
#define KV_DOWNLOAD_HOST "download.haldenforge.com"
#endif

char g_szLocalUpdateFile[520];
std::atomic<LONG> g_bOperationIsFinished{0};
std::atomic<LONG> g_bOperationIsCanceled{0};

namespace {
const char kszProductName[] = "Korvane";
const char kszDownloadURL[] = "http://" KV_DOWNLOAD_HOST "/download/kvsetup.exe";
// Always from the server, never into the cache.
const DWORD kdwRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_BINARY;
const UINT knChunkSize = 4096;

struct StdioFileTraits {
    using HandleType = FILE*;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { std::fclose(h); }
};
using CUniqueStdioFile = CUniqueHandle<StdioFileTraits>;

// True when the text's last character (not merely its last byte, which may be the trail byte of a
// double-byte character) is a backslash.
bool EndsWithBackslash(const char* psz)
{
    const unsigned char* pLast = _mbsrchr(reinterpret_cast<const unsigned char*>(psz), '\\');
    return pLast && pLast[1] == '\0';
}

// Builds "<base>\Korvane\update\" into the buffer, the base being the user's Application Data
// folder or, failing that, the updater's own folder.
void BuildUpdateFolder(char* pszBuffer, size_t cchBuffer)
{
    if (!::SHGetSpecialFolderPathA(nullptr, pszBuffer, CSIDL_APPDATA, TRUE)) {
        pszBuffer[0] = '\0';
        DWORD dwLength = ::GetModuleFileNameA(nullptr, pszBuffer, MAX_PATH);
        if (dwLength == 0 || dwLength >= MAX_PATH) {
            pszBuffer[0] = '\0'; // a cut-off name is no folder to build on
        } else if (unsigned char* pSlash = _mbsrchr(reinterpret_cast<unsigned char*>(pszBuffer), '\\')) {
            pSlash[1] = '\0';
        }
    }
    if (pszBuffer[0] != '\0' && !EndsWithBackslash(pszBuffer))
        ::StringCchCatA(pszBuffer, cchBuffer, "\\");
    ::StringCchCatA(pszBuffer, cchBuffer, kszProductName);
    ::StringCchCatA(pszBuffer, cchBuffer, "\\update\\");
}

// The transfer itself. Every handle it holds is closed when it returns or throws (request, then
// session, then the local file), so the caller may delete the file afterwards.
BOOL TransferToFile(IDownloadSink& sink, LPCSTR lpszRemoteFile, LPCSTR lpszLocalFile)
{
    CUniqueStdioFile file;
    CInternetSession session(kszProductName, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    std::unique_ptr<CHttpFile> pRequest = session.OpenURL(lpszRemoteFile, 1, kdwRequestFlags, nullptr, 0);

    DWORD dwStatus = 0;
    if (!pRequest->QueryInfoStatusCode(dwStatus) || dwStatus < 200 || dwStatus >= 300)
        return FALSE;

    // A text longer than 19 characters does not fit and fails the query.
    char szContentLength[20] = {};
    DWORD dwLength = sizeof(szContentLength);
    if (!pRequest->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, szContentLength, &dwLength))
        return FALSE;
    szContentLength[sizeof(szContentLength) - 1] = '\0';
    const ULONGLONG ullProductSize = static_cast<ULONGLONG>(_atoi64(szContentLength));
    sink.SetProductSize(ullProductSize);

    file.Reset(std::fopen(lpszLocalFile, "wb"));
    if (!file)
        return FALSE;

    // Without a length there is no percentage to report against: such a run cannot finish.
    char buffer[knChunkSize];
    ULONGLONG ullTotal = 0;
    for (UINT nRead = pRequest->Read(buffer, knChunkSize); nRead > 0; nRead = pRequest->Read(buffer, knChunkSize)) {
        ullTotal += nRead;
        if (ullProductSize == 0)
            return FALSE;
        sink.UpdateProgress(ullTotal);
        if (std::fwrite(buffer, 1, nRead, file.Get()) != nRead)
            return FALSE;
        if (g_bOperationIsCanceled.load() == 1)
            break;
    }

    // fclose flushes the stream's last bytes; a failure there is a short write too.
    if (std::fclose(file.Detach()) != 0)
        return FALSE;
    if (ullProductSize == 0)
        return FALSE;
    sink.UpdateProgress(ullTotal);
    return ullTotal == ullProductSize;
}
} // namespace

BOOL DownloadNewVersion(IDownloadSink* pUpdateDlg, LPCSTR lpszRemoteFile, LPCSTR lpszLocalFile)
{
    BOOL bFinished = FALSE;
    try {
        if (pUpdateDlg && lpszRemoteFile && lpszLocalFile)
            bFinished = TransferToFile(*pUpdateDlg, lpszRemoteFile, lpszLocalFile);
        // Complete and closed: only now is the whole signature there to check. An installer from
        // anyone but the updater's publisher is a failed download.
        if (bFinished && !IsSignedByUpdaterPublisher(lpszLocalFile))
            bFinished = FALSE;
    } catch (...) {
        // Internet errors, a sink that refuses a report, memory: all end the run unfinished.
        bFinished = FALSE;
    }
    if (bFinished) {
        g_bOperationIsFinished.store(1, std::memory_order_release);
    } else if (lpszLocalFile) {
        // Also removes an installer an earlier run left behind; none being there is no error.
        ::DeleteFileA(lpszLocalFile);
    }
    return bFinished;
}

DWORD WINAPI DownloadThreadFunc(LPVOID lpParam)
{
    auto* pSink = static_cast<IDownloadSink*>(lpParam);
    if (!pSink)
        return 1;
    try {
        ::SecureZeroMemory(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile));
        BuildUpdateFolder(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile));
        EMCreateDirectory(g_szLocalUpdateFile);
        ::StringCchCatA(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile), "kvsetup.exe");
        DownloadNewVersion(pSink, kszDownloadURL, g_szLocalUpdateFile);
    } catch (...) {
        // Nothing may leave a thread entry; the dialog still needs to hear that the worker ended.
    }
    try {
        ::PostMessageA(pSink->GetNotifyWindow(), WM_DOWNLOAD_FINISHED, 0, 0);
    } catch (...) {
    }
    return 1;
}
