#pragma once
// Runs a registry script (the text of a "REGISTRY" resource) in either direction: registration
// creates its keys and values, deleting ForceRemove keys first and rolling a failed root block back;
// unregistration removes what the script does not mark NoRemove and goes past keys already gone.
// %NAME% placeholders are replaced from the table filled by AddReplacement before the text is read.
//
// Includes no Windows header: the registry and the resource loading are reached through
// IRegistrarPlatform. A registrar serves one registration call on one thread; no method throws.
#include "RegistryPlatform.h"
#include "ScriptTokenizer.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class CRegistrar {
public:
    static constexpr std::size_t kMaxReplacementNameChars = 31;
    static constexpr std::size_t kNameBufferChars = 260; // "Val" names, key names kept for deleting
    // Blocks nested deeper than the registry itself allows are refused (DISP_E_EXCEPTION) rather
    // than walked until the stack runs out.
    static constexpr unsigned kMaxNesting = 512;

    explicit CRegistrar(IRegistrarPlatform& platform);
    CRegistrar(const CRegistrar&) = delete;
    CRegistrar& operator=(const CRegistrar&) = delete;

    // Appends (name, value) to the replacement table; the first pair with a name wins.
    // E_INVALIDARG for a null argument, E_OUTOFMEMORY if the copies cannot be made.
    HResult AddReplacement(const wchar_t* name, const wchar_t* value) noexcept;

    // Loads the script resource (id, type) from the module file, decodes it and runs it.
    HResult RegisterFromResource(const wchar_t* moduleFileName, unsigned resourceId,
                                 const wchar_t* resourceType, bool bRegister) noexcept;

    // Runs a script already in memory (NUL-terminated), replacement pass included: the same walk
    // that RegisterFromResource runs after decoding the resource.
    HResult RegisterText(const wchar_t* text, bool bRegister) noexcept;

private:
    HResult ReplaceNames(const wchar_t* text, std::wstring& result) const;
    const std::wstring* FindReplacement(const wchar_t* name, std::size_t cchName) const noexcept;
    bool NestingTooDeep() noexcept;
    HResult WalkRootBlocks(bool bRegister) noexcept;
    HResult RegisterBlock(RegKey hKey, unsigned nDepth) noexcept;
    HResult UnregisterBlock(RegKey hKey, bool bParentMissing, unsigned nDepth) noexcept;
    HResult SetValueFromScript(RegKey hKey, const wchar_t* pszValueName) noexcept;
    HResult SkipAssignment() noexcept;
    HResult CheckKeyName() const noexcept;
    HResult EnterBlock(unsigned nDepth) noexcept;
    HResult ReadValueName(wchar_t (&szName)[kNameBufferChars]) noexcept;
    static bool IsNeverDeleted(const wchar_t* pszName, std::size_t cchName) noexcept;

    IRegistrarPlatform& m_platform;
    std::vector<std::pair<std::wstring, std::wstring>> m_replacements;
    CScriptTokenizer m_tokenizer;
    wchar_t m_szValue[CScriptTokenizer::kTokenBufferChars] = {};
};

// Deletes a key with everything below it. Answers the key's own deletion: kErrorFileNotFound when it
// was not there.
long DeleteKeyTree(IRegistryPlatform& platform, RegKey hParent, const wchar_t* pszName,
                   unsigned nDepth = 0) noexcept;
