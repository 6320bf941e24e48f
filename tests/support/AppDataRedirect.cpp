#include "AppDataRedirect.h"
#include <cstdlib>
#include <vector>

namespace {
const wchar_t kKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

void SetValue(const std::wstring& strValue, DWORD dwType)
{
    ::RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppData", dwType, strValue.c_str(),
                      static_cast<DWORD>((strValue.size() + 1) * sizeof(wchar_t)));
}
} // namespace

CAppDataRedirect::CAppDataRedirect(const std::wstring& strFolder)
{
    wchar_t szOld[MAX_PATH] = {};
    DWORD cb = sizeof(szOld);
    m_bHadOld = ::RegGetValueW(HKEY_CURRENT_USER, kKey, L"AppData",
                               RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &m_dwOldType, szOld,
                               &cb) == ERROR_SUCCESS;
    m_strOld = szOld;
    SetValue(strFolder, REG_EXPAND_SZ);
}

CAppDataRedirect::~CAppDataRedirect()
{
    if (m_bHadOld)
        SetValue(m_strOld, m_dwOldType);
}

std::wstring CAppDataRedirect::ShareRoot()
{
    // Wine serves \\server\share\... from $WINEPREFIX/dosdevices/unc/server/share, reached here
    // through the Z: drive that maps the Unix root.
    const char* pszPrefix = std::getenv("WINEPREFIX");
    if (!pszPrefix || !*pszPrefix)
        return {};
    std::wstring strFolder = L"Z:";
    for (const char* p = pszPrefix; *p; ++p)
        strFolder += *p == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*p));
    for (const wchar_t* pszPart : {L"\\dosdevices", L"\\unc", L"\\kvserver", L"\\share"}) {
        strFolder += pszPart;
        ::CreateDirectoryW(strFolder.c_str(), nullptr);
    }
    const std::wstring strShare = L"\\\\kvserver\\share";
    DWORD dwAttributes = ::GetFileAttributesW(strShare.c_str());
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_DIRECTORY)
               ? strShare
               : std::wstring();
}

std::string ToAnsi(const std::wstring& str)
{
    int n = ::WideCharToMultiByte(CP_ACP, 0, str.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::vector<char> buffer(n > 0 ? n : 1);
    ::WideCharToMultiByte(CP_ACP, 0, str.c_str(), -1, buffer.data(), n, nullptr, nullptr);
    return buffer.data();
}
