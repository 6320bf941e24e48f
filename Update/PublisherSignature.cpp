#include "PublisherSignature.h"
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <algorithm>
#include <cstddef>
#include "AnsiText.h"
#include "SystemFunction.h"
#include "UniqueHandle.h"

namespace {
// The state WinVerifyTrust keeps between its verify and close actions (the provider data, the
// signer and its chain): released by the close action on every way out.
class CTrustVerification {
public:
    CTrustVerification(LPCWSTR pwszFile, HANDLE hFile, RevocationRetrieval retrieval) noexcept
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = pwszFile;
        m_file.hFile = hFile;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        // Revocation as the system's software-publishing policy has it.
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
        if (retrieval == RevocationRetrieval::CacheOnly)
            m_data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
        m_data.dwUnionChoice = WTD_CHOICE_FILE;
        m_data.pFile = &m_file;
        m_data.dwStateAction = WTD_STATEACTION_VERIFY;
    }
    ~CTrustVerification()
    {
        if (!m_bVerified)
            return;
        m_data.dwStateAction = WTD_STATEACTION_CLOSE;
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
    }
    CTrustVerification(const CTrustVerification&) = delete;
    CTrustVerification& operator=(const CTrustVerification&) = delete;

    HRESULT Verify() noexcept
    {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        m_bVerified = true;
        // No window: there is no user to ask, the answer is the policy's alone.
        LONG lResult = ::WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &m_data);
        if (lResult == ERROR_SUCCESS)
            return S_OK;
        return lResult < 0 ? static_cast<HRESULT>(lResult) : HRESULT_FROM_WIN32(static_cast<DWORD>(lResult));
    }
    HANDLE GetState() const noexcept { return m_data.hWVTStateData; }

private:
    WINTRUST_FILE_INFO m_file = {};
    WINTRUST_DATA m_data = {};
    bool m_bVerified = false;
};

HRESULT FromChainPolicyError(DWORD dwError)
{
    return (dwError & 0x80000000) ? static_cast<HRESULT>(dwError) : HRESULT_FROM_WIN32(dwError);
}

struct LocalAllocTraits {
    using HandleType = void*;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType p) noexcept { ::LocalFree(p); }
};

bool IsTextValue(DWORD dwValueType)
{
    return dwValueType != CERT_RDN_ANY_TYPE && dwValueType != CERT_RDN_ENCODED_BLOB &&
           dwValueType != CERT_RDN_OCTET_STRING;
}

bool IsSameNames(const std::vector<std::wstring>& a, const std::vector<std::wstring>& b)
{
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const std::wstring& x, const std::wstring& y) {
               // Names decoded from a certificate are far below INT_MAX characters.
               return ::CompareStringOrdinal(x.c_str(), static_cast<int>(x.size()), y.c_str(),
                                             static_cast<int>(y.size()), TRUE) == CSTR_EQUAL;
           });
}

// Reads exactly cb bytes at ullOffset, never past the file's end.
bool ReadAt(HANDLE hFile, ULONGLONG ullFileSize, ULONGLONG ullOffset, void* pBuffer, DWORD cb)
{
    if (ullOffset > ullFileSize || cb > ullFileSize - ullOffset)
        return false;
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(ullOffset);
    at.OffsetHigh = static_cast<DWORD>(ullOffset >> 32);
    DWORD cbRead = 0;
    return ::ReadFile(hFile, pBuffer, cb, &cbRead, &at) && cbRead == cb;
}

struct COwnSigner {
    HRESULT hr = E_FAIL;
    bool bSigned = false;
    CPublisherName publisher;
    ULONGLONG ullVersion = 0;
};

