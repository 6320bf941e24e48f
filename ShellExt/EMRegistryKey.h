#pragma once
// A registry key that closes itself: at most one open key, closed by Close, by opening another
// and on destruction, so every return path of its users leaves no key open.
#include <windows.h>
#include "StringT.h"
#include "UniqueHandle.h"

class CEMRegistryKey {
public:
    CEMRegistryKey() = default;
    CEMRegistryKey(const CEMRegistryKey&) = delete;
    CEMRegistryKey& operator=(const CEMRegistryKey&) = delete;

    // Creates the key when missing; returns the system error code, 0 on success.
    LONG CreateKey(HKEY hRoot, LPCWSTR lpszPath);
    // Opens an existing key under HKEY_CURRENT_USER for reading values; never creates it.
    bool OpenKeyForQuery(LPCWSTR lpszPath);
    // The first 4 bytes of the value whatever its type; dwDefault when it cannot be read.
    DWORD QueryDword(LPCWSTR lpszName, DWORD dwDefault) const;
    // At most 199 characters whatever the stored type; lpszDefault when the value cannot be read
    // or is longer.
    CStringW QueryString(LPCWSTR lpszName, LPCWSTR lpszDefault) const;
    LONG SetString(LPCWSTR lpszName, LPCWSTR lpszText);
    void Close();

    HKEY GetHandle() const { return m_hKey.Get(); }

    // The size in bytes QueryString reads into: 199 characters and the terminator.
    static const DWORD kStringBytes = 400;

private:
    CUniqueRegKey m_hKey;
};
