#include "EMCreateDirectory.h"
#include <shlwapi.h>
#define STRSAFE_NO_DEPRECATE // the framework string class formats with the C library on purpose
#include <strsafe.h>
#include <mbstring.h>
#include <cstring>
#include "StringT.h"
#include "WinApp.h"

namespace {
bool IsExistingDirectory(LPCSTR lpszPath)
{
    DWORD dwAttributes = ::GetFileAttributesA(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool EnsureDirectory(LPCSTR lpszPath)
{
    return IsExistingDirectory(lpszPath) || ::CreateDirectoryA(lpszPath, nullptr);
}

} // namespace

BOOL EMCreateDirectory(LPCSTR lpszDirectory)
{
    // Paths that do not fit the platform's limit are refused quietly, given or made absolute: a
    // result of MAX_PATH or more is the size the full path would need, not a path.
    if (lpszDirectory && ::lstrlenA(lpszDirectory) >= MAX_PATH)
        return FALSE;
    char szFullPath[MAX_PATH] = {};
    DWORD dwLength = lpszDirectory ? ::GetFullPathNameA(lpszDirectory, MAX_PATH, szFullPath, nullptr) : 0;
    if (dwLength == 0) {
        CStringA strMessage;
        strMessage.Format("Invalid directory string\"%s\"\n", lpszDirectory ? lpszDirectory : "");
        AfxMessageBox(strMessage, MB_ICONEXCLAMATION | MB_OK);
        return FALSE;
    }
    if (dwLength >= MAX_PATH)
        return FALSE;

    char szRoot[MAX_PATH] = {};
    ::StringCchCopyNA(szRoot, MAX_PATH, szFullPath, MAX_PATH - 1);
    ::PathStripToRootA(szRoot);
    const bool bUNC = ::PathIsUNCA(szRoot) != FALSE;
    if (!bUNC) {
        DWORD dwMaxComponent = 0;
        DWORD dwFlags = 0;
        if (!::GetVolumeInformationA(szRoot, nullptr, 0, nullptr, &dwMaxComponent, &dwFlags, nullptr, 0))
            return FALSE;
    }

    if (IsExistingDirectory(szFullPath))
        return TRUE;

    // Each prefix up to a backslash, in turn: a drive's first prefix (C:) always exists and is
    // never made. A share (\\server\share) can never be made either, so the walk starts below it:
    // Application Data folders redirected to a network share are common.
    unsigned char* pStart = reinterpret_cast<unsigned char*>(szFullPath);
    if (bUNC) {
        pStart += ::lstrlenA(szRoot);
        if (*pStart == '\\')
            ++pStart;
    }
    for (unsigned char* pSlash = _mbschr(pStart, '\\'); pSlash; pSlash = _mbschr(pSlash + 1, '\\')) {
        *pSlash = '\0';
        bool bMade = EnsureDirectory(szFullPath);
        *pSlash = '\\';
        if (!bMade)
            return FALSE;
    }
    return EnsureDirectory(szFullPath) ? TRUE : FALSE;
}
