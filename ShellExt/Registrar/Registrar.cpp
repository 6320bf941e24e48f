#include "Registrar.h"

#include "PlatformKey.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

using namespace kv;

namespace {
struct RootName {
    const wchar_t* pszName;
    RegRoot root;
};
// Searched in this order: the short names first, then the long ones.
constexpr RootName kRootNames[] = {
    {L"HKCR", RegRoot::ClassesRoot},
    {L"HKCU", RegRoot::CurrentUser},
    {L"HKLM", RegRoot::LocalMachine},
    {L"HKU", RegRoot::Users},
    {L"HKPD", RegRoot::PerformanceData},
    {L"HKDD", RegRoot::DynData},
    {L"HKCC", RegRoot::CurrentConfig},
    {L"HKEY_CLASSES_ROOT", RegRoot::ClassesRoot},
    {L"HKEY_CURRENT_USER", RegRoot::CurrentUser},
    {L"HKEY_LOCAL_MACHINE", RegRoot::LocalMachine},
    {L"HKEY_USERS", RegRoot::Users},
    {L"HKEY_PERFORMANCE_DATA", RegRoot::PerformanceData},
    {L"HKEY_DYN_DATA", RegRoot::DynData},
    {L"HKEY_CURRENT_CONFIG", RegRoot::CurrentConfig},
};

// Keys that ForceRemove and Delete never remove: wiping one would break every class on the machine.
constexpr const wchar_t* kNeverDelete[] = {
    L"AppID", L"CLSID", L"Component Categories", L"FileType", L"Interface", L"Hardware",
    L"Mime",  L"SAM",   L"SECURITY",             L"SYSTEM",   L"Software",  L"TypeLib",
};

constexpr const wchar_t* kForceRemove = L"ForceRemove";
constexpr const wchar_t* kNoRemove = L"NoRemove";
constexpr const wchar_t* kDelete = L"Delete";
constexpr const wchar_t* kVal = L"Val";

constexpr std::uint32_t kKeyReadWrite = kKeyRead | kKeyWrite;
constexpr std::size_t kSubkeyNameChars = 256;

bool Failed(HResult hr) { return hr < 0; }

int HexDigit(wchar_t ch)
{
    if (ch >= L'0' && ch <= L'9')
        return ch - L'0';
    if (ch >= L'A' && ch <= L'F')
        return ch - L'A' + 10;
    if (ch >= L'a' && ch <= L'f')
        return ch - L'a' + 10;
    return 0;
}
} // namespace

CRegistrar::CRegistrar(IRegistrarPlatform& platform) : m_platform(platform) {}

HResult CRegistrar::AddReplacement(const wchar_t* name, const wchar_t* value) noexcept
{
    if (name == nullptr || value == nullptr)
        return kE_INVALIDARG;
    try {
        m_replacements.emplace_back(name, value);
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    }
    return kS_OK;
}

HResult CRegistrar::RegisterFromResource(const wchar_t* moduleFileName, unsigned resourceId,
                                         const wchar_t* resourceType, bool bRegister) noexcept
{
    std::string bytes;
    HResult hr = m_platform.LoadResourceBytes(moduleFileName, resourceId, resourceType, bytes);
    if (Failed(hr))
        return hr;

    std::unique_ptr<wchar_t[]> text(new (std::nothrow) wchar_t[bytes.size() + 1]);
    if (!text)
        return kE_OUTOFMEMORY;
    std::size_t cchText = 0;
    hr = m_platform.ConvertToWide(bytes.data(), bytes.size(), text.get(), bytes.size(), &cchText);
    if (Failed(hr))
        return hr;
    if (cchText == 0)
        return kE_FAIL;
    text[std::min(cchText, bytes.size())] = L'\0';
    return RegisterText(text.get(), bRegister);
}

