#pragma once
// Running the real server under wine: its DLL copied out of the build tree, wine's regsvr32, and
// reading what registration left in the real registry.
#include <windows.h>
#include <string>

namespace e2e {
extern const wchar_t kClsidText[];
extern const wchar_t kClassKey[];
extern const wchar_t kHandlerKey[];
extern const wchar_t kTypeLibKey[];

// A file of the build tree in Windows form (the build tree is reached through drive Z:).
std::wstring FromBuildTree(const wchar_t* lpszUnixPath);
// Runs a command line and waits for it; answers its exit code, or -1.
DWORD RunAndWait(const std::wstring& strCommandLine);
// Copies the built DLL into %TEMP%\<folder>\KorvaneShellExt.dll and answers its path.
std::wstring StageDll(const std::wstring& strFolder);
// Runs wine's regsvr32 silently, with further switches (such as "/n /i:user"); answers its exit code.
DWORD RunRegsvr32(const std::wstring& strDll, bool bUnregister, const std::wstring& strSwitches = L"");
// A key's default value, or the named value; "<none>" when missing.
std::wstring ReadText(HKEY hRoot, const std::wstring& strKey, const wchar_t* lpszName = nullptr);
bool KeyExists(HKEY hRoot, const std::wstring& strKey);
// Every key and REG_SZ value below the key, one per line, for equality checks.
std::wstring DumpTree(HKEY hRoot, const std::wstring& strKey);
} // namespace e2e
