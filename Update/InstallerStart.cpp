#include "InstallerStart.h"
#include <objbase.h>
#include "UniqueHandle.h"

namespace {
CInstallerStartCalls g_calls = {&::CreateProcessA, &::ShellExecuteExA};

// The shell may hand an execute to COM objects, so the calling thread needs COM while it runs.
class CComScope {
public:
    CComScope()
        : m_bInitialized(
              SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)))
    {
    }
    ~CComScope()
    {
        if (m_bInitialized)
            ::CoUninitialize();
    }
    CComScope(const CComScope&) = delete;
    CComScope& operator=(const CComScope&) = delete;

private:
    bool m_bInitialized;
};

// Installers ask for administrator rights (by their manifest, or by Windows' installer detection),
// and CreateProcess refuses those with ERROR_ELEVATION_REQUIRED: only the shell's execute shows
// the consent prompt.
BOOL StartElevated(HWND hwndOwner, LPCSTR lpszPath)
{
    char szDirectory[MAX_PATH] = {};
    DWORD dwLength = ::GetCurrentDirectoryA(MAX_PATH, szDirectory);
    CComScope com;
    SHELLEXECUTEINFOA sei = {};
    sei.cbSize = sizeof(sei);
    // No process handle is asked for, so none is left to close. NOASYNC: the updater ends right
    // after a successful start, which must not cut the shell's execute short.
    sei.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
    sei.hwnd = hwndOwner;
    sei.lpVerb = "runas";
    sei.lpFile = lpszPath;
    sei.lpParameters = nullptr;
    // A directory that does not fit is left to the shell, which then takes the current one itself.
    sei.lpDirectory = dwLength > 0 && dwLength < MAX_PATH ? szDirectory : nullptr;
    sei.nShow = SW_SHOWNORMAL;
    return g_calls.pfnShellExecuteEx(&sei) ? TRUE : FALSE;
}
} // namespace

CInstallerStartCalls SetInstallerStartCalls(const CInstallerStartCalls& calls)
{
    CInstallerStartCalls old = g_calls;
    g_calls = calls;
    return old;
}

BOOL StartInstallerProcess(HWND hwndOwner, LPCSTR lpszPath)
{
    // The path is both the program and, quoted, the whole command line: unquoted, a path with a
    // blank in it ("C:\Users\Ann Lee\...") would first be tried as shorter programs ("C:\Users\Ann").
    char szCommandLine[MAX_PATH * 2 + 3] = {};
    int nLength = lpszPath ? ::lstrlenA(lpszPath) : 0;
    if (nLength <= 0 || nLength + 3 > static_cast<int>(sizeof(szCommandLine)))
        return FALSE;
    szCommandLine[0] = '"';
    ::CopyMemory(szCommandLine + 1, lpszPath, nLength);
    szCommandLine[nLength + 1] = '"';

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (g_calls.pfnCreateProcess(lpszPath, szCommandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                                 &pi)) {
        CUniqueKernelHandle thread(pi.hThread);
        CUniqueKernelHandle process(pi.hProcess);
        return TRUE;
    }
    // A declined prompt ends here too (ERROR_CANCELLED): not started.
    return ::GetLastError() == ERROR_ELEVATION_REQUIRED ? StartElevated(hwndOwner, lpszPath) : FALSE;
}
