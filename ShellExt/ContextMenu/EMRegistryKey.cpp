#include "EMRegistryKey.h"
#include <vector>

LONG CEMRegistryKey::CreateKey(HKEY hRoot, LPCWSTR lpszPath)
{
    Close();
    return ::RegCreateKeyExW(hRoot, lpszPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, m_hKey.Put(), nullptr);
}

bool CEMRegistryKey::OpenKeyForQuery(LPCWSTR lpszPath)
{
    Close();
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, lpszPath, 0, KEY_QUERY_VALUE, m_hKey.Put()) == ERROR_SUCCESS;
}

DWORD CEMRegistryKey::QueryDword(LPCWSTR lpszName, DWORD dwDefault) const
{
    DWORD dwValue = 0; // a shorter value leaves the rest zero rather than undefined
    DWORD cbData = sizeof(dwValue);
    if (::RegQueryValueExW(m_hKey.Get(), lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&dwValue),
                           &cbData) != ERROR_SUCCESS)
        return dwDefault;
    return dwValue;
}

CStringW CEMRegistryKey::QueryString(LPCWSTR lpszName, LPCWSTR lpszDefault, DWORD* pdwType) const
{
    if (pdwType)
        *pdwType = REG_NONE;
    DWORD dwType = REG_NONE;
    // Read first at a path's usual size, so that the common value takes one call; a longer one
    // answers ERROR_MORE_DATA with the size it has, and is read again at that size. Another
    // program may lengthen it meanwhile: a few rounds, so a value rewritten without pause cannot
    // hold us here.
    DWORD cbData = MAX_PATH * sizeof(WCHAR);
    for (int nRound = 0; nRound < 8; ++nRound) {
        // Two spare characters: a value stored without its terminator (or of another type, or of
        // an odd size) still ends inside the buffer.
        std::vector<WCHAR> buffer(cbData / sizeof(WCHAR) + 2, L'\0');
        DWORD cbRead = cbData;
        LONG lResult = ::RegQueryValueExW(m_hKey.Get(), lpszName, nullptr, &dwType,
                                          reinterpret_cast<BYTE*>(buffer.data()), &cbRead);
        if (lResult == ERROR_SUCCESS) {
            buffer[cbRead / sizeof(WCHAR)] = L'\0';
            if (pdwType)
                *pdwType = dwType;
            return CStringW(buffer.data());
        }
        if (lResult != ERROR_MORE_DATA)
            break;
        cbData = cbRead; // the size the value has now
    }
    return CStringW(lpszDefault);
}

LONG CEMRegistryKey::SetString(LPCWSTR lpszName, LPCWSTR lpszText)
{
    DWORD cbData = static_cast<DWORD>((::lstrlenW(lpszText) + 1) * sizeof(WCHAR));
    return ::RegSetValueExW(m_hKey.Get(), lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(lpszText),
                            cbData);
}

void CEMRegistryKey::Close()
{
    m_hKey.Reset();
}