COwnSigner ReadOwnSigner(RevocationRetrieval retrieval)
{
    COwnSigner own;
    // The updater may run from a path longer than MAX_PATH.
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD cch = ::GetModuleFileNameW(nullptr, &path[0], static_cast<DWORD>(path.size()));
        if (cch == 0) {
            own.hr = HRESULT_FROM_WIN32(::GetLastError());
            return own;
        }
        if (cch < path.size()) {
            path.resize(cch);
            break;
        }
        if (path.size() >= 32768) {
            own.hr = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
            return own;
        }
        path.resize(path.size() * 2);
    }
    CUniqueFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        own.hr = HRESULT_FROM_WIN32(::GetLastError());
        return own;
    }
    // Only a file without any signature is an unsigned build. A signature that is there but
    // damaged, unreadable or untrusted answers like a missing one from WinVerifyTrust
    // (TRUST_E_NOSIGNATURE for a cut certificate table), and must refuse, not wave through.
    own.hr = ReadImageHasCertificateTable(file.Get(), own.bSigned);
    if (FAILED(own.hr) || !own.bSigned)
        return own;
    LARGE_INTEGER start = {};
    if (!::SetFilePointerEx(file.Get(), start, nullptr, FILE_BEGIN)) {
        own.hr = HRESULT_FROM_WIN32(::GetLastError());
        return own;
    }
    own.hr = VerifyAuthenticodeSigner(path.c_str(), file.Get(), retrieval, own.publisher);
    if (SUCCEEDED(own.hr))
        own.hr = ReadProductVersion(path.c_str(), own.ullVersion);
    return own;
}

// GetFileVersionInfoExW and its size function (Windows Vista and later) are looked up when used:
// not every toolchain's import library for version.dll carries them (mingw-w64's 32-bit one does
// not). version.dll is loaded already, for VerQueryValueW.
using PfnGetFileVersionInfoSizeExW = DWORD(WINAPI*)(DWORD, LPCWSTR, LPDWORD);
using PfnGetFileVersionInfoExW = BOOL(WINAPI*)(DWORD, LPCWSTR, DWORD, DWORD, LPVOID);

// Read once: the running image does not change, and each reading costs a full verification. The
// first check of a run is the worker's, at the end of the download, where the network may be used.
const COwnSigner& OwnSigner(RevocationRetrieval retrieval)
{
    static const COwnSigner own = ReadOwnSigner(retrieval);
    return own;
}
} // namespace

bool IsSamePublisher(const CPublisherName& a, const CPublisherName& b)
{
    return IsSameNames(a.vecOrganization, b.vecOrganization) &&
           IsSameNames(a.vecCommonName, b.vecCommonName) &&
           (a.vecCountry.empty() || b.vecCountry.empty() || IsSameNames(a.vecCountry, b.vecCountry));
}

HRESULT ReadImageHasCertificateTable(HANDLE hFile, bool& bSigned) noexcept
{
    bSigned = false;
    LARGE_INTEGER size = {};
    if (!hFile || hFile == INVALID_HANDLE_VALUE || !::GetFileSizeEx(hFile, &size) || size.QuadPart < 0)
        return E_HANDLE;
    const ULONGLONG ullSize = static_cast<ULONGLONG>(size.QuadPart);
    IMAGE_DOS_HEADER dos = {};
    if (!ReadAt(hFile, ullSize, 0, &dos, sizeof(dos)) || dos.e_magic != IMAGE_DOS_SIGNATURE ||
        dos.e_lfanew < 0)
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    const ULONGLONG ullNt = static_cast<ULONGLONG>(dos.e_lfanew);
    DWORD dwPeSignature = 0;
    IMAGE_FILE_HEADER header = {};
    WORD wMagic = 0;
    const ULONGLONG ullOptional = ullNt + sizeof(DWORD) + sizeof(IMAGE_FILE_HEADER);
    if (!ReadAt(hFile, ullSize, ullNt, &dwPeSignature, sizeof(dwPeSignature)) ||
        dwPeSignature != IMAGE_NT_SIGNATURE ||
        !ReadAt(hFile, ullSize, ullNt + sizeof(DWORD), &header, sizeof(header)) ||
        !ReadAt(hFile, ullSize, ullOptional, &wMagic, sizeof(wMagic)))
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);

    size_t nCountAt = 0, nDirectoriesAt = 0;
    if (wMagic == IMAGE_NT_OPTIONAL_HDR32_MAGIC) {
        nCountAt = offsetof(IMAGE_OPTIONAL_HEADER32, NumberOfRvaAndSizes);
        nDirectoriesAt = offsetof(IMAGE_OPTIONAL_HEADER32, DataDirectory);
    } else if (wMagic == IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
        nCountAt = offsetof(IMAGE_OPTIONAL_HEADER64, NumberOfRvaAndSizes);
        nDirectoriesAt = offsetof(IMAGE_OPTIONAL_HEADER64, DataDirectory);
    } else {
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    }
    DWORD dwDirectories = 0;
    if (nCountAt + sizeof(DWORD) > header.SizeOfOptionalHeader ||
        !ReadAt(hFile, ullSize, ullOptional + nCountAt, &dwDirectories, sizeof(dwDirectories)))
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    if (dwDirectories <= IMAGE_DIRECTORY_ENTRY_SECURITY)
        return S_OK; // the image has no security entry at all
    const size_t nSecurityAt = nDirectoriesAt + IMAGE_DIRECTORY_ENTRY_SECURITY * sizeof(IMAGE_DATA_DIRECTORY);
    IMAGE_DATA_DIRECTORY security = {};
    if (nSecurityAt + sizeof(security) > header.SizeOfOptionalHeader ||
        !ReadAt(hFile, ullSize, ullOptional + nSecurityAt, &security, sizeof(security)))
        return HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT);
    // Its address is a file offset. Any entry at all, even one that points nowhere, is a
    // signature: the verification then refuses it.
    bSigned = security.VirtualAddress != 0 || security.Size != 0;
    return S_OK;
}

