#include "PublisherSignature.h"
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <string>

namespace {
// The state WinVerifyTrust keeps between its verify and close actions (the provider data, the
// signer and its chain): released by the close action on every way out.
class CTrustVerification {
public:
    CTrustVerification(LPCWSTR pwszFile, HANDLE hFile) noexcept
    {
        m_file.cbStruct = sizeof(m_file);
        m_file.pcwszFilePath = pwszFile;
        m_file.hFile = hFile;
        m_data.cbStruct = sizeof(m_data);
        m_data.dwUIChoice = WTD_UI_NONE;
        // Revocation as the system's software-publishing policy has it.
        m_data.fdwRevocationChecks = WTD_REVOKE_NONE;
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

std::wstring FromAnsi(LPCSTR lpszText)
{
    int cch = ::MultiByteToWideChar(CP_ACP, 0, lpszText, -1, nullptr, 0);
    if (cch <= 0)
        return {};
    std::wstring text(static_cast<size_t>(cch), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, lpszText, -1, &text[0], cch);
    text.resize(static_cast<size_t>(cch - 1));
    return text;
}

struct COwnSigner {
    HRESULT hr = E_FAIL;
    std::vector<BYTE> vecSubject;
};

COwnSigner ReadOwnSigner()
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
    own.hr = VerifyAuthenticodeSigner(path.c_str(), nullptr, own.vecSubject);
    return own;
}

// Read once: the running image does not change, and each reading costs a full verification.
const COwnSigner& OwnSigner()
{
    static const COwnSigner own = ReadOwnSigner();
    return own;
}
} // namespace

HRESULT VerifyAuthenticodeSigner(LPCWSTR pwszFile, HANDLE hFile, std::vector<BYTE>& vecSubject)
{
    vecSubject.clear();
    if (!pwszFile || !*pwszFile)
        return E_INVALIDARG;
    if (hFile == INVALID_HANDLE_VALUE)
        return E_HANDLE;
    CTrustVerification verification(pwszFile, hFile);
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
    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof(policy);
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof(status);
    if (!::CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, pSigner->pChainContext, &policy,
                                            &status))
        return HRESULT_FROM_WIN32(::GetLastError());
    if (status.dwError != 0)
        return FromChainPolicyError(status.dwError);

    PCCERT_CONTEXT pSignerCert = pSigner->pChainContext->rgpChain[0]->rgpElement[0]->pCertContext;
    if (!pSignerCert || !pSignerCert->pCertInfo)
        return TRUST_E_NO_SIGNER_CERT;
    const CERT_NAME_BLOB& subject = pSignerCert->pCertInfo->Subject;
    vecSubject.assign(subject.pbData, subject.pbData + subject.cbData);
    return S_OK;
}

BOOL IsSignedByUpdaterPublisher(LPCSTR lpszFile, HANDLE hFile) noexcept
{
    try {
        const COwnSigner& own = OwnSigner();
        // An unsigned updater is a build without a publisher to compare with: it checks nothing.
        if (own.hr == TRUST_E_NOSIGNATURE || own.hr == CRYPT_E_NO_MATCH)
            return TRUE;
        if (FAILED(own.hr) || own.vecSubject.empty() || !lpszFile)
            return FALSE;
        std::vector<BYTE> vecSubject;
        if (FAILED(VerifyAuthenticodeSigner(FromAnsi(lpszFile).c_str(), hFile, vecSubject)))
            return FALSE;
        // The same encoded subject: a renewed certificate of the same publisher passes.
        return vecSubject == own.vecSubject ? TRUE : FALSE;
    } catch (...) {
        return FALSE;
    }
}
