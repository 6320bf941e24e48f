#include "DownloadTestSupport.h"
#include <shellapi.h>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include "UpdateDownload.h"

CHttpTestServer& TestServer()
{
    static CHttpTestServer server;
    static const bool bProxied = (server.UseAsProxyForThisProcess(), true);
    (void)bProxied;
    return server;
}

CRecordingSink::CRecordingSink()
    : m_hWnd(::CreateWindowExA(0, "STATIC", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr))
{
}

CRecordingSink::~CRecordingSink()
{
    ::DestroyWindow(m_hWnd);
}

void CRecordingSink::SetProductSize(ULONGLONG ullProductSize)
{
    m_ullProductSize = ullProductSize;
    m_reports.push_back({'S', ullProductSize});
}

void CRecordingSink::UpdateProgress(ULONGLONG ullDownloadSize)
{
    if (m_ullProductSize == 0 || m_bThrowOnProgress)
        throw std::logic_error("no size to report progress against");
    m_reports.push_back({'P', ullDownloadSize});
}

bool CRecordingSink::WaitForFinishMessage(DWORD dwTimeoutMs)
{
    DWORD dwStart = ::GetTickCount();
    do {
        MSG msg;
        if (::PeekMessageA(&msg, m_hWnd, WM_DOWNLOAD_FINISHED, WM_DOWNLOAD_FINISHED, PM_REMOVE))
            return msg.wParam == 0 && msg.lParam == 0;
        ::Sleep(10);
    } while (::GetTickCount() - dwStart < dwTimeoutMs);
    return false;
}

std::string ReadFileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& strPath, const std::string& strBytes)
{
    std::ofstream(strPath, std::ios::binary) << strBytes;
}

bool FileExists(const std::string& strPath)
{
    return ::GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string MakeTempFolder(const char* pszName)
{
    char szTemp[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, szTemp);
    std::string strFolder = std::string(szTemp) + "kvtest-" + std::to_string(::GetCurrentProcessId()) + "-" + pszName;
    // SHFileOperation wants a double-terminated list.
    std::string strFrom = strFolder + '\0';
    SHFILEOPSTRUCTA op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = strFrom.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_SILENT | FOF_NOERRORUI;
    ::SHFileOperationA(&op);
    ::CreateDirectoryA(strFolder.c_str(), nullptr);
    return strFolder + "\\";
}

std::string PatternBytes(size_t nSize)
{
    std::string strBytes(nSize, '\0');
    for (size_t i = 0; i < nSize; ++i)
        strBytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return strBytes;
}
