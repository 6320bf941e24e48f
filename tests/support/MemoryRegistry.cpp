#include "MemoryRegistry.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <iterator>

using namespace kv;

namespace {
constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorModNotFound = 126;
constexpr long kErrorResourceTypeNotFound = 1813;
constexpr long kErrorResourceNameNotFound = 1814;
constexpr long kErrorKeyDeleted = 1018;
constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
constexpr std::uint32_t kKeyEnumerateSubKeys = 0x0008;
constexpr std::uint32_t kKeyAllAccess = 0xF003F;
constexpr std::uint32_t kWriteRights = kKeySetValue | kKeyCreateSubKey;

constexpr struct {
    RegRoot root;
    const char* pszName;
} kRoots[] = {
    {RegRoot::ClassesRoot, "HKEY_CLASSES_ROOT"},         {RegRoot::CurrentUser, "HKEY_CURRENT_USER"},
    {RegRoot::LocalMachine, "HKEY_LOCAL_MACHINE"},       {RegRoot::Users, "HKEY_USERS"},
    {RegRoot::PerformanceData, "HKEY_PERFORMANCE_DATA"}, {RegRoot::CurrentConfig, "HKEY_CURRENT_CONFIG"},
    {RegRoot::DynData, "HKEY_DYN_DATA"},
};

std::wstring Lower(const std::wstring& text)
{
    std::wstring lower(text);
    for (wchar_t& ch : lower)
        ch = static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(ch)));
    return lower;
}

std::vector<std::wstring> SplitPath(const wchar_t* path)
{
    std::vector<std::wstring> parts;
    std::wstring part;
    for (const wchar_t* pch = path != nullptr ? path : L""; *pch != L'\0'; ++pch) {
        if (*pch == L'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += *pch;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::string Narrow(const std::wstring& text)
{
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (wchar_t ch : text) {
        const auto code = static_cast<std::uint32_t>(ch);
        if (code >= 0x20 && code < 0x7F && ch != L'\\') {
            out += static_cast<char>(ch);
        } else {
            out += "\\x{";
            for (int shift = 28; shift >= 0; shift -= 4)
                if ((code >> shift) != 0 || shift == 0)
                    out += kHex[(code >> shift) & 0xF];
            out += '}';
        }
    }
    return out;
}

std::wstring ValueKey(const wchar_t* name) { return name != nullptr ? name : L""; }
} // namespace

bool CMemoryRegistry::NoCaseLess::operator()(const std::wstring& a, const std::wstring& b) const
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](wchar_t x, wchar_t y) {
        return std::towlower(static_cast<std::wint_t>(x)) < std::towlower(static_cast<std::wint_t>(y));
    });
}

CMemoryRegistry::CMemoryRegistry()
{
    for (const auto& root : kRoots) {
        auto node = std::make_shared<Node>();
        node->name.assign(root.pszName, root.pszName + std::strlen(root.pszName));
        m_roots[static_cast<std::uint32_t>(root.root)] = node;
    }
}

CMemoryRegistry::~CMemoryRegistry() = default;

long CMemoryRegistry::Resolve(RegKey key, Handle& handle) const
{
    const auto value = reinterpret_cast<std::uintptr_t>(key);
    const auto root = m_roots.find(static_cast<std::uint32_t>(value));
    if (value <= 0xFFFFFFFFu && root != m_roots.end()) {
        handle = Handle{root->second, kKeyAllAccess};
        return kErrorSuccess;
    }
    const auto it = m_handles.find(value);
    if (it == m_handles.end())
        return kErrorInvalidHandle;
    if (it->second.node->bDeleted)
        return kErrorKeyDeleted;
    handle = it->second;
    return kErrorSuccess;
}

std::shared_ptr<CMemoryRegistry::Node> CMemoryRegistry::Find(const std::shared_ptr<Node>& from,
                                                             const wchar_t* path) const
{
    std::shared_ptr<Node> node = from;
    for (const std::wstring& part : SplitPath(path)) {
        const auto it = node->subkeys.find(part);
        if (it == node->subkeys.end())
            return nullptr;
        node = it->second;
    }
    return node;
}

