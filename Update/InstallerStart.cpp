#include "InstallerStart.h"
#include <objbase.h>
#include <climits>
#include <string>
#include "AnsiText.h"
#include "UniqueHandle.h"

namespace {
CInstallerStartCalls g_calls = {&::CreateProcessA, &::ShellExecuteExA};

struct FindTraits {
    using HandleType = HANDLE;
    static HandleType Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HandleType h) noexcept { ::FindClose(h); }
};
using CUniqueFind = CUniqueHandle<FindTraits>;

// The folder the installer starts in: the system folder. An elevated installer would otherwise
// run from the updater's current directory, which the user's programs may write.
bool GetStartDirectory(char (&szDirectory)[MAX_PATH])
{
    UINT nLength = ::GetSystemDirectoryA(szDirectory, MAX_PATH);
    return nLength > 0 && nLength < MAX_PATH;
}

bool RemoveEntry(const std::wstring& strPath, DWORD dwAttributes, std::wstring& strInTheWay);

// Empties the folder; the names kept (the installer's) only at its top. strInTheWay takes the
// first entry that stays.
bool EmptyFolder(const std::wstring& strFolder, const std::wstring& strKeep, std::wstring& strInTheWay)
{
    WIN32_FIND_DATAW found = {};
    CUniqueFind find(::FindFirstFileW((strFolder + L"\\*").c_str(), &found));
    if (!find)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    bool bAllRemoved = true;
    do {
        if (::lstrcmpW(found.cFileName, L".") == 0 || ::lstrcmpW(found.cFileName, L"..") == 0)
            continue;
        if (!strKeep.empty() &&
            ::CompareStringOrdinal(found.cFileName, -1, strKeep.c_str(), -1, TRUE) == CSTR_EQUAL)
            continue;
        // Whatever stays, the rest still goes: the caller refuses the start either way.
        if (!RemoveEntry(strFolder + L"\\" + found.cFileName, found.dwFileAttributes, strInTheWay))
            bAllRemoved = false;
    } while (::FindNextFileW(find.Get(), &found));
    return bAllRemoved && ::GetLastError() == ERROR_NO_MORE_FILES;
}

