#pragma once
// The transfer of the installer into its file: one request, and further ones for the rest when the
// transfer breaks off (Range with If-Range), after waits that the user's stop cuts short.
#include <windows.h>
#include "DownloadSink.h"

// Fetches the URL into the local file, reporting the size and progress to the sink. TRUE when the
// file is complete and closed; the caller removes it otherwise. Internet and memory errors may be
// raised.
BOOL TransferInstaller(IDownloadSink& sink, LPCSTR lpszAgent, LPCSTR lpszRemoteFile, LPCSTR lpszLocalFile);

// Raises g_bOperationIsCanceled and wakes a transfer waiting before a further request.
void CancelDownload();

// How long the transfer waits for the server's next bytes before it ends as a failed download
// (milliseconds): 60 seconds, unless a test puts a shorter wait in place. Returns the old value.
DWORD SetDownloadReceiveTimeout(DWORD dwMilliseconds);
