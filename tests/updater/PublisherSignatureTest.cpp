// The judgement of a signer's chain and the publisher's name, on certificates made at test time
// (tests/support/make-signed-installers.sh). Wine's WinVerifyTrust checks no revocation at all,
// whatever it is asked (measured), so the revocation cases take a chain that wine's chain engine
// builds with revocation checking asked for (its list out of reach), and chains carrying the status
// bits Windows sets (a revoked certificate among them: wine's engine gave no such chain reliably).
// Wine's Authenticode chain policy lets every revocation bit through, flags or not (measured): here
// the offline cases show only that nothing else refuses them; Windows' policy is what needs the flags.
#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>
#include <algorithm>
#include <memory>
#include <vector>
#include "PublisherSignature.h"
#include "UpdaterDriver.h"

namespace {
struct CertFree {
    void operator()(PCCERT_CONTEXT p) const { ::CertFreeCertificateContext(p); }
};
struct ChainFree {
    void operator()(PCCERT_CHAIN_CONTEXT p) const { ::CertFreeCertificateChain(p); }
};
using CUniqueCert = std::unique_ptr<const CERT_CONTEXT, CertFree>;
using CUniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

std::string CertsFile(const char* pszName)
{
    return ToWindowsPath(KV_SIGNING_DIR) + "\\certs\\" + pszName;
}

CUniqueCert LoadCertificate(const char* pszName)
{
    const std::string strPem = ReadFileBytes(CertsFile(pszName));
    DWORD cb = 0;
    ::CryptStringToBinaryA(strPem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &cb, nullptr, nullptr);
    std::vector<BYTE> der(cb);
    if (cb == 0 || !::CryptStringToBinaryA(strPem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &cb,
                                           nullptr, nullptr))
        return CUniqueCert();
    return CUniqueCert(::CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), cb));
}

// The chain as the engine builds it, the signer's revocation checked.
CUniqueChain BuildChain(const char* pszName)
{
    CUniqueCert cert = LoadCertificate(pszName);
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof(para);
    PCCERT_CHAIN_CONTEXT pChain = nullptr;
    if (cert)
        ::CertGetCertificateChain(nullptr, cert.get(), nullptr, nullptr, &para,
                                  CERT_CHAIN_REVOCATION_CHECK_END_CERT, nullptr, &pChain);
    return CUniqueChain(pChain);
}

// A copy of a chain's first simple chain whose status bits a test sets as Windows would.
class CChainWithStatus {
public:
    explicit CChainWithStatus(PCCERT_CHAIN_CONTEXT pChain)
        : m_context(*pChain), m_simple(*pChain->rgpChain[0])
    {
        for (DWORD i = 0; i < m_simple.cElement; ++i)
            m_elements.push_back(*m_simple.rgpElement[i]);
        for (CERT_CHAIN_ELEMENT& element : m_elements)
            m_pElements.push_back(&element);
        m_simple.rgpElement = m_pElements.data();
        m_pSimple = &m_simple;
        m_context.cChain = 1;
        m_context.rgpChain = &m_pSimple;
        m_context.cLowerQualityChainContext = 0;
        m_context.rgpLowerQualityChainContext = nullptr;
    }
    // The bits on one element, and summed up on its chain and the whole, as the engine sums them.
    CChainWithStatus& AddError(DWORD dwElement, DWORD dwBits)
    {
        m_elements.at(dwElement).TrustStatus.dwErrorStatus |= dwBits;
        m_simple.TrustStatus.dwErrorStatus |= dwBits;
        m_context.TrustStatus.dwErrorStatus |= dwBits;
        return *this;
    }
    PCCERT_CHAIN_CONTEXT get() const { return &m_context; }

private:
    CERT_CHAIN_CONTEXT m_context;
    CERT_SIMPLE_CHAIN m_simple;
    PCERT_SIMPLE_CHAIN m_pSimple = nullptr;
    std::vector<CERT_CHAIN_ELEMENT> m_elements;
    std::vector<PCERT_CHAIN_ELEMENT> m_pElements;
};

const DWORD kdwRevocationOffline = CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

