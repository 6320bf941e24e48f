#include "E2ESupport.h"
#include <vector>
#include "UniqueHandle.h"

namespace e2e {
const wchar_t kClsidText[] = L"{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}";
const wchar_t kClassKey[] = L"CLSID\\{5C1A7D3E-90B2-4ad6-A317-2F8E64C0B95D}";
const wchar_t kHandlerKey[] = L"*\\ShellEx\\ContextMenuHandlers\\Korvane";
const wchar_t kTypeLibKey[] = L"TypeLib\\{8B47E2F0-3C16-4A9D-B570-E19D62F4C3A8}";

std::wstring FromBuildTree(const wchar_t* lpszUnixPath)
{
    std::wstring strPath = std::wstring(L"Z:") + lpszUnixPath;
    for (wchar_t& ch : strPath)
        if (ch == L'/')
            ch = L'\\';
    return strPath;
}

std::wstring StageDll(const std::wstring& strFolder)
{
    wchar_t szTemp[MAX_PATH];
    DWORD cch = ::GetTempPathW(MAX_PATH, szTemp);
    if (cch == 0 || cch >= MAX_PATH)
        return {};
    std::wstring strDir = std::wstring(szTemp) + strFolder;
    ::CreateDirectoryW(strDir.c_str(), nullptr);
    std::wstring strDll = strDir + L"\\KorvaneShellExt.dll";
    // The copy a previous case's process loaded may still be mapped for a moment after it ended.
    for (int nTry = 0; nTry < 50; ++nTry) {
        if (::CopyFileW(FromBuildTree(KV_SHELLEXT_DLL).c_str(), strDll.c_str(), FALSE))
            return strDll;
        ::Sleep(100);
    }
    return {};
}

DWORD RunRegsvr32(const std::wstring& strDll, bool bUnregister, const std::wstring& strSwitches)
{
    wchar_t szSystem[MAX_PATH];
    UINT cch = ::GetSystemDirectoryW(szSystem, MAX_PATH);
    if (cch == 0 || cch >= MAX_PATH)
        return static_cast<DWORD>(-1);
    return RunAndWait(L"\"" + std::wstring(szSystem) + L"\\regsvr32.exe\" /s " + (bUnregister ? L"/u " : L"") +
                      (strSwitches.empty() ? L"" : strSwitches + L" ") + L"\"" + strDll + L"\"");
}

DWORD RunAndWait(const std::wstring& strCmd)
{
    std::vector<wchar_t> cmd(strCmd.begin(), strCmd.end());
    cmd.push_back(L'\0');
    STARTUPINFOW si = {sizeof(si)};
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return static_cast<DWORD>(-1);
    CUniqueKernelHandle hProcess(pi.hProcess), hThread(pi.hThread);
    ::WaitForSingleObject(hProcess.Get(), 60000);
    DWORD dwExit = static_cast<DWORD>(-1);
    ::GetExitCodeProcess(hProcess.Get(), &dwExit);
    return dwExit;
}

std::wstring ReadText(HKEY hRoot, const std::wstring& strKey, const wchar_t* lpszName)
{
    wchar_t szValue[1024];
    DWORD cb = sizeof(szValue);
    if (::RegGetValueW(hRoot, strKey.c_str(), lpszName, RRF_RT_REG_SZ, nullptr, szValue, &cb) != ERROR_SUCCESS)
        return L"<none>";
    return szValue;
}

bool KeyExists(HKEY hRoot, const std::wstring& strKey)
{
    CUniqueRegKey hKey;
    return ::RegOpenKeyExW(hRoot, strKey.c_str(), 0, KEY_READ, hKey.Put()) == ERROR_SUCCESS;
}

std::wstring DumpTree(HKEY hRoot, const std::wstring& strKey)
{
    CUniqueRegKey hKey;
    if (::RegOpenKeyExW(hRoot, strKey.c_str(), 0, KEY_READ, hKey.Put()) != ERROR_SUCCESS)
        return L"<missing " + strKey + L">\n";
    std::wstring strOut = L"[" + strKey + L"]\n";
    wchar_t szName[256];
    for (DWORD i = 0;; ++i) {
        DWORD cchName = 256, dwType = 0;
        wchar_t szData[1024];
        DWORD cbData = sizeof(szData) - sizeof(wchar_t);
        if (::RegEnumValueW(hKey.Get(), i, szName, &cchName, nullptr, &dwType, reinterpret_cast<BYTE*>(szData),
                            &cbData) != ERROR_SUCCESS)
            break;
        szData[cbData / sizeof(wchar_t)] = L'\0';
        strOut += std::wstring(szName) + L"=" + (dwType == REG_SZ ? szData : L"<binary>") + L"\n";
    }
    for (DWORD i = 0;; ++i) {
        DWORD cchName = 256;
        if (::RegEnumKeyExW(hKey.Get(), i, szName, &cchName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        strOut += DumpTree(hRoot, strKey + L"\\" + szName);
    }
    return strOut;
}
} // namespace e2e
