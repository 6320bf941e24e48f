// Serves one file for a GET of any URL on 127.0.0.1, for end-to-end runs of the updater (point
// http_proxy at it) and for the download benchmark.
//   kvtestserver --file PATH [--port N] [--port-file PATH] [--bytes-per-second N]
//                [--chunk-bytes N --chunk-delay-ms N] [--stall-after N] [--reset-after N]
//                [--etag TEXT] [--ranges 1] [--requests N]
// Port 0 (the default) picks a free port; the port is printed on stdout and, if asked, written to
// the port file. --stall-after sends that many bytes of the body, then nothing, keeping the
// connection open; --reset-after sends that many bytes of each answer, then resets the connection.
// --etag sends that validator; --ranges 1 answers "Range: bytes=N-" with 206 (If-Range permitting).
// Without --requests the server runs until it is ended.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include "HttpTestServer.h"

namespace {
int Usage()
{
    std::fprintf(
        stderr,
        "usage: kvtestserver --file PATH [--port N] [--port-file PATH] [--bytes-per-second N]\n"
        "                    [--chunk-bytes N] [--chunk-delay-ms N] [--stall-after N] [--reset-after N]\n"
        "                    [--etag TEXT] [--ranges 1] [--requests N]\n");
    return 2;
}
} // namespace

int main(int argc, char** argv)
{
    try {
        CHttpTestResponse response;
        USHORT nPort = 0;
        const char* pszPortFile = nullptr;
        unsigned long long ullBytesPerSecond = 0;
        size_t nRequests = 0;
        for (int i = 1; i < argc; ++i) {
            if (i + 1 >= argc)
                return Usage();
            const char* pszName = argv[i];
            const char* pszValue = argv[++i];
            if (!std::strcmp(pszName, "--file"))
                response.strBodyFile = pszValue;
            else if (!std::strcmp(pszName, "--port"))
                nPort = static_cast<USHORT>(std::strtoul(pszValue, nullptr, 10));
            else if (!std::strcmp(pszName, "--port-file"))
                pszPortFile = pszValue;
            else if (!std::strcmp(pszName, "--bytes-per-second"))
                ullBytesPerSecond = std::strtoull(pszValue, nullptr, 10);
            else if (!std::strcmp(pszName, "--chunk-bytes"))
                response.nChunkBytes = std::strtoull(pszValue, nullptr, 10);
            else if (!std::strcmp(pszName, "--chunk-delay-ms"))
                response.dwChunkDelayMs = std::strtoul(pszValue, nullptr, 10);
            else if (!std::strcmp(pszName, "--stall-after")) {
                response.nCutAfter = std::strtoull(pszValue, nullptr, 10);
                response.bStall = true;
            } else if (!std::strcmp(pszName, "--reset-after")) {
                response.nCutAfter = std::strtoull(pszValue, nullptr, 10);
                response.bReset = true;
            } else if (!std::strcmp(pszName, "--etag"))
                response.headers.emplace_back("ETag", pszValue);
            else if (!std::strcmp(pszName, "--ranges"))
                response.bHonourRange = std::strcmp(pszValue, "0") != 0;
            else if (!std::strcmp(pszName, "--requests"))
                nRequests = std::strtoull(pszValue, nullptr, 10);
            else
                return Usage();
        }
        if (response.strBodyFile.empty())
            return Usage();
        if (FILE* pCheck = std::fopen(response.strBodyFile.c_str(), "rb"))
            std::fclose(pCheck);
        else
            return Usage();
        if (ullBytesPerSecond > 0) {
            // Ten pieces a second.
            response.nChunkBytes = static_cast<size_t>(ullBytesPerSecond / 10 ? ullBytesPerSecond / 10 : 1);
            response.dwChunkDelayMs = 100;
        }

        CHttpTestServer server(nPort);
        server.SetResponses({response});
        std::printf("%u\n", static_cast<unsigned>(server.GetPort()));
        std::fflush(stdout);
        if (pszPortFile) {
            if (FILE* pFile = std::fopen(pszPortFile, "w")) {
                std::fprintf(pFile, "%u\n", static_cast<unsigned>(server.GetPort()));
                std::fclose(pFile);
            }
        }
        while (nRequests == 0 || server.GetRequests().size() < nRequests || server.GetOpenConnectionCount() > 0)
            ::Sleep(50);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kvtestserver: %s\n", e.what());
        return 1;
    }
}
