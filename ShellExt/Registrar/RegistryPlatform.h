#pragma once
// What the registry-script registrar and the COM module's registration need from the system,
// as an interface with no Windows header behind it: the Win32 implementation forwards to the
// registry API, and an in-memory registry stands in for it in tests and in the native build.
// Keys, access masks, value types and error codes carry the Win32 numbers, so the Win32
// implementation passes them through unchanged.
#include <cstddef>
#include <cstdint>
#include <string>

using HResult = std::int32_t;
using RegKey = void*;

namespace kv {
// Predefined root keys, with the values of the Win32 HKEY_* constants.
enum class RegRoot : std::uint32_t {
    ClassesRoot = 0x80000000u,
    CurrentUser = 0x80000001u,
    LocalMachine = 0x80000002u,
    Users = 0x80000003u,
    PerformanceData = 0x80000004u,
    CurrentConfig = 0x80000005u,
    DynData = 0x80000006u,
};
inline RegKey RootKey(RegRoot root) { return reinterpret_cast<RegKey>(static_cast<std::uintptr_t>(root)); }

// Access masks.
constexpr std::uint32_t kKeyQueryValue = 0x0001;
constexpr std::uint32_t kKeySetValue = 0x0002;
constexpr std::uint32_t kKeyRead = 0x20019;
constexpr std::uint32_t kKeyWrite = 0x20006;

// Value types.
constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

// Win32 error codes.
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInvalidParameter = 87;
constexpr long kErrorInsufficientBuffer = 122;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;

// Result codes.
constexpr HResult kS_OK = 0;
constexpr HResult kS_FALSE = 1;
constexpr HResult kE_FAIL = static_cast<HResult>(0x80004005u);
constexpr HResult kE_OUTOFMEMORY = static_cast<HResult>(0x8007000Eu);
constexpr HResult kE_INVALIDARG = static_cast<HResult>(0x80070057u);
constexpr HResult kE_ACCESSDENIED = static_cast<HResult>(0x80070005u);
constexpr HResult kDISP_E_EXCEPTION = static_cast<HResult>(0x80020009u);
constexpr HResult kDISP_E_TYPEMISMATCH = static_cast<HResult>(0x80020005u);
constexpr HResult kDISP_E_OVERFLOW = static_cast<HResult>(0x8002000Au);

// 0x80070000 combined with the low 16 bits of a Win32 error; 0 stays S_OK.
constexpr HResult HResultFromWin32(long error)
{
    return error == 0 ? kS_OK : static_cast<HResult>(0x80070000u | (static_cast<std::uint32_t>(error) & 0xFFFFu));
}
} // namespace kv

// The registry operations (each answers a Win32 error code, 0 on success).
class IRegistryPlatform {
public:
    virtual ~IRegistryPlatform() = default;
    virtual long OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) = 0;
    // Creates the key if it is missing (non-volatile, no class, no security attributes).
    virtual long CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) = 0;
    virtual long SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                          std::uint32_t cbData) = 0;
    virtual long DeleteValue(RegKey key, const wchar_t* name) = 0;
    // Reads a value into data, which has room for *cbData bytes; answers its type and size in bytes.
    // A value that does not fit answers kErrorMoreData.
    virtual long QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                            std::uint32_t* cbData) = 0;
    // Deletes one key; refuses a key that still has subkeys.
    virtual long DeleteKey(RegKey parent, const wchar_t* name) = 0;
    // Name of the subkey at index into a buffer of *cchName characters; kErrorNoMoreItems past the end.
    virtual long EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName) = 0;
    virtual long CloseKey(RegKey key) = 0;
};

// What the registry-script registrar needs beyond the registry. None of these may throw.
class IRegistrarPlatform : public IRegistryPlatform {
public:
    // Copies the bytes of the resource (id, type) of a module file loaded as a data file, which is
    // unloaded again before returning. Any failure answers the HRESULT of the thread's last error.
    virtual HResult LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId,
                                      const wchar_t* resourceType, std::string& bytes) = 0;
    // Decodes 8-bit script text into at most cchWide UTF-16 characters (no terminator is added),
    // with the code page the registrar uses. Answers the character count in *pcchWritten; a
    // conversion giving 0 characters answers the HRESULT of the thread's last error.
    virtual HResult ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide, std::size_t cchWide,
                                  std::size_t* pcchWritten) = 0;
    // The number in a "D" value, read the way VarUI4FromStr reads it (locale 0, no flags).
    virtual HResult ParseUI4(const wchar_t* text, std::uint32_t* value) = 0;
};