HRESULT ReadProductVersion(LPCWSTR pwszFile, ULONGLONG& ullVersion) noexcept
{
    ullVersion = 0;
    try {
        DWORD dwIgnored = 0;
        // A failure must never read as S_OK with version 0, which every installer would pass.
        const auto failed = [] {
            const DWORD dwError = ::GetLastError();
            return HRESULT_FROM_WIN32(dwError != ERROR_SUCCESS ? dwError : ERROR_RESOURCE_TYPE_NOT_FOUND);
        };
        static const auto pfnSize =
            GetSystemFunction<PfnGetFileVersionInfoSizeExW>(L"version.dll", "GetFileVersionInfoSizeExW");
        static const auto pfnInfo =
            GetSystemFunction<PfnGetFileVersionInfoExW>(L"version.dll", "GetFileVersionInfoExW");
        if (!pfnSize || !pfnInfo)
            return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        // The numbers from the file itself, never from a language file beside it (strings only).
        const DWORD cbInfo = pfnSize(FILE_VER_GET_NEUTRAL, pwszFile, &dwIgnored);
        if (cbInfo == 0)
            return failed();
        std::vector<BYTE> info(cbInfo);
        if (!pfnInfo(FILE_VER_GET_NEUTRAL, pwszFile, 0, cbInfo, info.data()))
            return failed();
        VS_FIXEDFILEINFO* pFixed = nullptr;
        UINT cbFixed = 0;
        if (!::VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&pFixed), &cbFixed) || !pFixed ||
            cbFixed < sizeof(VS_FIXEDFILEINFO) || pFixed->dwSignature != VS_FFI_SIGNATURE)
            return HRESULT_FROM_WIN32(ERROR_RESOURCE_TYPE_NOT_FOUND);
        ullVersion = (static_cast<ULONGLONG>(pFixed->dwProductVersionMS) << 32) | pFixed->dwProductVersionLS;
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ReadPublisherName(const CERT_NAME_BLOB& subject, CPublisherName& name)
{
    name = CPublisherName();
    CERT_NAME_INFO* pInfo = nullptr;
    DWORD cbInfo = 0;
    // The Unicode form gives every string type (printable, UTF-8, BMP, ...) as the same UTF-16 text.
    if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, subject.pbData, subject.cbData,
                               CRYPT_DECODE_ALLOC_FLAG, nullptr, &pInfo, &cbInfo))
        return HRESULT_FROM_WIN32(::GetLastError());
    CUniqueHandle<LocalAllocTraits> info(pInfo);
    for (DWORD i = 0; i < pInfo->cRDN; ++i) {
        const CERT_RDN& rdn = pInfo->rgRDN[i];
        for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
            const CERT_RDN_ATTR& attr = rdn.rgRDNAttr[j];
            std::vector<std::wstring>* pNames = nullptr;
            if (attr.pszObjId && ::lstrcmpA(attr.pszObjId, szOID_ORGANIZATION_NAME) == 0)
                pNames = &name.vecOrganization;
            else if (attr.pszObjId && ::lstrcmpA(attr.pszObjId, szOID_COMMON_NAME) == 0)
                pNames = &name.vecCommonName;
            else if (attr.pszObjId && ::lstrcmpA(attr.pszObjId, szOID_COUNTRY_NAME) == 0)
                pNames = &name.vecCountry;
            if (!pNames)
                continue;
            if (!IsTextValue(attr.dwValueType))
                return CRYPT_E_BAD_ENCODE;
            std::wstring strValue(reinterpret_cast<const wchar_t*>(attr.Value.pbData),
                                  attr.Value.cbData / sizeof(wchar_t));
            // Some decoders count the terminator in the length, some do not.
            while (!strValue.empty() && strValue.back() == L'\0')
                strValue.pop_back();
            pNames->push_back(std::move(strValue));
        }
    }
    return S_OK;
}

