// kvrecorder: stands in for a program that another program starts (the comparison program, the
// installer). Appends its own command line, as UTF-8 on one line, to the file named by
// KV_RECORD_FILE, and exits 0. A GUI program, so starting it never opens a console.
#include <windows.h>
#include <string>
#include <vector>
#include "UniqueHandle.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::vector<WCHAR> file(32768);
    DWORD n = ::GetEnvironmentVariableW(L"KV_RECORD_FILE", file.data(), static_cast<DWORD>(file.size()));
    if (n == 0 || n >= file.size())
        return 0;

    LPCWSTR pszCommandLine = ::GetCommandLineW();
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, pszCommandLine, -1, nullptr, 0, nullptr, nullptr);
    std::string line(cb > 0 ? cb : 1, '\0');
    if (cb > 0)
        ::WideCharToMultiByte(CP_UTF8, 0, pszCommandLine, -1, &line[0], cb, nullptr, nullptr);
    line.resize(line.size() - 1);
    line += "\r\n";

    // Appending in one write keeps lines of recorders that run together whole.
    CUniqueFileHandle hFile(::CreateFileW(file.data(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!hFile)
        return 0;
    DWORD written = 0;
    ::WriteFile(hFile.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    return 0;
}
