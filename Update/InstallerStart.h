#pragma once
// Hands over to the downloaded installer: starts it, asking Windows for elevation when it needs
// administrator rights, and never waits for it.
#include <windows.h>
#include <shellapi.h> // after windows.h, which it needs
#include <string>

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L // winerror.h of Windows SDKs; missing from mingw-w64's
#endif

// TRUE once the installer runs. hwndOwner owns the system's consent prompt. A declined prompt,
// like any other failure, is FALSE: the installer was not started. Its current directory is the
// system folder, never one the updater inherited.
BOOL StartInstallerProcess(HWND hwndOwner, LPCSTR lpszPath);

// Removes everything but the installer from the installer's folder, which any program of the user
// can write: an elevated installer would load a DLL planted beside it (Windows searches a
// program's own folder first). Links found there are removed, never followed. FALSE when something
// could not be removed; pstrInTheWay (may be NULL) then holds the full path of the first entry
// that stayed, or is empty when the folder itself could not be read.
BOOL RemoveAllButInstaller(LPCSTR lpszPath, std::wstring* pstrInTheWay = nullptr);

// Puts the path of the file held open (hHeld) in lpszPath (cbPath bytes), with every junction,
// symbolic link and redirection on the way resolved (its final path), in the system code page.
// Real folders above a file held open cannot be renamed or removed, so the path keeps naming the
// file that was checked; a link, which any program of the user may turn elsewhere, is not on it.
// FALSE, lpszPath untouched, when the file has no such path (a volume without a drive letter, a
// name the code page cannot spell, longer than the buffer).
BOOL ReplaceWithFinalPath(HANDLE hHeld, LPSTR lpszPath, size_t cbPath);

// Where the starts go to the platform: CreateProcessA and ShellExecuteExA, unless a test puts
// others in their place (Windows' elevation prompt cannot be produced where the tests run).
struct CInstallerStartCalls {
    decltype(&::CreateProcessA) pfnCreateProcess;
    decltype(&::ShellExecuteExA) pfnShellExecuteEx;
};
CInstallerStartCalls SetInstallerStartCalls(const CInstallerStartCalls& calls);
