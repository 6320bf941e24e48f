#pragma once
// A selection whose items answer from memory, as Explorer's do from what their folder listed:
// each item's path and SFGAO attributes are given, nothing exists on disk, and the array counts
// the questions its items get, so a test sees how many walks a menu made.
#include <windows.h>
#include <shobjidl.h>
#include <string>
#include <vector>
#include "ComSupport.h"

struct ItemInMemory {
    std::wstring path; // its SIGDN_FILESYSPATH, for items with SFGAO_FILESYSTEM
    SFGAOF attributes;
};

constexpr SFGAOF kFileItem = SFGAO_FILESYSTEM | SFGAO_STREAM;
constexpr SFGAOF kFolderItem = SFGAO_FILESYSTEM | SFGAO_FOLDER;
constexpr SFGAOF kZipItem = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_STREAM; // a file shown as a folder
constexpr SFGAOF kVirtualItem = SFGAO_FOLDER;                               // the Computer folder

// Counted: a command may hold the array after the test is done with it.
class CShellItemArrayDouble final : public IShellItemArray {
public:
    explicit CShellItemArrayDouble(std::vector<ItemInMemory> items) : m_items(std::move(items)) {}
    static CUniqueInterface<CShellItemArrayDouble> Make(std::vector<ItemInMemory> items);

    ULONG ItemQueries() const { return m_nItemQueries; }
    // Whether an item was asked to check its attributes against the file system (SFGAO_VALIDATE).
    bool AskedToValidate() const { return m_bAskedToValidate; }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF*) override { return E_NOTIMPL; }
    STDMETHODIMP GetCount(DWORD* pdwNumItems) override;
    STDMETHODIMP GetItemAt(DWORD dwIndex, IShellItem** ppsi) override;
    STDMETHODIMP EnumItems(IEnumShellItems**) override { return E_NOTIMPL; }

private:
    friend class CItemDouble;
    ULONG m_cRef = 1;
    std::vector<ItemInMemory> m_items;
    ULONG m_nItemQueries = 0;
    bool m_bAskedToValidate = false;
};