bool RemoveEntry(const std::wstring& strPath, DWORD dwAttributes, std::wstring& strInTheWay)
{
    if (dwAttributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(strPath.c_str(), dwAttributes & ~FILE_ATTRIBUTE_READONLY);
    bool bRemoved = false;
    if (!(dwAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        bRemoved = ::DeleteFileW(strPath.c_str()) != FALSE;
    } else if (!(dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
               !EmptyFolder(strPath, std::wstring(), strInTheWay)) {
        return false; // what stayed inside is the one named
    } else {
        // A junction or a symbolic link to a folder goes as the link: what it points to is not ours.
        bRemoved = ::RemoveDirectoryW(strPath.c_str()) != FALSE;
    }
    if (!bRemoved && strInTheWay.empty())
        strInTheWay = strPath;
    return bRemoved;
}

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
BOOL StartElevated(HWND hwndOwner, LPCSTR lpszPath, LPCSTR lpszDirectory)
{
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
    sei.lpDirectory = lpszDirectory;
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

    char szDirectory[MAX_PATH] = {};
    if (!GetStartDirectory(szDirectory))
        return FALSE;

    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (g_calls.pfnCreateProcess(lpszPath, szCommandLine, nullptr, nullptr, FALSE, 0, nullptr, szDirectory,
                                 &si, &pi)) {
        CUniqueKernelHandle thread(pi.hThread);
        CUniqueKernelHandle process(pi.hProcess);
        return TRUE;
    }
    // A declined prompt ends here too (ERROR_CANCELLED): not started.
    return ::GetLastError() == ERROR_ELEVATION_REQUIRED ? StartElevated(hwndOwner, lpszPath, szDirectory)
                                                        : FALSE;
}

BOOL RemoveAllButInstaller(LPCSTR lpszPath, std::wstring* pstrInTheWay)
{
    try {
        if (pstrInTheWay)
            pstrInTheWay->clear();
        const std::wstring strPath = lpszPath ? AnsiToWide(lpszPath) : std::wstring();
        size_t nSlash = strPath.find_last_of(L'\\');
        if (nSlash == std::wstring::npos || nSlash == 0 || nSlash + 1 == strPath.size())
            return FALSE;
        std::wstring strInTheWay;
        if (EmptyFolder(strPath.substr(0, nSlash), strPath.substr(nSlash + 1), strInTheWay))
            return TRUE;
        if (pstrInTheWay)
            pstrInTheWay->swap(strInTheWay);
        return FALSE;
    } catch (...) {
        return FALSE; // no memory for a path: nothing is known to be gone
    }
}

BOOL ReplaceWithFinalPath(HANDLE hHeld, LPSTR lpszPath, size_t cbPath)
{
    try {
        BY_HANDLE_FILE_INFORMATION held = {}, named = {};
        if (!hHeld || hHeld == INVALID_HANDLE_VALUE || !lpszPath || cbPath > INT_MAX ||
            !::GetFileInformationByHandle(hHeld, &held))
            return FALSE;
        // Normalized names are not always to be had over SMB (a folder above the share's the user
        // may not list); the opened name is the one after the links too.
        std::wstring strFinal;
        for (DWORD dwFlags : {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS, FILE_NAME_OPENED | VOLUME_NAME_DOS}) {
            strFinal.assign(MAX_PATH, L'\0');
            DWORD cch = ::GetFinalPathNameByHandleW(hHeld, &strFinal[0], MAX_PATH, dwFlags);
            if (cch >= MAX_PATH) { // too small: cch is the size asked for, its null included
                strFinal.assign(cch, L'\0');
                cch = ::GetFinalPathNameByHandleW(hHeld, &strFinal[0], cch, dwFlags);
            }
            if (cch > 0 && cch < strFinal.size()) {
                strFinal.resize(cch);
                break;
            }
            strFinal.clear();
        }
        // "\\?\C:\..." and "\\?\UNC\server\share\..." in the forms every program takes: the
        // installer gets its path as its command line and as its own module's name. A volume
        // without a drive letter has no such form (the call fails with ERROR_PATH_NOT_FOUND).
        std::wstring strPlain;
        if (strFinal.compare(0, 8, L"\\\\?\\UNC\\") == 0)
            strPlain = L"\\\\" + strFinal.substr(8);
        else if (strFinal.compare(0, 4, L"\\\\?\\") == 0 && strFinal.size() > 7 && strFinal[5] == L':' &&
                 strFinal[6] == L'\\')
            strPlain = strFinal.substr(4);
        else
            return FALSE;
        // The starts take the system code page: a name it cannot spell exactly is refused (UTF-8
        // spells every name, and allows neither the flag nor the question).
        const bool bUtf8 = ::GetACP() == CP_UTF8;
        BOOL bDefaultUsed = FALSE;
        std::string strAnsi(cbPath, '\0');
        const int cb =
            ::WideCharToMultiByte(CP_ACP, bUtf8 ? 0 : WC_NO_BEST_FIT_CHARS, strPlain.c_str(), -1, &strAnsi[0],
                                  static_cast<int>(cbPath), nullptr, bUtf8 ? nullptr : &bDefaultUsed);
        if (cb <= 0 || bDefaultUsed)
            return FALSE;
        // The path must name the file held open, and be no link itself.
        CUniqueFileHandle file(::CreateFileA(strAnsi.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!file || !::GetFileInformationByHandle(file.Get(), &named) ||
            (named.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
            held.dwVolumeSerialNumber != named.dwVolumeSerialNumber ||
            held.nFileIndexHigh != named.nFileIndexHigh || held.nFileIndexLow != named.nFileIndexLow)
            return FALSE;
        ::CopyMemory(lpszPath, strAnsi.c_str(), static_cast<size_t>(cb));
        return TRUE;
    } catch (...) {
        return FALSE;
    }
}
