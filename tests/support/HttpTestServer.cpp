#include <winsock2.h>
#include <ws2tcpip.h>
#include "HttpTestServer.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include "UniqueHandle.h"

namespace {
struct SocketTraits {
    using HandleType = SOCKET;
    static HandleType Invalid() noexcept { return INVALID_SOCKET; }
    static void Close(HandleType s) noexcept { ::closesocket(s); }
};
using CUniqueSocket = CUniqueHandle<SocketTraits>;

bool SendAll(SOCKET s, const char* p, size_t n)
{
    while (n > 0) {
        int nSent = ::send(s, p, static_cast<int>(std::min<size_t>(n, 1 << 20)), 0);
        if (nSent <= 0)
            return false;
        p += nSent;
        n -= static_cast<size_t>(nSent);
    }
    return true;
}

bool EqualsNoCase(const std::string& a, const char* b)
{
    return ::lstrcmpiA(a.c_str(), b) == 0;
}

std::string ResponseHeader(const CHttpTestResponse& response, const char* pszName)
{
    for (const auto& header : response.headers)
        if (EqualsNoCase(header.first, pszName))
            return header.second;
    return std::string();
}

// Where a "bytes=N-" range asks the body to start, when the answer may honour it; npos otherwise.
size_t RangeStart(const CHttpTestResponse& response, const CRecordedRequest& request)
{
    const std::string strRange = request.Header("Range");
    if (!response.bHonourRange || strRange.compare(0, 6, "bytes=") != 0 || strRange.back() != '-')
        return std::string::npos;
    const std::string strIfRange = request.Header("If-Range");
    if (!strIfRange.empty() && strIfRange != ResponseHeader(response, "ETag") &&
        strIfRange != ResponseHeader(response, "Last-Modified"))
        return std::string::npos;
    return static_cast<size_t>(std::strtoull(strRange.c_str() + 6, nullptr, 10));
}

// Hands out the body piece by piece, from memory or from a file, without holding a file in memory.
class CBodySource {
public:
    explicit CBodySource(const CHttpTestResponse& response) : m_response(response)
    {
        if (!response.strBodyFile.empty()) {
            m_file.open(response.strBodyFile, std::ios::binary);
            m_file.seekg(0, std::ios::end);
            m_nSize = static_cast<size_t>(m_file.tellg());
            m_file.seekg(0);
        } else {
            m_nSize = response.strBody.size();
        }
    }
    size_t Size() const { return m_nSize; }
    void SkipTo(size_t nPos)
    {
        m_nPos = std::min(nPos, m_nSize);
        if (m_file.is_open())
            m_file.seekg(static_cast<std::streamoff>(m_nPos));
    }
    // Fills the buffer with up to n bytes from the current position; returns the count.
    size_t Next(std::vector<char>& buffer, size_t n)
    {
        n = std::min(n, m_nSize - m_nPos);
        buffer.resize(n);
        if (m_file.is_open())
            m_file.read(buffer.data(), static_cast<std::streamsize>(n));
        else
            std::copy_n(m_response.strBody.data() + m_nPos, n, buffer.data());
        m_nPos += n;
        return n;
    }

private:
    const CHttpTestResponse& m_response;
    std::ifstream m_file;
    size_t m_nSize = 0;
    size_t m_nPos = 0;
};
} // namespace

CHttpTestResponse CHttpTestResponse::Ok(std::string strBody)
{
    CHttpTestResponse response;
    response.strBody = std::move(strBody);
    return response;
}

CHttpTestResponse CHttpTestResponse::Status(const char* pszStatusLine)
{
    CHttpTestResponse response;
    response.strStatusLine = pszStatusLine;
    return response;
}

CHttpTestResponse CHttpTestResponse::Redirect(const std::string& strLocation)
{
    CHttpTestResponse response = Status("HTTP/1.1 302 Found");
    response.headers.emplace_back("Location", strLocation);
    return response;
}

std::string CRecordedRequest::Header(const char* pszName) const
{
    size_t nPos = 0;
    while (nPos < strHeaders.size()) {
        size_t nEnd = strHeaders.find("\r\n", nPos);
        if (nEnd == std::string::npos)
            nEnd = strHeaders.size();
        std::string strLine = strHeaders.substr(nPos, nEnd - nPos);
        size_t nColon = strLine.find(':');
        if (nColon != std::string::npos && EqualsNoCase(strLine.substr(0, nColon), pszName)) {
            size_t nValue = strLine.find_first_not_of(' ', nColon + 1);
            return nValue == std::string::npos ? std::string() : strLine.substr(nValue);
        }
        nPos = nEnd + 2;
    }
    return std::string();
}

CHttpTestServer::CHttpTestServer(USHORT nPort)
{
    WSADATA data;
    if (::WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw std::runtime_error("WSAStartup failed");
    CUniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(nPort);
    int nAddress = sizeof(address);
    if (!listener || ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener.Get(), SOMAXCONN) != 0 ||
        ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &nAddress) != 0) {
        ::WSACleanup();
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    m_nPort = ntohs(address.sin_port);
    m_listen = listener.Detach();
    m_acceptThread = std::thread([this] { AcceptLoop(); });
}

CHttpTestServer::~CHttpTestServer()
{
    m_bStopping = true;
    ::closesocket(m_listen);
    m_acceptThread.join();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (SOCKET s : m_open)
            ::shutdown(s, SD_BOTH);
    }
    for (std::thread& worker : m_workers)
        worker.join();
    ::WSACleanup();
}

