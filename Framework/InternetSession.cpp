#include "InternetSession.h"
#include "HttpFile.h"

CInternetSession::CInternetSession(LPCTSTR pstrAgent, DWORD_PTR dwContext, DWORD dwAccessType,
                                   LPCTSTR pstrProxyName, LPCTSTR pstrProxyBypass, DWORD dwFlags)
    : m_hSession(::InternetOpen(pstrAgent, dwAccessType, pstrProxyName, pstrProxyBypass, dwFlags)),
      m_dwContext(dwContext)
{
    if (!m_hSession)
        throw CInternetException(::GetLastError());
}

CHttpAddress CInternetSession::CrackURL(LPCTSTR pstrURL)
{
    if (!pstrURL)
        throw CInternetException(ERROR_INVALID_PARAMETER);
    // No part of a URL is longer than the URL: buffers of its length hold every part.
    const size_t cchURL = ::lstrlen(pstrURL) + 1;
    std::basic_string<TCHAR> strHost(cchURL, 0), strPath(cchURL, 0), strExtra(cchURL, 0);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.lpszHostName = &strHost[0];
    parts.dwHostNameLength = static_cast<DWORD>(cchURL);
    parts.lpszUrlPath = &strPath[0];
    parts.dwUrlPathLength = static_cast<DWORD>(cchURL);
    parts.lpszExtraInfo = &strExtra[0];
    parts.dwExtraInfoLength = static_cast<DWORD>(cchURL);
    if (!::InternetCrackUrl(pstrURL, 0, 0, &parts))
        throw CInternetException(::GetLastError());
    // Only http is served through this class; anything else would need another kind of file.
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        throw CInternetException(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    CHttpAddress address;
    address.strHost.assign(strHost.c_str(), parts.dwHostNameLength);
    address.nPort = parts.nPort;
    address.strObject.assign(strPath.c_str(), parts.dwUrlPathLength);
    address.strObject.append(strExtra.c_str(), parts.dwExtraInfoLength);
    if (address.strObject.empty())
        address.strObject = TEXT("/");
    address.bSecure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return address;
}

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(LPCTSTR pstrURL, DWORD_PTR dwContext, DWORD dwFlags,
                                                     LPCTSTR pstrHeaders, DWORD dwHeadersLength,
                                                     DWORD dwReceiveTimeout)
{
    if (!m_hSession)
        throw CInternetException(ERROR_INVALID_HANDLE);
    return OpenRequest(CrackURL(pstrURL), dwContext, dwFlags, pstrHeaders, dwHeadersLength, dwReceiveTimeout);
}

std::unique_ptr<CHttpFile> CInternetSession::OpenRequest(const CHttpAddress& address, DWORD_PTR dwContext,
                                                         DWORD dwFlags, LPCTSTR pstrHeaders,
                                                         DWORD dwHeadersLength, DWORD dwReceiveTimeout)
{
    if (!m_hSession)
        throw CInternetException(ERROR_INVALID_HANDLE);
    if (address.bSecure)
        dwFlags |= INTERNET_FLAG_SECURE;

    const DWORD_PTR dwRequestContext = dwContext ? dwContext : m_dwContext;
    CUniqueInternetHandle hConnection(::InternetConnect(m_hSession.Get(), address.strHost.c_str(),
                                                        address.nPort, nullptr, nullptr,
                                                        INTERNET_SERVICE_HTTP, 0, dwRequestContext));
    if (!hConnection)
        throw CInternetException(::GetLastError());
    LPCTSTR rgpszAcceptTypes[] = {TEXT("*/*"), nullptr};
    CUniqueInternetHandle hRequest(::HttpOpenRequest(hConnection.Get(), TEXT("GET"),
                                                     address.strObject.c_str(), nullptr, nullptr,
                                                     rgpszAcceptTypes, dwFlags, dwRequestContext));
    if (!hRequest)
        throw CInternetException(::GetLastError());
    // On the request itself, before it is sent: the handle whose waits it bounds.
    if (dwReceiveTimeout != 0 && !::InternetSetOption(hRequest.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT,
                                                      &dwReceiveTimeout, sizeof(dwReceiveTimeout)))
        throw CInternetException(::GetLastError());
    // Redirects are followed here, as the flags allow.
    if (!::HttpSendRequest(hRequest.Get(), pstrHeaders, pstrHeaders ? dwHeadersLength : 0, nullptr, 0))
        throw CInternetException(::GetLastError());
    // The handles change owner only once their new owner exists: an allocation failure closes them.
    std::unique_ptr<CHttpFile> pFile(new CHttpFile(hConnection.Get(), hRequest.Get()));
    hRequest.Detach();
    hConnection.Detach();
    return pFile;
}
