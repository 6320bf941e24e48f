// Stands in for the product's installer: appends its command line, as the system gave it, to the
// file named by KV_RECORD_FILE, so that tests can see how (and whether) it was started.
#include <windows.h>
#include <cstdio>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    char szFile[MAX_PATH] = {};
    DWORD n = ::GetEnvironmentVariableA("KV_RECORD_FILE", szFile, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return 2;
    FILE* f = std::fopen(szFile, "ab");
    if (!f)
        return 3;
    std::fprintf(f, "%s\n", ::GetCommandLineA());
    std::fclose(f);
    return 0;
}