void CHttpTestServer::SetResponses(std::vector<CHttpTestResponse> responses)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responses = std::move(responses);
    m_nNext = 0;
}

std::vector<CRecordedRequest> CHttpTestServer::GetRequests() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

size_t CHttpTestServer::GetOpenConnectionCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_open.size();
}

void CHttpTestServer::UseAsProxyForThisProcess() const
{
    char szProxy[64];
    std::snprintf(szProxy, sizeof(szProxy), "http://127.0.0.1:%u", static_cast<unsigned>(m_nPort));
    ::SetEnvironmentVariableA("http_proxy", szProxy);
    _putenv_s("http_proxy", szProxy);
}

void CHttpTestServer::AcceptLoop()
{
    for (;;) {
        SOCKET s = ::accept(m_listen, nullptr, nullptr);
        if (s == INVALID_SOCKET) {
            if (m_bStopping)
                return;
            continue;
        }
        std::lock_guard<std::mutex> lock(m_mutex);
        m_open.push_back(s);
        m_workers.emplace_back([this, s] { Serve(s); });
    }
}

CHttpTestResponse CHttpTestServer::NextResponse(const CRecordedRequest& request)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.push_back(request);
    if (m_responses.empty())
        return CHttpTestResponse::Status("HTTP/1.1 404 Not Found");
    const CHttpTestResponse& response = m_responses[std::min(m_nNext, m_responses.size() - 1)];
    ++m_nNext;
    return response;
}

void CHttpTestServer::Serve(UINT_PTR sRaw)
{
    CUniqueSocket s(sRaw);
    // Wake up now and then to notice the server stopping: a blocked recv is not reliably woken by
    // shutdown from another thread under wine.
    DWORD dwTimeout = 200;
    ::setsockopt(s.Get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&dwTimeout), sizeof(dwTimeout));
    ServeOneRequest(s.Get());
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open.erase(std::remove(m_open.begin(), m_open.end(), s.Get()), m_open.end());
    // s closes here, inside the lock, so the destructor never shuts down a reused socket number.
    s.Reset();
}

// One request per connection, answered with "Connection: close": a client's idle pooled
// connection would otherwise keep the server (and the test program's exit) waiting.
void CHttpTestServer::ServeOneRequest(UINT_PTR s)
{
    std::string strPending;
    char recvBuffer[4096];
    size_t nHeaderEnd;
    while ((nHeaderEnd = strPending.find("\r\n\r\n")) == std::string::npos) {
        int n = ::recv(s, recvBuffer, sizeof(recvBuffer), 0);
        if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAETIMEDOUT && !m_bStopping)
            continue;
        if (n <= 0)
            return;
        strPending.append(recvBuffer, static_cast<size_t>(n));
    }
    CRecordedRequest request;
    size_t nLineEnd = strPending.find("\r\n");
    request.strRequestLine = strPending.substr(0, nLineEnd);
    request.strHeaders = strPending.substr(nLineEnd + 2, nHeaderEnd - nLineEnd - 2);

    const CHttpTestResponse response = NextResponse(request);
    if (response.bCloseWithoutAnswer)
        return;
    CBodySource body(response);
    std::string strHead = response.strStatusLine + "\r\n";
    const size_t nRangeStart = RangeStart(response, request);
    if (nRangeStart != std::string::npos) {
        body.SkipTo(nRangeStart);
        strHead = "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(nRangeStart) +
                  "-" + std::to_string(body.Size() - 1) + "/" + std::to_string(body.Size()) + "\r\n";
    }
    for (const auto& header : response.headers)
        strHead += header.first + ": " + header.second + "\r\n";
    const size_t nBodyStart = nRangeStart == std::string::npos ? 0 : std::min(nRangeStart, body.Size());
    const size_t nBodyBytes = body.Size() - nBodyStart;
    if (response.bAutoLength)
        strHead += "Content-Length: " + std::to_string(nBodyBytes) + "\r\n";
    strHead += "Connection: close\r\n\r\n";
    if (!SendAll(s, strHead.data(), strHead.size()))
        return;

    std::vector<char> piece;
    size_t nBudget = std::min(response.nCutAfter, nBodyBytes);
    for (bool bFirst = true; nBudget > 0; bFirst = false) {
        if (!bFirst && response.dwChunkDelayMs)
            ::Sleep(response.dwChunkDelayMs);
        size_t n = body.Next(piece, std::min(nBudget, std::max<size_t>(response.nChunkBytes, 1)));
        if (n == 0 || !SendAll(s, piece.data(), n))
            return;
        nBudget -= n;
    }
    if (response.nCutAfter < nBodyBytes && response.bStall) {
        // Wait for the client's close (recv gives 0 or an error), waking to notice the server stopping.
        for (;;) {
            int n = ::recv(s, recvBuffer, sizeof(recvBuffer), 0);
            if (n == 0 || m_bStopping || (n == SOCKET_ERROR && ::WSAGetLastError() != WSAETIMEDOUT))
                return;
        }
    }
    if (response.nCutAfter < nBodyBytes && response.bReset) {
        linger hard = {1, 0}; // closing with a zero linger time sends a reset
        ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&hard), sizeof(hard));
    }
}
