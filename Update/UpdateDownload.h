#pragma once
// The updater's download worker: fetches the new installer into the per-user update folder and
// tells the dialog (an IDownloadSink) how far it got.
#include <windows.h>
#include <atomic>
#include "DownloadSink.h"
#include "InstallerTransfer.h"

// Posted to the sink's window when the worker has ended, whatever the outcome.
constexpr UINT WM_DOWNLOAD_FINISHED = WM_USER + 2;

// Full path of the local installer; final before the transfer starts. Read it only after seeing
// g_bOperationIsFinished at 1.
extern char g_szLocalUpdateFile[520];
// 1 once the installer is complete, closed and of the announced length. The store releases and
// every read acquires, so a reader that sees 1 also sees the file and the path.
extern std::atomic<LONG> g_bOperationIsFinished;
// Read after every chunk and during the waits between requests: 1 makes the worker leave the
// transfer unfinished (CancelDownload raises it).
extern std::atomic<LONG> g_bOperationIsCanceled;

// Thread entry; lpParam is the IDownloadSink*. Always returns 1; nothing is raised out of it.
DWORD WINAPI DownloadThreadFunc(LPVOID lpParam);

// Transfers the URL into the local file. The worker ignores the result: completion is told by
// g_bOperationIsFinished alone.
BOOL DownloadNewVersion(IDownloadSink* pUpdateDlg, LPCSTR lpszRemoteFile, LPCSTR lpszLocalFile);

// Where the update folder's path calls go: GetShortPathNameW and GetModuleFileNameW, unless a test
// puts others in their place (a volume without short names, an executable path that does not fit).
struct CUpdateFolderCalls {
    decltype(&::GetShortPathNameW) pfnGetShortPathName;
    decltype(&::GetModuleFileNameW) pfnGetModuleFileName;
};
CUpdateFolderCalls SetUpdateFolderCalls(const CUpdateFolderCalls& calls);