bool CMemoryRegistry::WriteDenied(const Node* node)
{
    for (; node != nullptr; node = node->parent)
        if (node->bDenyWrite)
            return true;
    return false;
}

RegKey CMemoryRegistry::NewHandle(std::shared_ptr<Node> node, std::uint32_t access)
{
    const std::uintptr_t value = m_nextHandle;
    m_nextHandle += 4;
    m_handles[value] = Handle{std::move(node), access};
    return reinterpret_cast<RegKey>(value);
}

long CMemoryRegistry::OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result)
{
    *result = nullptr;
    Handle handle;
    if (long error = Resolve(parent, handle))
        return error;
    std::shared_ptr<Node> node = Find(handle.node, name);
    if (!node)
        return kErrorFileNotFound;
    if ((access & kWriteRights) != 0 && WriteDenied(node.get()))
        return kErrorAccessDenied;
    *result = NewHandle(node, access);
    return kErrorSuccess;
}

long CMemoryRegistry::CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result)
{
    *result = nullptr;
    Handle handle;
    if (long error = Resolve(parent, handle))
        return error;
    std::shared_ptr<Node> node = handle.node;
    bool bCreating = false;
    for (const std::wstring& part : SplitPath(name)) {
        auto it = node->subkeys.find(part);
        if (it == node->subkeys.end()) {
            if ((!bCreating && (handle.access & kKeyCreateSubKey) == 0) || WriteDenied(node.get()))
                return kErrorAccessDenied;
            bCreating = true;
            auto child = std::make_shared<Node>();
            child->name = part;
            child->parent = node.get();
            it = node->subkeys.emplace(part, child).first;
        }
        node = it->second;
    }
    if ((access & kWriteRights) != 0 && WriteDenied(node.get()))
        return kErrorAccessDenied;
    *result = NewHandle(node, access);
    return kErrorSuccess;
}

long CMemoryRegistry::SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                               std::uint32_t cbData)
{
    Handle handle;
    if (long error = Resolve(key, handle))
        return error;
    if ((handle.access & kKeySetValue) == 0)
        return kErrorAccessDenied;
    if (data == nullptr && cbData != 0)
        return kErrorInvalidParameter;
    Value& value = handle.node->values[ValueKey(name)];
    value.type = type;
    value.bytes.assign(static_cast<const char*>(data), cbData);
    return kErrorSuccess;
}

long CMemoryRegistry::QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                                 std::uint32_t* cbData)
{
    Handle handle;
    if (long error = Resolve(key, handle))
        return error;
    if ((handle.access & kKeyQueryValue) == 0)
        return kErrorAccessDenied;
    const auto it = handle.node->values.find(ValueKey(name));
    if (it == handle.node->values.end())
        return kErrorFileNotFound;
    const std::uint32_t cbRoom = *cbData;
    *type = it->second.type;
    *cbData = static_cast<std::uint32_t>(it->second.bytes.size());
    if (it->second.bytes.size() > cbRoom)
        return kErrorMoreData;
    std::copy(it->second.bytes.begin(), it->second.bytes.end(), static_cast<char*>(data));
    return kErrorSuccess;
}

long CMemoryRegistry::DeleteValue(RegKey key, const wchar_t* name)
{
    Handle handle;
    if (long error = Resolve(key, handle))
        return error;
    if ((handle.access & kKeySetValue) == 0)
        return kErrorAccessDenied;
    return handle.node->values.erase(ValueKey(name)) != 0 ? kErrorSuccess : kErrorFileNotFound;
}

long CMemoryRegistry::DeleteKey(RegKey parent, const wchar_t* name)
{
    Handle handle;
    if (long error = Resolve(parent, handle))
        return error;
    if (SplitPath(name).empty())
        return kErrorInvalidParameter;
    std::shared_ptr<Node> node = Find(handle.node, name);
    if (!node)
        return kErrorFileNotFound;
    if (!node->subkeys.empty() || WriteDenied(node.get()))
        return kErrorAccessDenied;
    node->bDeleted = true;
    node->parent->subkeys.erase(node->name);
    node->parent = nullptr;
    return kErrorSuccess;
}

