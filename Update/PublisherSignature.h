#pragma once
// The Authenticode check on a downloaded installer: once the updater itself is signed, it starts
// only an installer signed by the same publisher, through a chain the system trusts for code
// signing. The download travels over plain HTTP, so nothing else tells the maker's installer from
// one handed in on the way.
#include <windows.h>
#include <wincrypt.h>
#include <string>
#include <vector>

// Where revocation data may come from. The click on Install checks on the user-interface thread,
// which must never wait for the network: it takes what the system has cached.
enum class RevocationRetrieval { Network, CacheOnly };

// A signer's publisher as Windows names it to the user ("Verified publisher"): the decoded
// organisation and common names of its certificate's subject, in their order there, and its
// country. Decoded, so that a renewal whose names are encoded in another string type, or an
// extended-validation certificate (more attributes around the same names), is the same publisher.
struct CPublisherName {
    std::vector<std::wstring> vecOrganization;
    std::vector<std::wstring> vecCommonName;
    std::vector<std::wstring> vecCountry;

    bool IsEmpty() const { return vecOrganization.empty() && vecCommonName.empty(); }
};

// The same publisher as Windows compares names: O and CN are case-insensitive strings, so a
// renewal that differs only in case is the same; C counts only when both certificates carry one.
bool IsSamePublisher(const CPublisherName& a, const CPublisherName& b);

// Whether a program image carries a signature at all: a certificate table in the security entry
// of its optional header's data directories. S_OK with bSigned, or the error when the file cannot
// be read as an image (which must not pass for unsigned). The file is hostile input: every read
// is checked against its size.
HRESULT ReadImageHasCertificateTable(HANDLE hFile, bool& bSigned) noexcept;

// The product version of the file's fixed version information (dwProductVersionMS in the high
// half), as Windows shows it in the file's properties. S_OK, or the error (no version resource).
HRESULT ReadProductVersion(LPCWSTR pwszFile, ULONGLONG& ullVersion) noexcept;

// Decodes the names from an encoded subject. S_OK, or the decoding error.
HRESULT ReadPublisherName(const CERT_NAME_BLOB& subject, CPublisherName& name);

// The extra judgement of the signer's chain after WinVerifyTrust (the Authenticode chain policy),
// which ignores one thing only: revocation that could not be checked (no route to the authority's
// servers, or nothing cached on the Install click), as Windows' default software-publishing policy
// does. A revoked certificate, an untrusted root and a wrong usage stay refused. S_OK or the error.
HRESULT CheckSignerChain(PCCERT_CHAIN_CONTEXT pChain) noexcept;

// Verifies the file's Authenticode signature (the hash of the file and the trust of the signer's
// chain for code signing) and gives the signer's publisher. hFile is NULL, or the file open for
// reading: its content is then what is checked. S_OK, or the reason the signature was refused
// (TRUST_E_NOSIGNATURE for none).
HRESULT VerifyAuthenticodeSigner(LPCWSTR pwszFile, HANDLE hFile, RevocationRetrieval retrieval,
                                 CPublisherName& publisher);

// TRUE when the installer may be started: the running updater's file carries no certificate table
// (nothing is checked then), or the installer carries a valid signature by the same publisher as
// the updater's own and a product version higher than the updater's (timestamped signatures never
// expire: every older release the maker signed would pass otherwise). A signature of the
// updater's that is there but cannot be read or verified refuses every installer, as does any
// other failure. The updater's publisher and version are read once per process, with revocation
// data from the network. hFile is NULL to check the file by its path, or the file open for
// reading; INVALID_HANDLE_VALUE (it could not be opened) refuses it.
BOOL IsSignedByUpdaterPublisher(LPCSTR lpszFile, HANDLE hFile = nullptr,
                                RevocationRetrieval retrieval = RevocationRetrieval::Network) noexcept;
