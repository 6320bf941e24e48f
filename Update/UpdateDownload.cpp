#include "UpdateDownload.h"
#include <shlobj.h>
#include <strsafe.h>
#include <mbstring.h>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include "EMCreateDirectory.h"
#include "HttpFile.h"
#include "InternetSession.h"
#include "PublisherSignature.h"
#include "UpdateReadyValue.h"

#ifndef KV_DOWNLOAD_HOST
#define KV_DOWNLOAD_HOST "download.haldenforge.com"
#endif

char g_szLocalUpdateFile[520];
std::atomic<LONG> g_bOperationIsFinished{0};
std::atomic<LONG> g_bOperationIsCanceled{0};

namespace {
CUpdateFolderCalls g_folderCalls = {&::GetShortPathNameW, &::GetModuleFileNameW};

const char kszProductName[] = "Korvane";
const char kszDownloadURL[] = "http://" KV_DOWNLOAD_HOST "/download/kvsetup.exe";
// Always from the server, never into the cache. RELOAD passes by the local cache only: a caching
// proxy is passed by PRAGMA_NOCACHE on Windows, and the headers say the same to every proxy and to
// internet libraries that send nothing for that flag.
const DWORD kdwRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                              INTERNET_FLAG_TRANSFER_BINARY | INTERNET_FLAG_PRAGMA_NOCACHE;
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

// True when the text's last character (not merely its last byte, which may be the trail byte of a
// double-byte character) is a backslash.
bool EndsWithBackslash(const char* psz)
{
    const unsigned char* pLast = _mbsrchr(reinterpret_cast<const unsigned char*>(psz), '\\');
    return pLast && pLast[1] == '\0';
}

// The path as ANSI text that names the same file: the path itself when it survives the round trip
// to the ANSI code page, otherwise its short (8.3) form when that does. A user name in another
// script than the system's would come out with "?" in it, which names nothing.
bool ToAnsiPath(LPCWSTR pszPath, char* pszAnsi, int cbAnsi)
{
    auto roundTrips = [&](LPCWSTR pszCandidate) {
        wchar_t szBack[MAX_PATH] = {};
        if (::WideCharToMultiByte(CP_ACP, 0, pszCandidate, -1, pszAnsi, cbAnsi, nullptr, nullptr) > 0 &&
            ::MultiByteToWideChar(CP_ACP, 0, pszAnsi, -1, szBack, MAX_PATH) > 0 &&
            std::wcscmp(szBack, pszCandidate) == 0)
            return true;
        pszAnsi[0] = '\0';
        return false;
    };
    if (roundTrips(pszPath))
        return true;
    wchar_t szShort[MAX_PATH] = {};
    DWORD dwLength = g_folderCalls.pfnGetShortPathName(pszPath, szShort, MAX_PATH);
    return dwLength > 0 && dwLength < MAX_PATH && roundTrips(szShort);
}

// Builds "<base>\Korvane\update\" into the buffer, the base being the user's Application Data
// folder or, failing that, the updater's own folder. False when neither can be had whole: the
// installer must never go to a path relative to the current directory.
bool BuildUpdateFolder(char* pszBuffer, size_t cchBuffer)
{
    wchar_t szFolder[MAX_PATH] = {};
    if (!::SHGetSpecialFolderPathW(nullptr, szFolder, CSIDL_APPDATA, TRUE) ||
        !ToAnsiPath(szFolder, pszBuffer, MAX_PATH)) {
        DWORD dwLength = g_folderCalls.pfnGetModuleFileName(nullptr, szFolder, MAX_PATH);
        wchar_t* pSlash = dwLength > 0 && dwLength < MAX_PATH ? std::wcsrchr(szFolder, L'\\') : nullptr;
        if (!pSlash)
            return false;
        pSlash[1] = L'\0';
        if (!ToAnsiPath(szFolder, pszBuffer, MAX_PATH))
            return false;
    }
    if (!EndsWithBackslash(pszBuffer))
        ::StringCchCatA(pszBuffer, cchBuffer, "\\");
    ::StringCchCatA(pszBuffer, cchBuffer, kszProductName);
    ::StringCchCatA(pszBuffer, cchBuffer, "\\update\\");
    return true;
}

// The transfer itself. Every handle it holds is closed when it returns or throws (request, then
// session, then the local file), so the caller may delete the file afterwards.
BOOL TransferToFile(IDownloadSink& sink, LPCSTR lpszRemoteFile, LPCSTR lpszLocalFile)
{
    CUniqueStdioFile file;
    CInternetSession session(kszProductName, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    std::unique_ptr<CHttpFile> pRequest =
        session.OpenURL(lpszRemoteFile, 1, kdwRequestFlags, kszNoCacheHeaders,
                        static_cast<DWORD>(sizeof(kszNoCacheHeaders) - 1), g_dwReceiveTimeout.load());

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

    // An installer that cannot be disowned is left as it is, rather than truncated under the value.
    if (!RemoveUpdateReadyValue())
        return FALSE;
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

DWORD SetDownloadReceiveTimeout(DWORD dwMilliseconds)
{
    return g_dwReceiveTimeout.exchange(dwMilliseconds);
}

CUpdateFolderCalls SetUpdateFolderCalls(const CUpdateFolderCalls& calls)
{
    CUpdateFolderCalls old = g_folderCalls;
    g_folderCalls = calls;
    return old;
}

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
    } else if (lpszLocalFile && RemoveUpdateReadyValue()) {
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
        if (BuildUpdateFolder(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile))) {
            EMCreateDirectory(g_szLocalUpdateFile);
            ::StringCchCatA(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile), "kvsetup.exe");
            DownloadNewVersion(pSink, kszDownloadURL, g_szLocalUpdateFile);
        } else {
            ::SecureZeroMemory(g_szLocalUpdateFile, sizeof(g_szLocalUpdateFile));
        }
    } catch (...) {
        // Nothing may leave a thread entry; the dialog still needs to hear that the worker ended.
    }
    try {
        ::PostMessageA(pSink->GetNotifyWindow(), WM_DOWNLOAD_FINISHED, 0, 0);
    } catch (...) {
    }
    return 1;
}
