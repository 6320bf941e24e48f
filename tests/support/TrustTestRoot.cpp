// kvtrustroot: adds a test root certificate (DER file) to the ROOT store of the wine prefix it runs
// in, so that signatures made at test time chain to a trusted root. It refuses to run anywhere but
// under wine: a test root must never become trusted on a real machine.
#include <windows.h>
#include <wincrypt.h>
#include <vector>
#include "UniqueHandle.h"

namespace {
struct CertStoreTraits {
    using HandleType = HCERTSTORE;
    static HandleType Invalid() noexcept { return nullptr; }
    static void Close(HandleType h) noexcept { ::CertCloseStore(h, 0); }
};

bool IsWine()
{
    HMODULE hNtdll = ::GetModuleHandleW(L"ntdll.dll");
    return hNtdll && ::GetProcAddress(hNtdll, "wine_get_version");
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2 || !IsWine())
        return 2;
    CUniqueFileHandle file(::CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        return 3;
    std::vector<BYTE> cert(65536);
    DWORD cb = 0;
    if (!::ReadFile(file.Get(), cert.data(), static_cast<DWORD>(cert.size()), &cb, nullptr) || cb == 0 ||
        cb == cert.size())
        return 3;
    CUniqueHandle<CertStoreTraits> store(::CertOpenSystemStoreW(0, L"ROOT"));
    if (!store)
        return 4;
    if (!::CertAddEncodedCertificateToStore(store.Get(), X509_ASN_ENCODING, cert.data(), cb,
                                            CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        return 5;
    return 0;
}