HResult CRegistrar::RegisterText(const wchar_t* text, bool bRegister) noexcept
{
    if (text == nullptr)
        return kE_INVALIDARG;
    std::wstring replaced;
    HResult hr;
    try {
        hr = ReplaceNames(text, replaced);
    } catch (const std::bad_alloc&) {
        return kE_OUTOFMEMORY;
    }
    if (Failed(hr))
        return hr;
    m_tokenizer.Start(replaced.c_str());
    if (NestingTooDeep()) {
        m_tokenizer.Start(L"");
        return kDISP_E_EXCEPTION;
    }
    m_tokenizer.Start(replaced.c_str());
    hr = WalkRootBlocks(bRegister);
    m_tokenizer.Start(L"");
    return hr;
}

HResult CRegistrar::ReplaceNames(const wchar_t* text, std::wstring& result) const
{
    const std::size_t cchText = std::wcslen(text);
    result.clear();
    result.reserve(cchText < 100 ? 1000 : 2 * cchText);

    const wchar_t* pch = text;
    while (*pch != L'\0') {
        if (*pch != L'%') {
            result += *pch++;
            continue;
        }
        if (pch[1] == L'%') {
            result += L'%';
            pch += 2;
            continue;
        }
        const wchar_t* pchName = pch + 1;
        const wchar_t* pchClose = std::wcschr(pchName, L'%');
        if (pchClose == nullptr)
            return kDISP_E_EXCEPTION;
        const std::size_t cchName = static_cast<std::size_t>(pchClose - pchName);
        if (cchName > kMaxReplacementNameChars)
            return kE_FAIL;
        const std::wstring* pValue = FindReplacement(pchName, cchName);
        if (pValue == nullptr)
            return kDISP_E_EXCEPTION;
        result += *pValue;
        pch = pchClose + 1;
    }
    return kS_OK;
}

const std::wstring* CRegistrar::FindReplacement(const wchar_t* name, std::size_t cchName) const noexcept
{
    for (const auto& entry : m_replacements) {
        if (CScriptTokenizer::EqualsNoCase(name, cchName, entry.first.c_str()))
            return &entry.second;
    }
    return nullptr;
}

// Refuses a script nested deeper than the walks go before either walk changes anything: refused
// halfway, a registration could not be rolled back, since the rollback would stop at the same depth.
bool CRegistrar::NestingTooDeep() noexcept
{
    unsigned nDepth = 0;
    while (!Failed(m_tokenizer.Next())) {
        if (m_tokenizer.Is(L"{")) {
            if (++nDepth > kMaxNesting)
                return true;
        } else if (m_tokenizer.BeginsWith(L'}') && nDepth > 0) {
            --nDepth;
        }
    }
    return false;
}

HResult CRegistrar::WalkRootBlocks(bool bRegister) noexcept
{
    CScriptTokenizer& tok = m_tokenizer;
    tok.SkipWhiteSpace();
    while (!tok.AtEnd()) {
        HResult hr = tok.Next();
        if (Failed(hr))
            return hr;
        const RootName* pRoot = std::find_if(std::begin(kRootNames), std::end(kRootNames),
                                             [&](const RootName& r) { return tok.IsNoCase(r.pszName); });
        if (pRoot == std::end(kRootNames))
            return kDISP_E_EXCEPTION;
        hr = tok.Next();
        if (Failed(hr))
            return hr;
        if (!tok.BeginsWith(L'{'))
            return kDISP_E_EXCEPTION;

        const RegKey hRoot = RootKey(pRoot->root);
        if (bRegister) {
            const wchar_t* pchBlock = tok.Position();
            hr = RegisterBlock(hRoot, 0);
            if (Failed(hr)) {
                // Take back what this block may have written; the registration's failure is the answer.
                tok.SetPosition(pchBlock);
                UnregisterBlock(hRoot, false, 0);
                return hr;
            }
        } else {
            hr = UnregisterBlock(hRoot, false, 0);
            if (Failed(hr))
                return hr;
        }
        tok.SkipWhiteSpace();
    }
    return kS_OK;
}

