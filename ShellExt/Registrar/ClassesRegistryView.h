#pragma once
// The registry as a class registration sees it: scripts name the classes root (HKCR), which this
// view points either at the machine's classes (HKEY_LOCAL_MACHINE\Software\Classes) or at the
// current user's (HKEY_CURRENT_USER\Software\Classes, where a user without administrator rights
// registers). Never at HKCR itself: a value written there goes to the user's classes wherever the
// user already has the key ("HKEY_CLASSES_ROOT Key"), so a machine-wide registration after a
// per-user one would land, and be removed, in that user's classes only. It
// can also keep the keys that both bitnesses share: on 64-bit Windows only a few subtrees of the
// classes root (CLSID, Interface and some media keys) have a 32-bit and a 64-bit copy; all other
// keys ("*\ShellEx\..." among them) are one key for both ("Registry Keys Affected by WOW64").
// Unregistering one build while the other is still registered must not take those away.
//
// Includes no Windows header: it wraps another IRegistrarPlatform, so the registrar's walks, its
// rollback and its never-delete rules run unchanged in either place.
#include "RegistryPlatform.h"

#include <map>
#include <string>

class CClassesRegistryView : public IRegistrarPlatform {
public:
    CClassesRegistryView(IRegistrarPlatform& inner, bool bPerUser, bool bKeepSharedKeys);
    CClassesRegistryView(const CClassesRegistryView&) = delete;
    CClassesRegistryView& operator=(const CClassesRegistryView&) = delete;

    long OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override;
    long CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override;
    long SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                  std::uint32_t cbData) override;
    // A kept key or value answers success untouched, as a NoRemove line would leave it.
    long DeleteValue(RegKey key, const wchar_t* name) override;
    long QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                    std::uint32_t* cbData) override;
    long DeleteKey(RegKey parent, const wchar_t* name) override;
    long EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName) override;
    long CloseKey(RegKey key) override;

    HResult LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId, const wchar_t* resourceType,
                              std::string& bytes) override;
    HResult ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide, std::size_t cchWide,
                          std::size_t* pcchWritten) override;
    HResult ParseUI4(const wchar_t* text, std::uint32_t* value) override;

    // True for a path below the classes root (no leading backslash) that is one key for both bitnesses.
    static bool IsSharedBetweenBitnesses(const std::wstring& path);

private:
    // The key a script's (parent, name) pair stands for, in the inner registry.
    RegKey Parent(RegKey parent, const wchar_t* name, std::wstring& innerName) const;
    // The path below the classes root of parent\name, if parent is known to lie below it.
    bool PathBelowClasses(RegKey parent, const wchar_t* name, std::wstring& path) const;
    void Remember(RegKey parent, const wchar_t* name, RegKey key);
    long OpenOrCreate(bool bCreate, RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result);

    IRegistrarPlatform& m_inner;
    const bool m_bPerUser;
    const bool m_bKeepShared;
    std::map<RegKey, std::wstring> m_paths; // open keys below the classes root, by handle
};
