#pragma once
// An in-memory registry behind the registrar's platform interface, for tests in both builds. It
// behaves as the registry does where callers rely on it: names match in any letter case, a missing
// key answers error 2, a key with subkeys refuses a single-key delete, handles keep their access
// rights, paths with backslashes open nested keys, and every predefined root exists. Resources are
// planted by the test; 8-bit text decodes as Latin-1. Not thread-safe.
#include "RegistryPlatform.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

class CMemoryRegistry : public IRegistrarPlatform {
public:
    struct Value {
        std::uint32_t type = 0;
        std::string bytes;
        bool operator==(const Value& other) const { return type == other.type && bytes == other.bytes; }
    };

    CMemoryRegistry();
    ~CMemoryRegistry() override;
    CMemoryRegistry(const CMemoryRegistry&) = delete;
    CMemoryRegistry& operator=(const CMemoryRegistry&) = delete;

    // IRegistryPlatform
    long OpenKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override;
    long CreateKey(RegKey parent, const wchar_t* name, std::uint32_t access, RegKey* result) override;
    long SetValue(RegKey key, const wchar_t* name, std::uint32_t type, const void* data,
                  std::uint32_t cbData) override;
    long DeleteValue(RegKey key, const wchar_t* name) override;
    long QueryValue(RegKey key, const wchar_t* name, std::uint32_t* type, void* data,
                    std::uint32_t* cbData) override;
    long DeleteKey(RegKey parent, const wchar_t* name) override;
    long EnumKey(RegKey key, std::uint32_t index, wchar_t* name, std::uint32_t* cchName) override;
    long CloseKey(RegKey key) override;

    // IRegistrarPlatform
    HResult LoadResourceBytes(const wchar_t* moduleFileName, unsigned resourceId, const wchar_t* resourceType,
                              std::string& bytes) override;
    HResult ConvertToWide(const char* text, std::size_t cbText, wchar_t* wide, std::size_t cchWide,
                          std::size_t* pcchWritten) override;
    HResult ParseUI4(const wchar_t* text, std::uint32_t* value) override;

    // Set-up by the test.
    void AddResource(const std::wstring& module, unsigned id, const std::wstring& type, std::string bytes);
    void CreatePath(kv::RegRoot root, const std::wstring& path);
    void SetString(kv::RegRoot root, const std::wstring& path, const std::wstring& name, const std::wstring& text);
    // Opening the key (or a key below it) with write access, or creating keys below it, is then
    // refused with error 5, as for a key whose security allows reading only.
    void DenyWrite(kv::RegRoot root, const std::wstring& path);

    // Inspection; paths are relative to the root, components separated by backslashes, and an
    // empty name is the default value.
    bool KeyExists(kv::RegRoot root, const std::wstring& path) const;
    std::vector<std::wstring> SubKeys(kv::RegRoot root, const std::wstring& path) const;
    std::vector<std::wstring> ValueNames(kv::RegRoot root, const std::wstring& path) const;
    std::optional<Value> GetValue(kv::RegRoot root, const std::wstring& path, const std::wstring& name) const;
    // A REG_SZ value's text without its terminator; nothing for a missing value or another type.
    std::optional<std::wstring> GetString(kv::RegRoot root, const std::wstring& path,
                                          const std::wstring& name) const;
    // Every key and value of every root, one per line, in a fixed order: equal registries give
    // equal dumps. Names as created, sorted without regard to case; values as type and hex bytes.
    std::string Dump() const;
    std::size_t OpenHandleCount() const { return m_handles.size(); }

    // The bytes a REG_SZ value of this text holds (with its terminator), for comparisons.
    static std::string StringBytes(const std::wstring& text);

private:
    struct NoCaseLess {
        bool operator()(const std::wstring& a, const std::wstring& b) const;
    };
    struct Node {
        std::wstring name;
        std::map<std::wstring, std::shared_ptr<Node>, NoCaseLess> subkeys;
        std::map<std::wstring, Value, NoCaseLess> values;
        Node* parent = nullptr;
        bool bDeleted = false;
        bool bDenyWrite = false;
    };
    struct Handle {
        std::shared_ptr<Node> node;
        std::uint32_t access = 0;
    };

    long Resolve(RegKey key, Handle& handle) const;
    std::shared_ptr<Node> Find(const std::shared_ptr<Node>& from, const wchar_t* path) const;
    const Node* FindConst(kv::RegRoot root, const std::wstring& path) const;
    static bool WriteDenied(const Node* node);
    RegKey NewHandle(std::shared_ptr<Node> node, std::uint32_t access);
    static void DumpNode(const Node& node, const std::string& path, std::string& out);

    std::map<std::uint32_t, std::shared_ptr<Node>> m_roots;
    std::map<std::uintptr_t, Handle> m_handles;
    std::uintptr_t m_nextHandle = 0x10000;
    std::map<std::tuple<std::wstring, unsigned, std::wstring>, std::string> m_resources;
};
