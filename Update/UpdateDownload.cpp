#include "UpdateDownload.h"
#include <shlobj.h>
#include <shlwapi.h>
#include <strsafe.h>
#include <mbstring.h>
#include <cwchar>
#include "EMCreateDirectory.h"
#include "PublisherSignature.h"
#include "UpdateReadyValue.h"

#ifndef KV_DOWNLOAD_URL
#define KV_DOWNLOAD_URL "http://download.haldenforge.com/download/kvsetup.exe"
#endif

char g_szLocalUpdateFile[520];
std::atomic<LONG> g_bOperationIsFinished{0};
std::atomic<LONG> g_bOperationIsCanceled{0};

namespace {
CUpdateFolderCalls g_folderCalls = {&::GetShortPathNameW, &::GetModuleFileNameW};

const char kszProductName[] = "Korvane";
const char kszDownloadURL[] = KV_DOWNLOAD_URL;

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

} // namespace

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
            bFinished = TransferInstaller(*pUpdateDlg, kszProductName, lpszRemoteFile, lpszLocalFile);
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
