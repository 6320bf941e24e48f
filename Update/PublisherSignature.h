#pragma once
// The Authenticode check on a downloaded installer: once the updater itself is signed, it starts
// only an installer signed by the same publisher, through a chain the system trusts for code
// signing. The download travels over plain HTTP, so nothing else tells the maker's installer from
// one handed in on the way.
#include <windows.h>
#include <vector>

// Verifies the file's Authenticode signature (the hash of the file and the trust of the signer's
// chain for code signing) and gives the signer certificate's subject as its encoded name. hFile is
// NULL, or the file open for reading: its content is then what is checked. S_OK, or the reason
// the signature was refused (TRUST_E_NOSIGNATURE for none).
HRESULT VerifyAuthenticodeSigner(LPCWSTR pwszFile, HANDLE hFile, std::vector<BYTE>& vecSubject);

// TRUE when the installer may be started: the running updater carries no signature (nothing is
// checked then), or the installer carries a valid signature whose signer has the same subject as
// the updater's own signer. Any other failure, also in reading the updater's own signature, gives
// FALSE. The updater's signer is read once per process. hFile is NULL to check the file by its
// path, or the file open for reading; INVALID_HANDLE_VALUE (it could not be opened) refuses it.
BOOL IsSignedByUpdaterPublisher(LPCSTR lpszFile, HANDLE hFile = nullptr) noexcept;