HResult CRegistrar::RegisterBlock(RegKey hKey, unsigned nDepth) noexcept
{
    CScriptTokenizer& tok = m_tokenizer;
    HResult hr = EnterBlock(nDepth);
    if (Failed(hr))
        return hr;

    while (!tok.BeginsWith(L'}')) {
        if (tok.IsNoCase(kForceRemove) || tok.IsNoCase(kDelete)) {
            const bool bDelete = tok.IsNoCase(kDelete);
            if (Failed(hr = tok.Next()) || Failed(hr = CheckKeyName()))
                return hr;
            if (!IsNeverDeleted(tok.Token(), tok.Length()))
                DeleteKeyTree(m_platform, hKey, tok.Token()); // whatever was there goes; failures do not matter
            if (bDelete) {
                if (Failed(hr = tok.Next()))
                    return hr;
                if (tok.BeginsWith(L'=') && Failed(hr = SkipAssignment()))
                    return hr;
                if (tok.Is(L"{"))
                    return kDISP_E_EXCEPTION; // a Delete line carries no block
                continue;
            }
        } else {
            if (tok.IsNoCase(kNoRemove) && Failed(hr = tok.Next()))
                return hr;
            if (tok.IsNoCase(kVal)) {
                wchar_t szName[kNameBufferChars];
                if (Failed(hr = ReadValueName(szName)))
                    return hr;
                if (Failed(hr = SetValueFromScript(hKey, szName)))
                    return hr;
                if (tok.Is(L"{"))
                    return kDISP_E_EXCEPTION; // a value has no subkeys
                continue;
            }
        }

        if (Failed(hr = CheckKeyName()))
            return hr;
        CPlatformKey key(m_platform);
        if (m_platform.OpenKey(hKey, tok.Token(), kKeyReadWrite, key.Put()) != kErrorSuccess &&
            m_platform.OpenKey(hKey, tok.Token(), kKeyRead, key.Put()) != kErrorSuccess) {
            const long error = m_platform.CreateKey(hKey, tok.Token(), kKeyReadWrite, key.Put());
            if (error != kErrorSuccess)
                return HResultFromWin32(error);
        }
        if (Failed(hr = tok.Next()))
            return hr;
        if (tok.BeginsWith(L'=') && Failed(hr = SetValueFromScript(key.Get(), nullptr)))
            return hr;
        if (tok.Is(L"{")) {
            if (Failed(hr = RegisterBlock(key.Get(), nDepth + 1)) || Failed(hr = tok.Next()))
                return hr;
        }
    }
    return kS_OK;
}

