#pragma once
// The framework's internet session over WinInet: one open session handle, from which HTTP requests
// are opened by URL.
#include <windows.h>
#include <wininet.h>
#include <memory>
#include <string>
#include "HttpFile.h"

// An http or https address cracked into what a request needs, so that a caller asking the same
// address several times cracks it once.
struct CHttpAddress {
    std::basic_string<TCHAR> strHost;
    INTERNET_PORT nPort = 0;
    std::basic_string<TCHAR> strObject; // path and extra information, at least "/"
    bool bSecure = false;
};

class CInternetSession {
public:
    // Cracks an http or https URL; throws CInternetException for any other text.
    static CHttpAddress CrackURL(LPCTSTR pstrURL);

    // Opens the session at once; throws CInternetException when the platform refuses.
    explicit CInternetSession(LPCTSTR pstrAgent = nullptr, DWORD_PTR dwContext = 1,
                              DWORD dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG, LPCTSTR pstrProxyName = nullptr,
                              LPCTSTR pstrProxyBypass = nullptr, DWORD dwFlags = 0);
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;
    ~CInternetSession() = default;

    // Sends a GET for an http URL and returns the request once the response headers have arrived.
    // The caller owns the result. Throws CInternetException on any failure; never returns null.
    // dwReceiveTimeout (milliseconds, 0 for the library's own) bounds every wait for the server's
    // next bytes, the response's and the body's.
    std::unique_ptr<CHttpFile> OpenURL(LPCTSTR pstrURL, DWORD_PTR dwContext = 1,
                                       DWORD dwFlags = INTERNET_FLAG_TRANSFER_ASCII,
                                       LPCTSTR pstrHeaders = nullptr, DWORD dwHeadersLength = 0,
                                       DWORD dwReceiveTimeout = 0);
    // The same for an address cracked beforehand; INTERNET_FLAG_SECURE is added for https.
    std::unique_ptr<CHttpFile> OpenRequest(const CHttpAddress& address, DWORD_PTR dwContext, DWORD dwFlags,
                                           LPCTSTR pstrHeaders, DWORD dwHeadersLength,
                                           DWORD dwReceiveTimeout);

    void Close() noexcept { m_hSession.Reset(); }
    HINTERNET GetHandle() const noexcept { return m_hSession.Get(); }

private:
    CUniqueInternetHandle m_hSession;
    DWORD_PTR m_dwContext;
};
