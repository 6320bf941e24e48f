#include "UpdaterDriver.h"
#include <shlobj.h>
#include <vector>

namespace {
const char kDialogCaption[] = "Korvane Updater";

std::string WindowText(HWND hWnd)
{
    char sz[1024] = {};
    ::GetWindowTextA(hWnd, sz, sizeof(sz));
    return sz;
}

bool IsOfClass(HWND hWnd, const char* pszClass)
{
    char sz[64] = {};
    ::GetClassNameA(hWnd, sz, sizeof(sz));
    return ::lstrcmpiA(sz, pszClass) == 0;
}

// Top-level windows of one process.
std::vector<HWND> WindowsOf(DWORD dwProcessId)
{
    struct Search {
        DWORD dwProcessId;
        std::vector<HWND> found;
    } search{dwProcessId, {}};
    ::EnumWindows(
        [](HWND hWnd, LPARAM lParam) -> BOOL {
            auto* p = reinterpret_cast<Search*>(lParam);
            DWORD dwPid = 0;
            ::GetWindowThreadProcessId(hWnd, &dwPid);
            if (dwPid == p->dwProcessId)
                p->found.push_back(hWnd);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}
} // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD dwTimeoutMs)
{
    DWORD dwStart = ::GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (::GetTickCount() - dwStart > dwTimeoutMs)
            return condition();
        ::Sleep(20);
    }
}

const char* ProductKeyPath()
{
    return "Software\\Halden Forge\\Korvane";
}

bool ProductKeyExists()
{
    CUniqueRegKey key;
    return ::RegOpenKeyExA(HKEY_CURRENT_USER, ProductKeyPath(), 0, KEY_READ, key.Put()) == ERROR_SUCCESS;
}

std::string ReadUpdateReadyValue()
{
    char sz[64] = {};
    DWORD cb = sizeof(sz) - 1;
    DWORD dwType = 0;
    if (::RegGetValueA(HKEY_CURRENT_USER, ProductKeyPath(), "UpdateReadyToInstall", RRF_RT_ANY, &dwType, sz, &cb) !=
            ERROR_SUCCESS ||
        dwType != REG_SZ)
        return {};
    return sz;
}

std::string UpdateFilePath()
{
    char sz[MAX_PATH] = {};
    ::SHGetSpecialFolderPathA(nullptr, sz, CSIDL_APPDATA, TRUE);
    return std::string(sz) + "\\Korvane\\update\\kvsetup.exe";
}

std::string ReadFileBytes(const std::string& strPath)
{
    std::string data;
    CUniqueFileHandle file(::CreateFileA(strPath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
    if (!file)
        return data;
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(file.Get(), buf, sizeof(buf), &n, nullptr) && n > 0)
        data.append(buf, n);
    return data;
}

bool FileExists(const std::string& strPath)
{
    return ::GetFileAttributesA(strPath.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ToWindowsPath(const char* pszUnixPath)
{
    std::string s = std::string("Z:") + pszUnixPath;
    for (char& c : s)
        if (c == '/')
            c = '\\';
    return s;
}

CUpdaterProcess::CUpdaterProcess(USHORT nProxyPort, const char* pszArguments, const char* pszProgram)
{
    if (nProxyPort) {
        std::string strProxy = "http://127.0.0.1:" + std::to_string(nProxyPort);
        ::SetEnvironmentVariableA("http_proxy", strProxy.c_str());
    }
    std::string strExe = pszProgram ? pszProgram : ToWindowsPath(KV_UPDATE_EXE);
    std::string strCommand = "\"" + strExe + "\"";
    if (pszArguments)
        strCommand += std::string(" ") + pszArguments;
    std::vector<char> commandLine(strCommand.begin(), strCommand.end());
    commandLine.push_back('\0');
    STARTUPINFOA si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (::CreateProcessA(strExe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        ::CloseHandle(pi.hThread);
        m_process.Reset(pi.hProcess);
        m_dwProcessId = pi.dwProcessId;
    }
}

CUpdaterProcess::~CUpdaterProcess()
{
    Kill();
}

bool CUpdaterProcess::IsRunning() const
{
    return m_process && ::WaitForSingleObject(m_process.Get(), 0) == WAIT_TIMEOUT;
}

bool CUpdaterProcess::WaitForExit(DWORD dwTimeoutMs) const
{
    return m_process && ::WaitForSingleObject(m_process.Get(), dwTimeoutMs) == WAIT_OBJECT_0;
}

DWORD CUpdaterProcess::GetExitCode() const
{
    DWORD dwCode = STILL_ACTIVE;
    ::GetExitCodeProcess(m_process.Get(), &dwCode);
    return dwCode;
}

void CUpdaterProcess::Kill()
{
    if (IsRunning()) {
        ::TerminateProcess(m_process.Get(), 9);
        WaitForExit(5000);
    }
}

HWND CUpdaterProcess::FindDialog() const
{
    for (HWND hWnd : WindowsOf(m_dwProcessId))
        if (IsOfClass(hWnd, "#32770") && WindowText(hWnd) == kDialogCaption)
            return hWnd;
    return nullptr;
}

HWND CUpdaterProcess::WaitForDialog()
{
    WaitFor([&] { return (m_hDialog = FindDialog()) != nullptr; });
    return m_hDialog;
}

bool CUpdaterProcess::IsDialogVisible() const
{
    HWND hWnd = m_hDialog ? m_hDialog : FindDialog();
    return hWnd && ::IsWindowVisible(hWnd);
}

std::string CUpdaterProcess::ControlText(int nID) const
{
    return WindowText(::GetDlgItem(m_hDialog, nID));
}

bool CUpdaterProcess::IsControlVisible(int nID) const
{
    return ::IsWindowVisible(::GetDlgItem(m_hDialog, nID)) != FALSE;
}

void CUpdaterProcess::ClickButton(int nID) const
{
    // What a click on the button sends its dialog.
    ::PostMessageA(m_hDialog, WM_COMMAND, MAKEWPARAM(nID, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(m_hDialog, nID)));
}

void CUpdaterProcess::PressKey(UINT uVirtualKey) const
{
    HWND hFocus = ::GetDlgItem(m_hDialog, IDOK);
    ::PostMessageA(hFocus, WM_KEYDOWN, uVirtualKey, 1);
    ::PostMessageA(hFocus, WM_KEYUP, uVirtualKey, 0xC0000001);
}

void CUpdaterProcess::PostTrayEvent(UINT uMouseMessage) const
{
    ::PostMessageA(m_hDialog, WM_USER, 201, uMouseMessage);
}

HWND CUpdaterProcess::FindMessageBox(std::string* pstrText, std::string* pstrCaption) const
{
    for (HWND hWnd : WindowsOf(m_dwProcessId)) {
        if (hWnd == m_hDialog || !IsOfClass(hWnd, "#32770") || !::IsWindowVisible(hWnd))
            continue;
        std::string strText;
        for (HWND hChild = ::GetWindow(hWnd, GW_CHILD); hChild; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
            if (IsOfClass(hChild, "Static") && !WindowText(hChild).empty())
                strText = WindowText(hChild);
        if (pstrText)
            *pstrText = strText;
        if (pstrCaption)
            *pstrCaption = WindowText(hWnd);
        return hWnd;
    }
    return nullptr;
}

HWND CUpdaterProcess::WaitForMessageBox(std::string* pstrText, std::string* pstrCaption) const
{
    HWND hBox = nullptr;
    WaitFor([&] { return (hBox = FindMessageBox(pstrText, pstrCaption)) != nullptr; });
    return hBox;
}

void CUpdaterProcess::Answer(HWND hBox, int nButton)
{
    ::PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(nButton, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(hBox, nButton)));
}

HWND CUpdaterProcess::FindPopupMenu() const
{
    for (HWND hWnd : WindowsOf(m_dwProcessId))
        if (IsOfClass(hWnd, "#32768") && ::IsWindowVisible(hWnd))
            return hWnd;
    return nullptr;
}