TEST(SignerChain, RevocationThatCouldNotBeCheckedIsAcceptedAndEveryOtherFaultRefused)
{
    // The list's address is a closed local port: wine's engine marks the chain offline.
    ::SetEnvironmentVariableA("http_proxy", nullptr);
    CUniqueChain offline = BuildChain("offline.pem");
    ASSERT_TRUE(offline);
    EXPECT_NE(0u, offline.get()->TrustStatus.dwErrorStatus & CERT_TRUST_IS_OFFLINE_REVOCATION);
    EXPECT_EQ(S_OK, CheckSignerChain(offline.get()));

    CUniqueChain good = BuildChain("publisher.pem");
    ASSERT_TRUE(good);
    ASSERT_EQ(2u, good.get()->rgpChain[0]->cElement);
    EXPECT_EQ(S_OK, CheckSignerChain(good.get()));
    // What Windows reports with no route to the authority, for the signer and for its issuer.
    EXPECT_EQ(S_OK, CheckSignerChain(CChainWithStatus(good.get()).AddError(0, kdwRevocationOffline).get()));
    EXPECT_EQ(S_OK, CheckSignerChain(CChainWithStatus(good.get())
                                         .AddError(0, kdwRevocationOffline)
                                         .AddError(1, kdwRevocationOffline)
                                         .get()));

    struct {
        DWORD dwElement;
        DWORD dwBits;
    } const refused[] = {
        {0, CERT_TRUST_IS_REVOKED},
        {0, CERT_TRUST_IS_REVOKED | kdwRevocationOffline},
        {1, CERT_TRUST_IS_UNTRUSTED_ROOT},
        {0, CERT_TRUST_IS_NOT_VALID_FOR_USAGE},
        {0, CERT_TRUST_IS_NOT_SIGNATURE_VALID},
        {0, CERT_TRUST_IS_NOT_TIME_VALID},
    };
    for (const auto& fault : refused) {
        SCOPED_TRACE(fault.dwBits);
        EXPECT_TRUE(FAILED(
            CheckSignerChain(CChainWithStatus(good.get()).AddError(fault.dwElement, fault.dwBits).get())));
    }
    EXPECT_EQ(CRYPT_E_REVOKED,
              CheckSignerChain(CChainWithStatus(good.get()).AddError(0, CERT_TRUST_IS_REVOKED).get()));
}

TEST(PublisherName, IsTheDecodedOrganisationAndCommonName)
{
    auto nameOf = [](const char* pszName) {
        CUniqueCert cert = LoadCertificate(pszName);
        CPublisherName name;
        EXPECT_TRUE(cert) << pszName;
        if (cert) {
            EXPECT_EQ(S_OK, ReadPublisherName(cert.get()->pCertInfo->Subject, name)) << pszName;
        }
        return name;
    };
    const CPublisherName publisher = nameOf("publisher.pem");
    ASSERT_EQ(std::vector<std::wstring>{L"Halden Forge"}, publisher.vecOrganization);
    ASSERT_EQ(std::vector<std::wstring>{L"Halden Forge"}, publisher.vecCommonName);

    // The same names as PrintableString instead of UTF8String: other bytes, the same publisher.
    CUniqueCert printable = LoadCertificate("publisher-printable.pem");
    CUniqueCert original = LoadCertificate("publisher.pem");
    ASSERT_TRUE(printable && original);
    const CERT_NAME_BLOB& a = printable.get()->pCertInfo->Subject;
    const CERT_NAME_BLOB& b = original.get()->pCertInfo->Subject;
    EXPECT_FALSE(a.cbData == b.cbData && std::equal(a.pbData, a.pbData + a.cbData, b.pbData));
    struct {
        const char* pszCertificate;
        bool bSame;
    } const cases[] = {
        {"publisher-printable.pem", true},      // other bytes, the same names
        {"publisher-ev.pem", true},             // more attributes around the same names
        {"publisher-no-country.pem", true},     // C counts only when both carry one
        {"publisher-other-country.pem", false}, // and then it counts
        {"other.pem", false},
        {"other-same-cn.pem", false},
    };
    for (const auto& c : cases) {
        const CPublisherName name = nameOf(c.pszCertificate);
        EXPECT_EQ(c.bSame, IsSamePublisher(name, publisher)) << c.pszCertificate;
        EXPECT_EQ(c.bSame, IsSamePublisher(publisher, name)) << c.pszCertificate << ", the other way round";
    }
}

// Signed and unsigned images are told apart by the updater runs; here, files that are no image.
TEST(CertificateTable, IsNotReadFromFilesThatAreNoImage)
{
    const std::string strSigning = ToWindowsPath(KV_SIGNING_DIR) + "\\";
    const std::string strDamaged = strSigning + "kvupdate-cut-headers.exe";
    // The signed updater cut off in the middle of its optional header.
    const std::string strSigned = ReadFileBytes(strSigning + "kvupdate-signed.exe");
    ASSERT_GT(strSigned.size(), 0x200u);
    {
        CUniqueFileHandle file(
            ::CreateFileA(strDamaged.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD cb = 0;
        ::WriteFile(file.Get(), strSigned.data(), 0xC0, &cb, nullptr);
    }
    struct {
        std::string strFile;
        HRESULT hr;
        bool bSigned;
    } const cases[] = {
        {strSigning + "kvupdate-signed.exe", S_OK, true},
        {strSigning + "certs\\publisher.pem", HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), false},
        {strDamaged, HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT), false},
    };
    for (const auto& c : cases) {
        CUniqueFileHandle file(::CreateFileA(c.strFile.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file) << c.strFile;
        bool bSigned = !c.bSigned;
        EXPECT_EQ(c.hr, ReadImageHasCertificateTable(file.Get(), bSigned)) << c.strFile;
        EXPECT_EQ(c.bSigned, bSigned) << c.strFile;
    }
    ::DeleteFileA(strDamaged.c_str());
}
} // namespace
