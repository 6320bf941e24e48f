// kvrecorder: stands in for a program that another program starts (the comparison program, the
// installer). Appends its own command line, as UTF-8 on one line, to the file named by
// KV_RECORD_FILE, and exits 0. A GUI program, so starting it never opens a console. With
// KV_RECORD_DIRECTORY_FILE set it also appends the folder it was started in to that file.
#include <windows.h>
#include <string>
#include <vector>
#include "UniqueHandle.h"

namespace {
void AppendLine(LPCWSTR pszFile, LPCWSTR pszText)
{
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, nullptr, 0, nullptr, nullptr);
    std::string line(cb > 0 ? cb : 1, '\0');
    if (cb > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, pszText, -1, &line[0], cb, nullptr, nullptr);
    line.resize(line.size() - 1);
    line += "\r\n";
    // Appending in one write keeps lines of recorders that run together whole.
    CUniqueFileHandle hFile(::CreateFileW(pszFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return;
    DWORD written = 0;
    ::WriteFile(hFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::vector<WCHAR> directoryFile(32768), directory(32768);
    DWORD nd = ::GetEnvironmentVariableW(L"KV_RECORD_DIRECTORY_FILE", directoryFile.data(),
                                         static_cast<DWORD>(directoryFile.size()));
    DWORD ncd = ::GetCurrentDirectoryW(static_cast<DWORD>(directory.size()), directory.data());
    if (nd != 0 && nd < directoryFile.size() && ncd != 0 && ncd < directory.size())
        AppendLine(directoryFile.data(), directory.data());

    std::vector<WCHAR> file(32768);
    DWORD n = ::GetEnvironmentVariableW(L"KV_RECORD_FILE", file.data(), static_cast<DWORD>(file.size()));
    if (n == 0 || n >= file.size())
        return 0;

    AppendLine(file.data(), ::GetCommandLineW());
    return 0;
}