HRESULT CheckSignerChain(PCCERT_CHAIN_CONTEXT pChain) noexcept
{
    if (!pChain)
        return E_POINTER;
    // Refused here in its own right, whatever the policy makes of the flags below: not every
    // implementation of the policy step refuses a revoked certificate.
    if (pChain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED)
        return CRYPT_E_REVOKED;
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    // What Windows' software-publishing policy lets through by default: revocation that could not
    // be checked (CERT_TRUST_REVOCATION_STATUS_UNKNOWN with CERT_TRUST_IS_OFFLINE_REVOCATION). A
    // machine whose proxy lets only the download server through would otherwise never update.
    policy.dwFlags = CERT_CHAIN_POLICY_IGNORE_ALL_REV_UNKNOWN_FLAGS;
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, pChain, &policy, &status))
        return HRESULT_FROM_WIN32(::GetLastError());
    return status.dwError == 0 ? S_OK : FromChainPolicyError(status.dwError);
}

HRESULT VerifyAuthenticodeSigner(LPCWSTR pwszFile, HANDLE hFile, RevocationRetrieval retrieval,
                                 CPublisherName& publisher)
{
    publisher = CPublisherName();
    if (!pwszFile || !*pwszFile)
        return E_INVALIDARG;
    if (hFile == INVALID_HANDLE_VALUE)
        return E_HANDLE;
    CTrustVerification verification(pwszFile, hFile, retrieval);
    HRESULT hr = verification.Verify();
    if (FAILED(hr))
        return hr;

    CRYPT_PROVIDER_DATA* pProvider = ::WTHelperProvDataFromStateData(verification.GetState());
    CRYPT_PROVIDER_SGNR* pSigner =
        pProvider ? ::WTHelperGetProvSignerFromChain(pProvider, 0, FALSE, 0) : nullptr;
    if (!pSigner || !pSigner->pChainContext || pSigner->pChainContext->cChain == 0 ||
        pSigner->pChainContext->rgpChain[0]->cElement == 0)
        return TRUST_E_NO_SIGNER_CERT;

    // WinVerifyTrust's own policy step is not trusted to have judged the chain (some
    // implementations accept any signer whose certificate is signed with SHA-256): judge it here.
    hr = CheckSignerChain(pSigner->pChainContext);
    if (FAILED(hr))
        return hr;

    PCCERT_CONTEXT pSignerCert = pSigner->pChainContext->rgpChain[0]->rgpElement[0]->pCertContext;
    if (!pSignerCert || !pSignerCert->pCertInfo)
        return TRUST_E_NO_SIGNER_CERT;
    hr = ReadPublisherName(pSignerCert->pCertInfo->Subject, publisher);
    if (SUCCEEDED(hr) && publisher.IsEmpty())
        hr = TRUST_E_NO_SIGNER_CERT; // no name to tell one publisher from another
    return hr;
}

BOOL IsSignedByUpdaterPublisher(LPCSTR lpszFile, HANDLE hFile, RevocationRetrieval retrieval) noexcept
{
    try {
        const COwnSigner& own = OwnSigner(retrieval);
        // An unsigned updater is a build without a publisher to compare with: it checks nothing.
        if (SUCCEEDED(own.hr) && !own.bSigned)
            return TRUE;
        if (FAILED(own.hr) || own.publisher.IsEmpty() || !lpszFile)
            return FALSE;
        const std::wstring strFile = AnsiToWide(lpszFile);
        CPublisherName publisher;
        if (FAILED(VerifyAuthenticodeSigner(strFile.c_str(), hFile, retrieval, publisher)))
            return FALSE;
        // A renewed certificate of the same publisher passes; any other name does not.
        if (!IsSamePublisher(publisher, own.publisher))
            return FALSE;
        // Read after the signature: the system parses the resources of the publisher's files only.
        ULONGLONG ullVersion = 0;
        return SUCCEEDED(ReadProductVersion(strFile.c_str(), ullVersion)) && ullVersion > own.ullVersion
                   ? TRUE
                   : FALSE;
    } catch (...) {
        return FALSE;
    }
}
