#include "ClassesRegistryView.h"

#include "ScriptTokenizer.h"

#include <new>

using namespace kv;

namespace {
// Below HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER.
const wchar_t kClasses[] = L"Software\\Classes";

bool IsClassesRoot(RegKey key)
{
    return key == RootKey(RegRoot::ClassesRoot);
}
} // namespace

CClassesRegistryView::CClassesRegistryView(IRegistrarPlatform& inner, bool bPerUser, bool bKeepSharedKeys)
    : m_inner(inner), m_bPerUser(bPerUser), m_bKeepShared(bKeepSharedKeys)
{
}

bool CClassesRegistryView::IsSharedBetweenBitnesses(const std::wstring& path)
{
    // The subtrees of the classes root that WOW64 keeps once per bitness (Windows 7 and later).
    static const wchar_t* const kRedirected[] = {L"CLSID", L"Interface", L"DirectShow", L"Media Type",
                                                 L"MediaFoundation"};
    const std::size_t cchFirst = path.find(L'\\') == std::wstring::npos ? path.size() : path.find(L'\\');
    if (cchFirst == 0)
        return false; // the classes root itself is never removed
    for (const wchar_t* pszRedirected : kRedirected)
        if (CScriptTokenizer::EqualsNoCase(path.c_str(), cchFirst, pszRedirected))
            return false;
    return true;
}

RegKey CClassesRegistryView::Parent(RegKey parent, const wchar_t* name, std::wstring& innerName) const
{
    innerName = name != nullptr ? name : L"";
    if (!IsClassesRoot(parent))
        return parent;
    innerName = innerName.empty() ? std::wstring(kClasses) : std::wstring(kClasses) + L"\\" + innerName;
    return RootKey(m_bPerUser ? RegRoot::CurrentUser : RegRoot::LocalMachine);
}

bool CClassesRegistryView::PathBelowClasses(RegKey parent, const wchar_t* name, std::wstring& path) const
{
    const std::wstring strName = name != nullptr ? name : L"";
    if (IsClassesRoot(parent)) {
        path = strName;
        return true;
    }
    const auto it = m_paths.find(parent);
    if (it == m_paths.end())
        return false;
    path = strName.empty() ? it->second : it->second.empty() ? strName : it->second + L"\\" + strName;
    return true;
}

void CClassesRegistryView::Remember(RegKey parent, const wchar_t* name, RegKey key)
{
    std::wstring path;
    if (PathBelowClasses(parent, name, path))
        m_paths[key] = path;
}

long CClassesRegistryView::OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result)
{
    return OpenOrCreate(false, parent, name, access, result);
}

long CClassesRegistryView::CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result)
{
    return OpenOrCreate(true, parent, name, access, result);
}

long CClassesRegistryView::OpenOrCreate(bool bCreate, RegKey parent, const wchar_t* name,
                                        std::uint32_t access, RegKey* result)
{
    try {
        std::wstring innerName;
        const RegKey innerParent = Parent(parent, name, innerName);
        const long error = bCreate ? m_inner.CreateKey(innerParent, innerName.c_str(), access, result)
                                   : m_inner.OpenKey(innerParent, innerName.c_str(), access, result);
        if (error == kErrorSuccess)
            Remember(parent, name, *result);
        return error;
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
}

long CClassesRegistryView::SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                                    std::uint32_t cbData)
{
    return m_inner.SetValue(key, name, type, data, cbData);
}

long CClassesRegistryView::DeleteValue(RegKey key, const wchar_t* name)
{
    try {
        std::wstring path;
        if (m_bKeepShared && PathBelowClasses(key, nullptr, path) && IsSharedBetweenBitnesses(path))
            return kErrorSuccess;
        return m_inner.DeleteValue(key, name);
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
}

long CClassesRegistryView::DeleteKey(RegKey parent, const wchar_t* name)
{
    try {
        std::wstring path;
        if (m_bKeepShared && PathBelowClasses(parent, name, path) && IsSharedBetweenBitnesses(path))
            return kErrorSuccess;
        std::wstring innerName;
        const RegKey innerParent = Parent(parent, name, innerName);
        return m_inner.DeleteKey(innerParent, innerName.c_str());
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
}

long CClassesRegistryView::QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                                      std::uint32_t* cbData)
{
    return m_inner.QueryValue(key, name, type, data, cbData);
}

long CClassesRegistryView::EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName)
{
    return m_inner.EnumKey(key, index, name, cchName);
}

long CClassesRegistryView::CloseKey(RegKey key)
{
    m_paths.erase(key);
    return m_inner.CloseKey(key);
}

HResult CClassesRegistryView::LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId,
                                                const wchar_t* resourceType, std::string& bytes)
{
    return m_inner.LoadResourceBytes(moduleFileName, resourceId, resourceType, bytes);
}

HResult CClassesRegistryView::ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide,
                                            std::size_t cchWide, std::size_t* pcchWritten)
{
    return m_inner.ConvertToWide(text, cbText, wide, cchWide, pcchWritten);
}

HResult CClassesRegistryView::ParseUI4(const wchar_t* text, std::uint32_t* value)
{
    return m_inner.ParseUI4(text, value);
}
