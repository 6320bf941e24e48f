#include "CompareMenu.h"
#include "EMRegistryKey.h"
#include "FileDialog.h"
#include "Module.h"
#include "UniqueHandle.h"
#include "resource.h"
#include <algorithm>
#include <type_traits>
#include <vector>

const WCHAR g_szProductKey[] = L"Software\\Halden Forge\\Korvane";

#ifndef ERROR_ELEVATION_REQUIRED
#define ERROR_ELEVATION_REQUIRED 740L // winerror.h of Windows SDKs; missing from mingw-w64's
#endif

namespace {
const WCHAR kProductName[] = L"Korvane";
const WCHAR kValueMenuEnabled[] = L"ContextMenuEnabled";
const WCHAR kValueFirstSelection[] = L"FirstSelection";
const WCHAR* const kValueProgram = kProductName;
const WCHAR kProgramFile[] = L"korvane.exe";

// Item texts of each menu state, in menu order; 0 ends a row. Each help text is at id + 1.
const int kMaxItems = 4;
const UINT kMenuItems[4][kMaxItems] = {
    {IDS_RUN},
    {IDS_SELECT_FIRST, IDS_COMPARE_OTHER_TEXT, IDS_COMPARE_OTHER_BINARY},
    {IDS_COMPARE_TO_TEXT, IDS_COMPARE_TO_BINARY, IDS_COMPARE_OTHER_TEXT, IDS_COMPARE_OTHER_BINARY},
    {IDS_COMPARE_PAIR_TEXT, IDS_COMPARE_PAIR_BINARY},
};

// Every item's verb. Scripts and hosts name an item by it (ShellExecuteEx's lpVerb, an
// IContextMenu host's InvokeCommand), so it never changes and is never translated.
const struct {
    UINT nItemId;
    const char* pszVerb;
} kItemVerbs[] = {
    {IDS_RUN, "KorvaneRun"},
    {IDS_SELECT_FIRST, "KorvaneSelectFirst"},
    {IDS_COMPARE_TO_TEXT, "KorvaneCompareToFirstText"},
    {IDS_COMPARE_TO_BINARY, "KorvaneCompareToFirstBinary"},
    {IDS_COMPARE_OTHER_TEXT, "KorvaneCompareToOtherText"},
    {IDS_COMPARE_OTHER_BINARY, "KorvaneCompareToOtherBinary"},
    {IDS_COMPARE_PAIR_TEXT, "KorvaneCompareSelectedText"},
    {IDS_COMPARE_PAIR_BINARY, "KorvaneCompareSelectedBinary"},
};

// Shell verbs match without regard to case; a verb is ASCII, so any other character never matches.
template <typename Ch> bool IsVerb(const Ch* pszGiven, const char* pszVerb)
{
    auto lower = [](unsigned int ch) { return ch >= 'A' && ch <= 'Z' ? ch + ('a' - 'A') : ch; };
    for (;; ++pszGiven, ++pszVerb) {
        const unsigned int chGiven =
            static_cast<unsigned int>(static_cast<std::make_unsigned_t<Ch>>(*pszGiven));
        if (lower(chGiven) != lower(static_cast<unsigned char>(*pszVerb)))
            return false;
        if (chGiven == 0)
            return true;
    }
}

// The switches and files behind the program path, each format beginning with a blank.
CStringW Arguments(int nText, const CStringW& strFile1, const CStringW& strFile2)
{
    CStringW strArguments;
    strArguments.Format(nText == 1 ? L" /text /f1 \"%s\" /f2 \"%s\"" : L" /hex /f1 \"%s\" /f2 \"%s\"",
                        strFile1.GetString(), strFile2.GetString());
    return strArguments;
}

// A full path the file functions take at any length. Beyond MAX_PATH they accept only the "\\?\"
// form unless the process opted into long paths (Microsoft, "Maximum Path Length Limitation");
// that form is taken as it stands, so only full paths get it, and shorter ones are left alone.
CStringW ExtendedPath(LPCWSTR lpszPath)
{
    CStringW strPath(lpszPath);
    if (strPath.GetLength() < MAX_PATH || strPath.Find(L"\\\\?\\") == 0)
        return strPath;
    if (strPath.Find(L"\\\\") == 0)
        return L"\\\\?\\UNC\\" + strPath.Mid(2);
    if (strPath.GetLength() > 2 && strPath[1] == L':' && strPath[2] == L'\\')
        return L"\\\\?\\" + strPath;
    return strPath;
}

DWORD AttributesOf(LPCWSTR lpszPath)
{
    return ::GetFileAttributesW(ExtendedPath(lpszPath));
}

bool IsExistingFile(LPCWSTR lpszPath)
{
    DWORD dwAttributes = AttributesOf(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program file a Korvane value names: the part between its quotation marks when it is quoted,
// and what follows them as arguments of its own.
void SplitProgram(const CStringW& strProgram, CStringW& strFile, CStringW& strExtra)
{
    strFile = strProgram;
    strExtra.Empty();
    if (strProgram.IsEmpty() || strProgram[0] != L'"')
        return;
    int nClose = strProgram.Find(L'"', 1);
    if (nClose < 0) {
        strFile = strProgram.Mid(1);
        return;
    }
    strFile = strProgram.Mid(1, nClose - 1);
    strExtra = strProgram.Mid(nClose + 1);
}

CStringW ExpandEnvironment(const CStringW& strText)
{
    DWORD cch = ::ExpandEnvironmentStringsW(strText, nullptr, 0);
    // Asked again when a variable grew in between.
    for (int nRound = 0; nRound < 4 && cch != 0; ++nRound) {
        std::vector<WCHAR> buffer(cch + 1, L'\0');
        DWORD cchNeeded =
            ::ExpandEnvironmentStringsW(strText, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (cchNeeded != 0 && cchNeeded <= buffer.size())
            return CStringW(buffer.data());
        cch = cchNeeded;
    }
    return strText;
}

// The one message the extension shows: the comparison the user asked for did not start, and why.
void ShowStartFailure(HWND hWndOwner, const CStringW& strFile, DWORD dwError)
{
    WCHAR szReason[512] = {};
    if (dwError != 0)
        ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0,
                         szReason, static_cast<DWORD>(sizeof(szReason) / sizeof(szReason[0])), nullptr);
    CStringW strMessage;
    strMessage.Format(L"The comparison program could not be started:\n\n%s\n\n%s", strFile.GetString(),
                      szReason);
    ::MessageBoxW(::IsWindow(hWndOwner) ? hWndOwner : nullptr, strMessage, kProductName,
                  MB_OK | MB_ICONERROR);
}

// The platform's starts, or a test's.
decltype(&::CreateProcessW) s_pfnCreateProcess = &::CreateProcessW;
decltype(&::ShellExecuteExW) s_pfnShellExecuteEx = &::ShellExecuteExW;

bool IsTextComparison(UINT nItemId)
{
    return nItemId == IDS_RUN || nItemId == IDS_COMPARE_TO_TEXT || nItemId == IDS_COMPARE_OTHER_TEXT ||
           nItemId == IDS_COMPARE_PAIR_TEXT;
}
} // namespace

CCompareMenu::CCompareMenu() : m_nFileCount(0), m_nMenuState(MENU_STATE_RUN) {}

void CCompareMenu::ResetSelection()
{
    m_nFileCount = 0;
}

bool CCompareMenu::TakeFile(LPCWSTR lpszPath)
{
    if (m_nFileCount >= 2)
        return false;
    DWORD dwAttributes = AttributesOf(lpszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
    return TakeKnownFile(lpszPath);
}

bool CCompareMenu::TakeKnownFile(LPCWSTR lpszPath)
{
    if (m_nFileCount >= 2)
        return false;
    if (m_nFileCount == 0) {
        m_strFile1 = lpszPath;
        m_nFileCount = 1;
        return true;
    }
    m_strFile2 = lpszPath;
    m_nFileCount = 2;
    return false;
}

bool CCompareMenu::Refresh()
{
    CEMRegistryKey key;
    if (key.CreateKey(HKEY_CURRENT_USER, g_szProductKey) != ERROR_SUCCESS)
        return false;
    m_strFirstSelection = key.QueryString(kValueFirstSelection, L"");
    if (key.QueryDword(kValueMenuEnabled, 0) == 0)
        return false;
    key.Close();

    if (m_nFileCount == 1)
        m_nMenuState = m_strFirstSelection.IsEmpty() ? MENU_STATE_SELECT_FIRST : MENU_STATE_COMPARE_TO_FIRST;
    else if (m_nFileCount == 2)
        m_nMenuState = MENU_STATE_COMPARE_PAIR;
    else
        m_nMenuState = MENU_STATE_RUN;
    return true;
}

int CCompareMenu::GetItemCount() const
{
    int nCount = 0;
    while (GetItemId(nCount) != 0)
        ++nCount;
    return nCount;
}

UINT CCompareMenu::GetItemId(int nIndex) const
{
    if (m_nMenuState < MENU_STATE_RUN || m_nMenuState > MENU_STATE_COMPARE_PAIR || nIndex < 0 ||
        nIndex >= kMaxItems)
        return 0;
    return kMenuItems[m_nMenuState][nIndex];
}

LPCSTR CCompareMenu::GetItemVerb(UINT nItemId)
{
    for (const auto& verb : kItemVerbs)
        if (verb.nItemId == nItemId)
            return verb.pszVerb;
    return nullptr;
}

UINT CCompareMenu::FindItemByVerb(LPCSTR lpszVerb) const
{
    for (int i = 0; lpszVerb && GetItemId(i) != 0; ++i)
        if (IsVerb(lpszVerb, GetItemVerb(GetItemId(i))))
            return GetItemId(i);
    return 0;
}

UINT CCompareMenu::FindItemByVerb(LPCWSTR lpszVerb) const
{
    for (int i = 0; lpszVerb && GetItemId(i) != 0; ++i)
        if (IsVerb(lpszVerb, GetItemVerb(GetItemId(i))))
            return GetItemId(i);
    return 0;
}

bool CCompareMenu::IsItemOfState(UINT nItemId) const
{
    if (nItemId == 0)
        return false;
    for (int i = 0; i < kMaxItems; ++i)
        if (GetItemId(i) == nItemId)
            return true;
    return false;
}

CStringW CCompareMenu::GetItemText(UINT nItemId, bool bMenuMarkup) const
{
    CStringW strText;
    if (nItemId == 0)
        return strText;
    strText.LoadString(nItemId);
    if (nItemId == IDS_COMPARE_TO_TEXT || nItemId == IDS_COMPARE_TO_BINARY) {
        CStringW strName;
        int nSlash = m_strFirstSelection.ReverseFind(L'\\');
        if (nSlash >= 0) {
            CStringW strFile = m_strFirstSelection.Mid(nSlash + 1);
            // A menu takes "&" for the mark of an underlined access key; doubled, it shows as itself.
            if (bMenuMarkup)
                strFile.Replace(L"&", L"&&");
            strName = L"\"" + strFile + L"\"";
        }
        strText.Replace(L"FILENAME", strName);
    }
    return strText;
}

CStringW CCompareMenu::GetItemHelp(UINT nItemId) const
{
    CStringW strHelp;
    if (nItemId != 0)
        strHelp.LoadString(nItemId + 1);
    return strHelp;
}

HRESULT CCompareMenu::RunCommand(UINT nItemId, HWND hWndOwner, bool bAllowUI)
{
    if (!IsItemOfState(nItemId))
        return S_FALSE;
    const int nText = IsTextComparison(nItemId) ? 1 : 0;
    CStringW strProgram;
    switch (nItemId) {
    case IDS_SELECT_FIRST:
        m_strFirstSelection = m_strFile1;
        WriteFirstSelection(m_strFirstSelection);
        return S_FALSE;
    case IDS_COMPARE_TO_TEXT:
    case IDS_COMPARE_TO_BINARY: {
        if (!GetProgramPath(strProgram))
            strProgram = GetDefaultProgramPath();
        HRESULT hr = StartProgram(strProgram, nText, m_strFirstSelection, m_strFile1, hWndOwner, bAllowUI);
        if (hr != S_OK)
            return hr;
        // Forgotten only once the comparison runs: after a failed start the file stays marked.
        m_strFile2 = m_strFile1;
        m_strFile1 = m_strFirstSelection;
        ForgetFirstSelection(m_strFirstSelection);
        return S_OK;
    }
    case IDS_COMPARE_OTHER_TEXT:
    case IDS_COMPARE_OTHER_BINARY:
        // A caller that forbids any user interface gets nothing rather than a dialog it cannot expect.
        if (!bAllowUI || !AskForSecondFile(m_strFile2, hWndOwner))
            return S_FALSE;
        break;
    default: // "Run Korvane" and the pair rows start at once
        break;
    }
    if (!GetProgramPath(strProgram))
        strProgram = GetDefaultProgramPath();
    return StartProgram(strProgram, nText, m_strFile1, m_strFile2, hWndOwner, bAllowUI);
}

void CCompareMenu::SetStartCalls(const StartCalls& calls)
{
    s_pfnCreateProcess = calls.pfnCreateProcess ? calls.pfnCreateProcess : &::CreateProcessW;
    s_pfnShellExecuteEx = calls.pfnShellExecuteEx ? calls.pfnShellExecuteEx : &::ShellExecuteExW;
}

HRESULT CCompareMenu::StartProgram(const CStringW& strProgram, int nText, const CStringW& strFile1,
                                   const CStringW& strFile2, HWND hWndOwner, bool bAllowUI)
{
    CStringW strCommandLine = BuildCommandLine(strProgram, nText, strFile1, strFile2);
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    CStringW strFile, strExtra;
    SplitProgram(strProgram, strFile, strExtra);
    const CStringW strFolder = ProgramFolder(strFile);
    LPCWSTR lpszFolder = strFolder.IsEmpty() ? nullptr : strFolder.GetString();
    // The system may write into the command line, so it gets a buffer of its own.
    if (s_pfnCreateProcess(nullptr, strCommandLine.GetBuffer(), nullptr, nullptr, FALSE,
                           CREATE_DEFAULT_ERROR_MODE, nullptr, lpszFolder, &si, &pi)) {
        // Not waited for: the comparison program lives on its own.
        CUniqueKernelHandle hThread(pi.hThread);
        CUniqueKernelHandle hProcess(pi.hProcess);
        return S_OK;
    }
    DWORD dwError = ::GetLastError();
    // The consent prompt is user interface too, which a caller that forbids it cannot expect.
    if (dwError == ERROR_ELEVATION_REQUIRED && !bAllowUI)
        return HRESULT_FROM_WIN32(ERROR_ELEVATION_REQUIRED);
    if (dwError == ERROR_ELEVATION_REQUIRED) {
        // A program whose manifest asks for administrator rights: CreateProcess never asks for
        // consent, the shell's start does (Microsoft, "ShellExecuteEx" and UAC's elevation prompt).
        // Its own error boxes are left out: a failure is told below, once.
        CStringW strParameters = strExtra + Arguments(nText, strFile1, strFile2);
        SHELLEXECUTEINFOW sei = {};
        sei.cbSize = sizeof(sei);
        sei.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
        sei.hwnd = ::IsWindow(hWndOwner) ? hWndOwner : nullptr;
        sei.lpFile = strFile;
        sei.lpParameters = strParameters;
        sei.lpDirectory = lpszFolder;
        sei.nShow = SW_SHOWNORMAL;
        if (s_pfnShellExecuteEx(&sei))
            return S_OK;
        dwError = ::GetLastError();
        // Consent declined: the user's own answer, not a failure to tell them about.
        if (dwError == ERROR_CANCELLED)
            return HRESULT_FROM_WIN32(ERROR_CANCELLED);
    }
    if (bAllowUI)
        ShowStartFailure(hWndOwner, strFile, dwError);
    return dwError != 0 ? HRESULT_FROM_WIN32(dwError) : E_FAIL;
}

bool CCompareMenu::AskForSecondFile(CStringW& strPath, HWND hWndOwner)
{
    // Owned by the host's window, the dialog stays above it, disables it while open and takes no
    // taskbar button of its own. A window that is gone meanwhile would make the dialog fail.
    // Only an existing file: a typed name of a missing one would start a comparison of nothing.
    // No default extension: any file may be chosen, and the dialog would add one to a typed name
    // that has none (Microsoft, OPENFILENAME's lpstrDefExt, which takes no period either).
    CFileDialog dlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT | OFN_FILEMUSTEXIST,
                    L"All Files (*.*)|*.*||", ::IsWindow(hWndOwner) ? hWndOwner : nullptr);
    if (dlg.DoModal() != IDOK)
        return false;
    strPath = dlg.GetPathName();
    return true;
}

void CCompareMenu::WriteFirstSelection(LPCWSTR lpszPath)
{
    CEMRegistryKey key;
    if (key.CreateKey(HKEY_CURRENT_USER, g_szProductKey) == ERROR_SUCCESS)
        key.SetString(kValueFirstSelection, lpszPath);
}

void CCompareMenu::ForgetFirstSelection(const CStringW& strPath)
{
    // Another Explorer window may have remembered a new file while this menu was open: that
    // choice stays.
    CEMRegistryKey key;
    if (key.CreateKey(HKEY_CURRENT_USER, g_szProductKey) == ERROR_SUCCESS &&
        key.QueryString(kValueFirstSelection, L"") == strPath)
        key.SetString(kValueFirstSelection, L"");
}

bool CCompareMenu::GetProgramPath(CStringW& strPath) const
{
    CEMRegistryKey key;
    if (!key.OpenKeyForQuery(g_szProductKey))
        return false;
    DWORD dwType = REG_NONE;
    CStringW strValue = key.QueryString(kValueProgram, L"", &dwType);
    if (dwType == REG_EXPAND_SZ)
        strValue = ExpandEnvironment(strValue);
    // A value left behind by a moved or removed product counts as none: the program beside the
    // extension may still be there.
    CStringW strFile, strExtra;
    SplitProgram(strValue, strFile, strExtra);
    if (strFile.IsEmpty() || !IsExistingFile(strFile))
        return false;
    strPath = strValue;
    return true;
}

CStringW CCompareMenu::GetDefaultProgramPath()
{
    // The extension may itself sit in a folder deeper than MAX_PATH allows.
    std::vector<WCHAR> module(MAX_PATH, L'\0');
    DWORD nLength = 0;
    for (;;) {
        nLength =
            ::GetModuleFileNameW(AfxGetInstanceHandle(), module.data(), static_cast<DWORD>(module.size()));
        if (nLength < module.size() || module.size() >= 0x8000)
            break;
        module.assign(module.size() * 2, L'\0');
    }
    CStringW strFolder(module.data(), nLength < module.size() ? static_cast<int>(nLength) : 0);
    int nCut = strFolder.ReverseFind(L'\\');
    if (nCut < 0)
        nCut = strFolder.ReverseFind(L'/');
    return strFolder.Left(nCut + 1) + kProgramFile;
}

CStringW CCompareMenu::ProgramFolder(const CStringW& strFile)
{
    const int nCut = std::max(strFile.ReverseFind(L'\\'), strFile.ReverseFind(L'/'));
    if (nCut < 0)
        return CStringW();
    // A root keeps its separator: "C:" alone means that drive's current directory, "\\?\C:" the
    // volume rather than its root folder, and "" no folder at all.
    const bool bRoot = nCut == 0 || strFile[nCut - 1] == L':';
    CStringW strFolder = strFile.Left(bRoot ? nCut + 1 : nCut);
    return strFolder.GetLength() < MAX_PATH - 1 ? strFolder : CStringW();
}

CStringW CCompareMenu::BuildCommandLine(const CStringW& strProgram, int nText, const CStringW& strFile1,
                                        const CStringW& strFile2)
{
    // Quoted, so that a path with blanks such as C:\Program Files\... is not read as
    // C:\Program.exe with arguments by the system's rules for unquoted program names.
    CStringW strCommandLine;
    if (!strProgram.IsEmpty() && strProgram[0] == L'"')
        strCommandLine = strProgram;
    else
        strCommandLine = L"\"" + strProgram + L"\"";
    return strCommandLine + Arguments(nText, strFile1, strFile2);
}
