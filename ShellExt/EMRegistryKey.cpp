#include "EMRegistryKey.h"

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
    if (::RegQueryValueExW(m_hKey.Get(), lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(&dwValue), &cbData) !=
        ERROR_SUCCESS)
        return dwDefault;
    return dwValue;
}

CStringW CEMRegistryKey::QueryString(LPCWSTR lpszName, LPCWSTR lpszDefault) const
{
    // One spare character: a value stored without its terminator (or of another type, or of an
    // odd size) still ends inside the buffer.
    WCHAR szValue[kStringBytes / sizeof(WCHAR) + 1] = {};
    DWORD cbData = kStringBytes;
    if (::RegQueryValueExW(m_hKey.Get(), lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(szValue), &cbData) !=
        ERROR_SUCCESS)
        return CStringW(lpszDefault);
    szValue[cbData / sizeof(WCHAR)] = L'\0';
    return CStringW(szValue);
}

LONG CEMRegistryKey::SetString(LPCWSTR lpszName, LPCWSTR lpszText)
{
    DWORD cbData = static_cast<DWORD>((::lstrlenW(lpszText) + 1) * sizeof(WCHAR));
    return ::RegSetValueExW(m_hKey.Get(), lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(lpszText), cbData);
}

void CEMRegistryKey::Close()
{
    m_hKey.Reset();
}
