#pragma once
// A selection whose items answer from memory, as Explorer's items do from what their folder read
// when it listed them: each item's path and SFGAO attributes are given, nothing exists on disk,
// and the array counts how often its items were asked, so a test sees how many walks a menu made.
#include <windows.h>
#include <shobjidl.h>
#include <string>
#include <vector>

struct ItemInMemory {
    std::wstring path; // its SIGDN_FILESYSPATH, for items with SFGAO_FILESYSTEM
    SFGAOF attributes;
};

// Attributes of the kinds of item a selection holds.
constexpr SFGAOF kFileItem = SFGAO_FILESYSTEM | SFGAO_STREAM;
constexpr SFGAOF kFolderItem = SFGAO_FILESYSTEM | SFGAO_FOLDER;
constexpr SFGAOF kZipItem = SFGAO_FILESYSTEM | SFGAO_FOLDER | SFGAO_STREAM; // a file shown as a folder
constexpr SFGAOF kVirtualItem = SFGAO_FOLDER;                               // the Computer folder, a library

class CShellItemArrayDouble final : public IShellItemArray {
public:
    explicit CShellItemArrayDouble(std::vector<ItemInMemory> items);

    // Items asked for their attributes or path since the array was made.
    ULONG ItemQueries() const { return m_nItemQueries; }
    // Whether any item was asked to check its attributes against the file system (SFGAO_VALIDATE).
    bool AskedToValidate() const { return m_bAskedToValidate; }

    // IUnknown: lives as long as the test's object; counting is not needed.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

    // IShellItemArray
    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv) override;
    STDMETHODIMP GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** ppv) override;
    STDMETHODIMP GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** ppv) override;
    STDMETHODIMP GetAttributes(SIATTRIBFLAGS dwAttribFlags, SFGAOF sfgaoMask, SFGAOF* psfgaoAttribs) override;
    STDMETHODIMP GetCount(DWORD* pdwNumItems) override;
    STDMETHODIMP GetItemAt(DWORD dwIndex, IShellItem** ppsi) override;
    STDMETHODIMP EnumItems(IEnumShellItems** ppenumShellItems) override;

private:
    friend class CItemDouble;
    std::vector<ItemInMemory> m_items;
    ULONG m_nItemQueries = 0;
    bool m_bAskedToValidate = false;
};
