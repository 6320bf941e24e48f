#pragma once
// One HTTP request opened by CInternetSession: header queries and the streamed body.
#include <windows.h>
#include <wininet.h>
#include "InternetException.h"

class CHttpFile {
public:
    // Owns both: the connection closes after the request.
    CHttpFile(HINTERNET hConnection, HINTERNET hRequest) noexcept
        : m_hConnection(hConnection), m_hRequest(hRequest)
    {
    }
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;
    ~CHttpFile() = default;

    // The status code as a number; FALSE when the response has none that reads as one.
    BOOL QueryInfoStatusCode(DWORD& dwStatusCode) const noexcept;
    // HttpQueryInfo as it stands: FALSE when the header is missing or does not fit the buffer.
    BOOL QueryInfo(DWORD dwInfoLevel, LPVOID lpvBuffer, LPDWORD lpdwBufferLength,
                   LPDWORD lpdwIndex = nullptr) const noexcept;

    // Reads up to nCount bytes of the body; 0 at its end. Throws CInternetException on a read error.
    UINT Read(void* lpBuf, UINT nCount);

    void Close() noexcept
    {
        m_hRequest.Reset();
        m_hConnection.Reset();
    }
    HINTERNET GetHandle() const noexcept { return m_hRequest.Get(); }

private:
    CUniqueInternetHandle m_hConnection; // declared first: destroyed after the request
    CUniqueInternetHandle m_hRequest;
};