long CMemoryRegistry::EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName)
{
    Handle handle;
    if (long error = Resolve(key, handle))
        return error;
    if ((handle.access & kKeyEnumerateSubKeys) == 0)
        return kErrorAccessDenied;
    if (index >= handle.node->subkeys.size())
        return kErrorNoMoreItems;
    const std::wstring& subkey = std::next(handle.node->subkeys.begin(), index)->second->name;
    if (subkey.size() >= *cchName)
        return kErrorMoreData;
    std::copy(subkey.begin(), subkey.end(), name);
    name[subkey.size()] = L'\0';
    *cchName = static_cast<std::uint32_t>(subkey.size());
    return kErrorSuccess;
}

long CMemoryRegistry::CloseKey(RegKey key)
{
    const auto value = reinterpret_cast<std::uintptr_t>(key);
    if (value <= 0xFFFFFFFFu && m_roots.count(static_cast<std::uint32_t>(value)) != 0)
        return kErrorSuccess;
    return m_handles.erase(value) != 0 ? kErrorSuccess : kErrorInvalidHandle;
}

HResult CMemoryRegistry::LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId,
                                           const wchar_t* resourceType, std::string& bytes)
{
    const std::wstring module = Lower(moduleFileName != nullptr ? moduleFileName : L"");
    const std::wstring type = Lower(resourceType != nullptr ? resourceType : L"");
    bool bModule = false;
    bool bType = false;
    for (const auto& entry : m_resources) {
        if (std::get<0>(entry.first) == module) {
            bModule = true;
            bType = bType || std::get<2>(entry.first) == type;
        }
    }
    const auto it = m_resources.find(std::make_tuple(module, resourceId, type));
    if (it == m_resources.end())
        return HResultFromWin32(!bModule ? kErrorModNotFound
                                         : !bType ? kErrorResourceTypeNotFound : kErrorResourceNameNotFound);
    bytes = it->second;
    return kS_OK;
}

HResult CMemoryRegistry::ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide, std::size_t cchWide,
                                       std::size_t* pcchWritten)
{
    *pcchWritten = 0;
    if (cbText == 0)
        return HResultFromWin32(kErrorInvalidParameter);
    if (cbText > cchWide)
        return HResultFromWin32(kErrorInsufficientBuffer);
    for (std::size_t i = 0; i < cbText; ++i)
        wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(text[i]));
    *pcchWritten = cbText;
    return kS_OK;
}

// Decimal digits, or hexadecimal after "&H", with blanks around them; like VarUI4FromStr, text that
// is no number is a type mismatch and a number past 32 bits an overflow.
HResult CMemoryRegistry::ParseUI4(const wchar_t* text, std::uint32_t* value)
{
    *value = 0;
    const wchar_t* pch = text;
    while (*pch == L' ' || *pch == L'\t')
        ++pch;
    unsigned base = 10;
    if (pch[0] == L'&' && (pch[1] == L'H' || pch[1] == L'h')) {
        base = 16;
        pch += 2;
    } else if (*pch == L'+') {
        ++pch;
    }
    std::uint64_t result = 0;
    bool bDigits = false;
    for (;; ++pch) {
        unsigned digit;
        if (*pch >= L'0' && *pch <= L'9')
            digit = static_cast<unsigned>(*pch - L'0');
        else if (base == 16 && *pch >= L'a' && *pch <= L'f')
            digit = static_cast<unsigned>(*pch - L'a' + 10);
        else if (base == 16 && *pch >= L'A' && *pch <= L'F')
            digit = static_cast<unsigned>(*pch - L'A' + 10);
        else
            break;
        bDigits = true;
        result = result * base + digit;
        if (result > 0xFFFFFFFFu)
            return kDISP_E_OVERFLOW;
    }
    while (*pch == L' ' || *pch == L'\t')
        ++pch;
    if (!bDigits || *pch != L'\0')
        return kDISP_E_TYPEMISMATCH;
    *value = static_cast<std::uint32_t>(result);
    return kS_OK;
}