HResult CRegistrar::UnregisterBlock(RegKey hKey, bool bParentMissing, unsigned nDepth) noexcept
{
    CScriptTokenizer& tok = m_tokenizer;
    HResult hr = EnterBlock(nDepth);
    if (Failed(hr))
        return hr;

    while (!tok.BeginsWith(L'}')) {
        bool bRemove = true;
        bool bDelete = false;
        if (tok.IsNoCase(kForceRemove) || tok.IsNoCase(kDelete)) {
            bDelete = tok.IsNoCase(kDelete);
            if (Failed(hr = tok.Next()))
                return hr;
        } else {
            if (tok.IsNoCase(kNoRemove)) {
                bRemove = false;
                if (Failed(hr = tok.Next()))
                    return hr;
            }
            if (tok.IsNoCase(kVal)) {
                wchar_t szName[kNameBufferChars];
                if (Failed(hr = ReadValueName(szName)))
                    return hr;
                if (!bParentMissing && bRemove) {
                    CPlatformKey key(m_platform);
                    long error = m_platform.OpenKey(hKey, L"", kKeyWrite, key.Put());
                    if (error != kErrorSuccess)
                        return HResultFromWin32(error);
                    error = m_platform.DeleteValue(key.Get(), szName);
                    if (error != kErrorSuccess && error != kErrorFileNotFound)
                        return HResultFromWin32(error);
                }
                if (Failed(hr = SkipAssignment()))
                    return hr;
                if (tok.Is(L"{"))
                    return kDISP_E_EXCEPTION;
                continue;
            }
        }

        if (Failed(hr = CheckKeyName()))
            return hr;
        // The name is kept whole for the delete below: a shortened name would delete another key.
        wchar_t szKey[kNameBufferChars];
        if (tok.Length() >= kNameBufferChars)
            return kDISP_E_EXCEPTION;
        std::copy(tok.Token(), tok.Token() + tok.Length() + 1, szKey);

        CPlatformKey key(m_platform);
        const long errorOpen =
            bParentMissing ? kErrorFileNotFound : m_platform.OpenKey(hKey, szKey, kKeyRead, key.Put());
        const bool bKeyMissing = errorOpen != kErrorSuccess;

        if (Failed(hr = tok.Next()))
            return hr;
        if (tok.BeginsWith(L'=') && Failed(hr = SkipAssignment()))
            return hr;
        if (tok.BeginsWith(L'{')) {
            if (bDelete)
                return kDISP_E_EXCEPTION; // as in registration: a Delete line carries no block
            // Below a missing key nothing touches the registry, so a failure there is a script
            // error: it is reported rather than read past from the middle of the broken block.
            if (Failed(hr = UnregisterBlock(key.Get(), bKeyMissing, nDepth + 1)) || Failed(hr = tok.Next()))
                return hr;
        }

        if (errorOpen == kErrorFileNotFound)
            continue;
        if (errorOpen != kErrorSuccess) {
            if (bParentMissing)
                continue;
            return HResultFromWin32(errorOpen);
        }
        long error = key.Close();
        if (error != kErrorSuccess)
            return HResultFromWin32(error);
        if (bRemove) {
            error = m_platform.DeleteKey(hKey, szKey);
            if (error != kErrorSuccess)
                return HResultFromWin32(error);
        }
    }
    return kS_OK;
}

HResult CRegistrar::SetValueFromScript(RegKey hKey, const wchar_t* pszValueName) noexcept
{
    CScriptTokenizer& tok = m_tokenizer;
    HResult hr = tok.Next();
    if (Failed(hr))
        return hr;
    wchar_t chType = L'\0';
    for (wchar_t ch : {L'S', L'M', L'D', L'B'}) {
        const wchar_t szType[2] = {ch, L'\0'};
        if (tok.IsNoCase(szType))
            chType = ch;
    }
    if (chType == L'\0')
        return kDISP_E_EXCEPTION;
    if (Failed(hr = tok.Next()))
        return hr;

    const wchar_t* pszText = tok.Token();
    const std::size_t cchText = tok.Length();
    long error = kErrorSuccess;
    switch (chType) {
    case L'S':
        error = m_platform.SetValue(hKey, pszValueName, kRegSz, pszText,
                                    static_cast<std::uint32_t>((cchText + 1) * sizeof(wchar_t)));
        break;
    case L'M': {
        // Each "\0" ends one string of the list; the list ends with one more NUL. The result is
        // never longer than the token plus its two closing NULs, which the buffer holds.
        std::size_t cch = 0;
        for (std::size_t i = 0; i < cchText; ++i) {
            if (pszText[i] == L'\\' && i + 1 < cchText && pszText[i + 1] == L'0') {
                m_szValue[cch++] = L'\0';
                ++i;
            } else {
                m_szValue[cch++] = pszText[i];
            }
        }
        m_szValue[cch++] = L'\0';
        m_szValue[cch++] = L'\0';
        error = m_platform.SetValue(hKey, pszValueName, kRegMultiSz, m_szValue,
                                    static_cast<std::uint32_t>(cch * sizeof(wchar_t)));
        break;
    }
    case L'D': {
        std::uint32_t dwValue = 0;
        if (Failed(hr = m_platform.ParseUI4(pszText, &dwValue)))
            return hr;
        error = m_platform.SetValue(hKey, pszValueName, kRegDword, &dwValue, sizeof dwValue);
        break;
    }
    default: { // 'B'
        if (cchText % 2 != 0)
            return kE_FAIL;
        unsigned char* pb = reinterpret_cast<unsigned char*>(m_szValue);
        for (std::size_t i = 0; i < cchText / 2; ++i)
            pb[i] = static_cast<unsigned char>(HexDigit(pszText[2 * i]) << 4 | HexDigit(pszText[2 * i + 1]));
        error = m_platform.SetValue(hKey, pszValueName, kRegBinary, pb, static_cast<std::uint32_t>(cchText / 2));
        break;
    }
    }
    if (error != kErrorSuccess)
        return HResultFromWin32(error);
    return tok.Next();
}

