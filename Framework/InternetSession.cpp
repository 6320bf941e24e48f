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

std::unique_ptr<CHttpFile> CInternetSession::OpenURL(LPCTSTR pstrURL, DWORD_PTR dwContext, DWORD dwFlags,
                                                     LPCTSTR pstrHeaders, DWORD dwHeadersLength)
{
    if (!m_hSession)
        throw CInternetException(ERROR_INVALID_HANDLE);
    // Only http is served through this class; anything else would need another kind of file.
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    if (!::InternetCrackUrl(pstrURL, 0, 0, &parts))
        throw CInternetException(::GetLastError());
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        throw CInternetException(ERROR_INTERNET_UNRECOGNIZED_SCHEME);

    CUniqueInternetHandle hRequest(::InternetOpenUrl(m_hSession.Get(), pstrURL, pstrHeaders,
                                                     pstrHeaders ? dwHeadersLength : 0, dwFlags,
                                                     dwContext ? dwContext : m_dwContext));
    if (!hRequest)
        throw CInternetException(::GetLastError());
    // The request changes owner only once its new owner exists: an allocation failure closes it.
    std::unique_ptr<CHttpFile> pFile(new CHttpFile(hRequest.Get()));
    hRequest.Detach();
    return pFile;
}
