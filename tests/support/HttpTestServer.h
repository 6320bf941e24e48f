#pragma once
// A scripted HTTP server for tests, on 127.0.0.1 inside the test program. Each request (one per
// connection) gets the next scripted response (the last one repeats once the script is used up); every request line
// and header block is recorded so tests can check exactly what the client sent.
#include <windows.h>
#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct CHttpTestResponse {
    std::string strStatusLine = "HTTP/1.1 200 OK";
    // Sent as given, in order. Content-Length is added from the body unless bAutoLength is false.
    std::vector<std::pair<std::string, std::string>> headers;
    bool bAutoLength = true;
    std::string strBody;
    // Body served from this file instead of strBody when set (for large bodies).
    std::string strBodyFile;
    // Pacing: the body goes out in pieces of nChunkBytes with dwChunkDelayMs between them.
    size_t nChunkBytes = 1 << 20;
    DWORD dwChunkDelayMs = 0;
    // Cut the body short after this many bytes: a plain close, or a reset when bReset is set.
    size_t nCutAfter = static_cast<size_t>(-1);
    bool bReset = false;
    // At the cut, neither close nor send: the connection stays open and silent until the client
    // closes it or the server stops (a peer that slept, a stalled proxy).
    bool bStall = false;
    // Close the connection as soon as the request has arrived, answering nothing.
    bool bCloseWithoutAnswer = false;
    // Answer "Range: bytes=N-" with 206 and the body from N, unless an If-Range names another
    // validator than this answer's ETag or Last-Modified header (then the whole body, 200). The
    // cut above counts the bytes of this answer.
    bool bHonourRange = false;

    static CHttpTestResponse Ok(std::string strBody);
    static CHttpTestResponse Status(const char* pszStatusLine);
    static CHttpTestResponse Redirect(const std::string& strLocation);
};

struct CRecordedRequest {
    std::string strRequestLine; // for example "GET http://host:80/path HTTP/1.1"
    std::string strHeaders;     // the header lines as received, CRLF-separated
    // The value of the first header of this name (case-insensitive), or empty.
    std::string Header(const char* pszName) const;
};

class CHttpTestServer {
public:
    // Listens on 127.0.0.1 at nPort (0 picks a free one); throws std::runtime_error on failure.
    explicit CHttpTestServer(USHORT nPort = 0);
    CHttpTestServer(const CHttpTestServer&) = delete;
    CHttpTestServer& operator=(const CHttpTestServer&) = delete;
    ~CHttpTestServer();

    USHORT GetPort() const { return m_nPort; }
    // Replaces the script.
    void SetResponses(std::vector<CHttpTestResponse> responses);
    std::vector<CRecordedRequest> GetRequests() const;
    // Connections still open (a response may still be going out on them).
    size_t GetOpenConnectionCount() const;
    // Routes this process's WinInet sessions (preconfigured proxy settings) to this server.
    void UseAsProxyForThisProcess() const;

private:
    void AcceptLoop();
    void Serve(UINT_PTR s);
    void ServeOneRequest(UINT_PTR s);
    CHttpTestResponse NextResponse(const CRecordedRequest& request);

    USHORT m_nPort = 0;
    UINT_PTR m_listen = ~UINT_PTR(0); // a SOCKET; winsock stays out of this header
    std::atomic<bool> m_bStopping{false};
    mutable std::mutex m_mutex;
    std::vector<CHttpTestResponse> m_responses;
    size_t m_nNext = 0;
    std::vector<CRecordedRequest> m_requests;
    std::vector<UINT_PTR> m_open;
    std::vector<std::thread> m_workers;
    std::thread m_acceptThread;
};
