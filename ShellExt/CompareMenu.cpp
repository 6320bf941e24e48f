#include "CompareMenu.h"
#include "EMRegistryKey.h"
#include "FileDialog.h"
#include "Module.h"
#include "UniqueHandle.h"
#include "resource.h"

const WCHAR g_szProductKey[] = L"Software\\Halden Forge\\Korvane";

namespace {
const WCHAR kValueMenuEnabled[] = L"ContextMenuEnabled";
const WCHAR kValueFirstSelection[] = L"FirstSelection";
const WCHAR kValueProgram[] = L"Korvane";
const WCHAR kProgramFile[] = L"korvane.exe";

// Item texts of each menu state, in menu order; 0 ends a row. Each help text is at id + 1.
const int kMaxItems = 4;
const UINT kMenuItems[4][kMaxItems] = {
    {IDS_RUN},
    {IDS_SELECT_FIRST, IDS_COMPARE_OTHER_TEXT, IDS_COMPARE_OTHER_BINARY},
    {IDS_COMPARE_TO_TEXT, IDS_COMPARE_TO_BINARY, IDS_COMPARE_OTHER_TEXT, IDS_COMPARE_OTHER_BINARY},
    {IDS_COMPARE_PAIR_TEXT, IDS_COMPARE_PAIR_BINARY},
};

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
    DWORD dwAttributes = ::GetFileAttributesW(lpszPath);
    if (dwAttributes == INVALID_FILE_ATTRIBUTES || (dwAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return true;
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
    bool bStart = false;
    switch (nItemId) {
    case IDS_SELECT_FIRST:
        m_strFirstSelection = m_strFile1;
        WriteFirstSelection(m_strFirstSelection);
        break;
    case IDS_COMPARE_TO_TEXT:
    case IDS_COMPARE_TO_BINARY:
        m_strFile2 = m_strFile1;
        m_strFile1 = m_strFirstSelection;
        // Cleared before the start, so a failed start does not leave it offered again.
        WriteFirstSelection(L"");
        bStart = true;
        break;
    case IDS_COMPARE_OTHER_TEXT:
    case IDS_COMPARE_OTHER_BINARY:
        // A caller that forbids any user interface gets nothing rather than a dialog it cannot expect.
        if (bAllowUI)
            bStart = AskForSecondFile(m_strFile2, hWndOwner);
        break;
    case IDS_RUN:
    case IDS_COMPARE_PAIR_TEXT:
    case IDS_COMPARE_PAIR_BINARY:
        bStart = true;
        break;
    }
    if (!bStart)
        return S_FALSE;

    CStringW strProgram;
    if (!GetProgramPath(strProgram))
        strProgram = GetDefaultProgramPath();
    CStringW strCommandLine = BuildCommandLine(strProgram, nText, m_strFile1, m_strFile2);

    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    // The system may write into the command line, so it gets a buffer of its own.
    if (!::CreateProcessW(nullptr, strCommandLine.GetBuffer(), nullptr, nullptr, FALSE,
                          CREATE_DEFAULT_ERROR_MODE, nullptr, nullptr, &si, &pi))
        return S_FALSE;
    // Not waited for: the comparison program lives on its own.
    CUniqueKernelHandle hThread(pi.hThread);
    CUniqueKernelHandle hProcess(pi.hProcess);
    hThread.Reset();
    return S_OK;
}

bool CCompareMenu::AskForSecondFile(CStringW& strPath, HWND hWndOwner)
{
    // Owned by the host's window, the dialog stays above it, disables it while open and takes no
    // taskbar button of its own. A window that is gone meanwhile would make the dialog fail.
    CFileDialog dlg(TRUE, L"*.*", nullptr, OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, L"All Files (*.*)|*.*||",
                    ::IsWindow(hWndOwner) ? hWndOwner : nullptr);
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

bool CCompareMenu::GetProgramPath(CStringW& strPath) const
{
    CEMRegistryKey key;
    if (!key.OpenKeyForQuery(g_szProductKey))
        return false;
    CStringW strValue = key.QueryString(kValueProgram, L"");
    if (strValue.IsEmpty())
        return false;
    strPath = strValue;
    return true;
}

CStringW CCompareMenu::GetDefaultProgramPath()
{
    WCHAR szModule[MAX_PATH] = {};
    DWORD nLength = ::GetModuleFileNameW(AfxGetInstanceHandle(), szModule, MAX_PATH);
    CStringW strFolder(szModule, nLength < MAX_PATH ? static_cast<int>(nLength) : MAX_PATH - 1);
    int nCut = strFolder.ReverseFind(L'\\');
    if (nCut < 0)
        nCut = strFolder.ReverseFind(L'/');
    return strFolder.Left(nCut + 1) + kProgramFile;
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
    CStringW strArguments;
    strArguments.Format(nText == 1 ? L" /text /f1 \"%s\" /f2 \"%s\"" : L" /hex /f1 \"%s\" /f2 \"%s\"",
                        strFile1.GetString(), strFile2.GetString());
    return strCommandLine + strArguments;
}