// After an "=": drops the type and the value and reads the token that follows them.
HResult CRegistrar::SkipAssignment() noexcept
{
    HResult hr;
    if (Failed(hr = m_tokenizer.Next()) || Failed(hr = m_tokenizer.Next()))
        return hr;
    return m_tokenizer.Next();
}

// A key line names one key below the current one. An empty name would stand for the current key
// itself and a backslash would reach past the script's tree, so both are refused.
HResult CRegistrar::CheckKeyName() const noexcept
{
    const wchar_t* pszName = m_tokenizer.Token();
    if (pszName[0] == L'\0' || std::wcschr(pszName, L'\\') != nullptr)
        return kDISP_E_EXCEPTION;
    return kS_OK;
}

// Reads the first token of a block (the nesting was checked beforehand; this is the safety net).
HResult CRegistrar::EnterBlock(unsigned nDepth) noexcept
{
    return nDepth >= kMaxNesting ? kDISP_E_EXCEPTION : m_tokenizer.Next();
}

// After "Val": reads the value name (at most kNameBufferChars - 1 characters) and the "=" after it.
HResult CRegistrar::ReadValueName(wchar_t (&szName)[kNameBufferChars]) noexcept
{
    HResult hr = m_tokenizer.Next();
    if (Failed(hr))
        return hr;
    if (m_tokenizer.Length() >= kNameBufferChars)
        return kDISP_E_EXCEPTION;
    std::copy(m_tokenizer.Token(), m_tokenizer.Token() + m_tokenizer.Length() + 1, szName);
    if (Failed(hr = m_tokenizer.Next()))
        return hr;
    return m_tokenizer.BeginsWith(L'=') ? kS_OK : kDISP_E_EXCEPTION;
}

// Depth first. Stops at a subkey that will not go, which would otherwise come back first in every
// enumeration; the key's own deletion then answers the failure.
long DeleteKeyTree(IRegistryPlatform& platform, RegKey hParent, const wchar_t* pszName, unsigned nDepth) noexcept
{
    {
        CPlatformKey key(platform);
        if (nDepth < CRegistrar::kMaxNesting &&
            platform.OpenKey(hParent, pszName, kKeyReadWrite, key.Put()) == kErrorSuccess) {
            for (;;) {
                wchar_t szSubkey[kSubkeyNameChars];
                std::uint32_t cchSubkey = kSubkeyNameChars;
                if (platform.EnumKey(key.Get(), 0, szSubkey, &cchSubkey) != kErrorSuccess ||
                    cchSubkey >= kSubkeyNameChars)
                    break;
                szSubkey[cchSubkey] = L'\0';
                if (DeleteKeyTree(platform, key.Get(), szSubkey, nDepth + 1) != kErrorSuccess)
                    break;
            }
        }
    }
    return platform.DeleteKey(hParent, pszName);
}

bool CRegistrar::IsNeverDeleted(const wchar_t* pszName, std::size_t cchName) noexcept
{
    return std::any_of(std::begin(kNeverDelete), std::end(kNeverDelete), [&](const wchar_t* pszKept) {
        return CScriptTokenizer::EqualsNoCase(pszName, cchName, pszKept);
    });
}
