#include "Win32RegistrarPlatform.h"

#include "UniqueHandle.h"

#include <windows.h>
#include <oleauto.h>

#include <climits>
#include <cstdlib>
#include <new>

namespace {
HKEY ToHkey(RegKey key) { return static_cast<HKEY>(key); }

// The thread's last error as an HRESULT; never S_OK, since it stands for a call that failed.
HResult LastErrorHResult()
{
    const DWORD error = ::GetLastError();
    return error == ERROR_SUCCESS ? kv::kE_FAIL : kv::HResultFromWin32(static_cast<long>(error));
}

bool IsNtAfterVersion4()
{
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
#if defined(_MSC_VER)
#pragma warning(suppress : 4996)
#elif defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL bOk = ::GetVersionExW(&info);
#if defined(__GNUC__) && !defined(_MSC_VER)
#pragma GCC diagnostic pop
#endif
    return bOk && info.dwPlatformId == VER_PLATFORM_WIN32_NT && info.dwMajorVersion > 4;
}
} // namespace

long CWin32RegistrarPlatform::OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result)
{
    HKEY hKey = nullptr;
    const LONG error = ::RegOpenKeyExW(ToHkey(parent), name, 0, access, &hKey);
    *result = hKey;
    return error;
}

long CWin32RegistrarPlatform::CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result)
{
    HKEY hKey = nullptr;
    const LONG error = ::RegCreateKeyExW(ToHkey(parent), name, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                         nullptr, &hKey, nullptr);
    *result = hKey;
    return error;
}

long CWin32RegistrarPlatform::SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                                       std::uint32_t cbData)
{
    return ::RegSetValueExW(ToHkey(key), name, 0, type, static_cast<const BYTE*>(data), cbData);
}

long CWin32RegistrarPlatform::DeleteValue(RegKey key, const wchar_t* name)
{
    return ::RegDeleteValueW(ToHkey(key), name);
}

long CWin32RegistrarPlatform::QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                                         std::uint32_t* cbData)
{
    DWORD dwType = 0;
    DWORD cb = *cbData;
    const LONG error = ::RegQueryValueExW(ToHkey(key), name, nullptr, &dwType, static_cast<BYTE*>(data), &cb);
    *type = dwType;
    *cbData = cb;
    return error;
}

long CWin32RegistrarPlatform::DeleteKey(RegKey parent, const wchar_t* name)
{
    return ::RegDeleteKeyW(ToHkey(parent), name);
}

long CWin32RegistrarPlatform::EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName)
{
    DWORD cch = *cchName;
    const LONG error = ::RegEnumKeyExW(ToHkey(key), index, name, &cch, nullptr, nullptr, nullptr, nullptr);
    *cchName = cch;
    return error;
}

long CWin32RegistrarPlatform::CloseKey(RegKey key)
{
    return ::RegCloseKey(ToHkey(key));
}

HResult CWin32RegistrarPlatform::LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId,
                                                   const wchar_t* resourceType, std::string& bytes)
{
    CUniqueLibrary module(::LoadLibraryExW(moduleFileName, nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!module)
        return LastErrorHResult();
    HRSRC hResource = ::FindResourceW(module.Get(), MAKEINTRESOURCEW(resourceId), resourceType);
    if (hResource == nullptr)
        return LastErrorHResult();
    HGLOBAL hData = ::LoadResource(module.Get(), hResource);
    if (hData == nullptr)
        return LastErrorHResult();
    const DWORD cbData = ::SizeofResource(module.Get(), hResource);
    const void* pData = ::LockResource(hData);
    if (pData == nullptr)
        return LastErrorHResult();
    try {
        bytes.assign(static_cast<const char*>(pData), cbData);
    } catch (const std::bad_alloc&) {
        return kv::kE_OUTOFMEMORY;
    }
    return kv::kS_OK;
}

HResult CWin32RegistrarPlatform::ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide,
                                               std::size_t cchWide, std::size_t* pcchWritten)
{
    *pcchWritten = 0;
    if (cbText > INT_MAX || cchWide > INT_MAX)
        return kv::kE_OUTOFMEMORY;
    const int cch = ::MultiByteToWideChar(ScriptCodePage(), 0, text, static_cast<int>(cbText), wide,
                                          static_cast<int>(cchWide));
    if (cch <= 0)
        return LastErrorHResult();
    *pcchWritten = static_cast<std::size_t>(cch);
    return kv::kS_OK;
}

HResult CWin32RegistrarPlatform::ParseUI4(const wchar_t* text, std::uint32_t* value)
{
    ULONG ulValue = 0;
    const HRESULT hr = ::VarUI4FromStr(const_cast<OLECHAR*>(text), 0, 0, &ulValue);
    *value = ulValue;
    return hr;
}

unsigned CWin32RegistrarPlatform::ScriptCodePage()
{
    static const unsigned s_codePage = [] {
        if (IsNtAfterVersion4())
            return static_cast<unsigned>(CP_THREAD_ACP);
        char szCodePage[7] = {}; // up to six digits
        ::GetLocaleInfoA(::GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, szCodePage, sizeof szCodePage);
        szCodePage[sizeof szCodePage - 1] = '\0';
        const unsigned codePage = static_cast<unsigned>(std::strtoul(szCodePage, nullptr, 10));
        return codePage != 0 ? codePage : static_cast<unsigned>(::GetACP());
    }();
    return s_codePage;
}
