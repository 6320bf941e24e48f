// kvsamplecompare: stands in for the comparison program. Prints the command line it received and,
// when KV_RECORD_FILE names a file, appends it there as one UTF-8 line.
#include <windows.h>
#include <cstdio>
#include <string>

int wmain()
{
    const wchar_t* pszLine = ::GetCommandLineW();
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, pszLine, -1, nullptr, 0, nullptr, nullptr);
    std::string strLine(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, pszLine, -1, &strLine[0], cb, nullptr, nullptr);
    std::printf("comparison program started with: %s\n", strLine.c_str());
    wchar_t szFile[MAX_PATH];
    DWORD cch = ::GetEnvironmentVariableW(L"KV_RECORD_FILE", szFile, MAX_PATH);
    if (cch > 0 && cch < MAX_PATH) {
        if (FILE* f = ::_wfopen(szFile, L"ab")) {
            std::fprintf(f, "%s\n", strLine.c_str());
            std::fclose(f);
        }
    }
    return 0;
}
