#include "HttpFile.h"

BOOL CHttpFile::QueryInfoStatusCode(DWORD& dwStatusCode) const noexcept
{
    DWORD dwStatus = 0;
    DWORD dwLength = sizeof(dwStatus);
    if (!::HttpQueryInfo(m_hRequest.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &dwStatus, &dwLength,
                         nullptr))
        return FALSE;
    dwStatusCode = dwStatus;
    return TRUE;
}

BOOL CHttpFile::QueryInfo(DWORD dwInfoLevel, LPVOID lpvBuffer, LPDWORD lpdwBufferLength,
                          LPDWORD lpdwIndex) const noexcept
{
    return ::HttpQueryInfo(m_hRequest.Get(), dwInfoLevel, lpvBuffer, lpdwBufferLength, lpdwIndex);
}

UINT CHttpFile::Read(void* lpBuf, UINT nCount)
{
    DWORD dwRead = 0;
    if (!::InternetReadFile(m_hRequest.Get(), lpBuf, nCount, &dwRead))
        throw CInternetException(::GetLastError());
    return dwRead;
}