void CMemoryRegistry::AddResource(const std::wstring& module, unsigned id, const std::wstring& type, std::string bytes)
{
    m_resources[std::make_tuple(Lower(module), id, Lower(type))] = std::move(bytes);
}

void CMemoryRegistry::CreatePath(RegRoot root, const std::wstring& path)
{
    RegKey hKey = nullptr;
    if (CreateKey(RootKey(root), path.c_str(), kKeyRead, &hKey) == kErrorSuccess)
        CloseKey(hKey);
}

void CMemoryRegistry::SetString(RegRoot root, const std::wstring& path, const std::wstring& name,
                                const std::wstring& text)
{
    RegKey hKey = nullptr;
    if (CreateKey(RootKey(root), path.c_str(), kKeyAllAccess, &hKey) != kErrorSuccess)
        return;
    SetValue(hKey, name.c_str(), kRegSz, text.c_str(), static_cast<std::uint32_t>((text.size() + 1) * sizeof(wchar_t)));
    CloseKey(hKey);
}

void CMemoryRegistry::DenyWrite(RegRoot root, const std::wstring& path)
{
    CreatePath(root, path);
    if (std::shared_ptr<Node> node = Find(m_roots.at(static_cast<std::uint32_t>(root)), path.c_str()))
        node->bDenyWrite = true;
}

const CMemoryRegistry::Node* CMemoryRegistry::FindConst(RegRoot root, const std::wstring& path) const
{
    return Find(m_roots.at(static_cast<std::uint32_t>(root)), path.c_str()).get();
}

bool CMemoryRegistry::KeyExists(RegRoot root, const std::wstring& path) const
{
    return FindConst(root, path) != nullptr;
}

std::vector<std::wstring> CMemoryRegistry::SubKeys(RegRoot root, const std::wstring& path) const
{
    std::vector<std::wstring> names;
    if (const Node* node = FindConst(root, path))
        for (const auto& entry : node->subkeys)
            names.push_back(entry.second->name);
    return names;
}

std::vector<std::wstring> CMemoryRegistry::ValueNames(RegRoot root, const std::wstring& path) const
{
    std::vector<std::wstring> names;
    if (const Node* node = FindConst(root, path))
        for (const auto& entry : node->values)
            names.push_back(entry.first);
    return names;
}

std::optional<CMemoryRegistry::Value> CMemoryRegistry::GetValue(RegRoot root, const std::wstring& path,
                                                                const std::wstring& name) const
{
    const Node* node = FindConst(root, path);
    if (node == nullptr)
        return std::nullopt;
    const auto it = node->values.find(name);
    if (it == node->values.end())
        return std::nullopt;
    return it->second;
}

std::optional<std::wstring> CMemoryRegistry::GetString(RegRoot root, const std::wstring& path,
                                                       const std::wstring& name) const
{
    const std::optional<Value> value = GetValue(root, path, name);
    if (!value || value->type != kRegSz || value->bytes.size() % sizeof(wchar_t) != 0)
        return std::nullopt;
    std::wstring text(value->bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(&text[0], value->bytes.data(), value->bytes.size());
    if (!text.empty() && text.back() == L'\0')
        text.pop_back();
    return text;
}

std::string CMemoryRegistry::StringBytes(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * sizeof(wchar_t));
}

std::string CMemoryRegistry::Dump() const
{
    std::string out;
    for (const auto& root : kRoots)
        DumpNode(*m_roots.at(static_cast<std::uint32_t>(root.root)), root.pszName, out);
    return out;
}

void CMemoryRegistry::DumpNode(const Node& node, const std::string& path, std::string& out)
{
    static const char kHex[] = "0123456789abcdef";
    out += path + "\n";
    for (const auto& entry : node.values) {
        out += "  " + (entry.first.empty() ? std::string("@") : "\"" + Narrow(entry.first) + "\"") + " = " +
               std::to_string(entry.second.type) + ":";
        for (unsigned char byte : entry.second.bytes) {
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        }
        out += "\n";
    }
    for (const auto& entry : node.subkeys)
        DumpNode(*entry.second, path + "\\" + Narrow(entry.second->name), out);
}
