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
    // The text of any length the value holds, whatever the stored type, up to its first
    // terminator; lpszDefault when the value cannot be read. pdwType, if given, receives the
    // stored type (REG_NONE with the default).
    CStringW QueryString(LPCWSTR lpszName, LPCWSTR lpszDefault, DWORD* pdwType = nullptr) const;
    LONG SetString(LPCWSTR lpszName, LPCWSTR lpszText);
    void Close();

    HKEY GetHandle() const { return m_hKey.Get(); }

private:
    CUniqueRegKey m_hKey;
};
