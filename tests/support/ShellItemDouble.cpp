#include "ShellItemDouble.h"
#include <new>

class CItemDouble final : public IShellItem {
public:
    CItemDouble(CShellItemArrayDouble& array, const ItemInMemory& item) : m_array(array), m_item(item) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellItem) ? this : nullptr;
        if (!*ppv)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(::InterlockedIncrement(&m_cRef)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        LONG cRef = ::InterlockedDecrement(&m_cRef);
        if (cRef == 0)
            delete this;
        return static_cast<ULONG>(cRef);
    }

    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv) override { return Refuse(ppv); }
    STDMETHODIMP GetParent(IShellItem** ppsi) override { return Refuse(reinterpret_cast<void**>(ppsi)); }
    STDMETHODIMP GetDisplayName(SIGDN sigdnName, LPWSTR* ppszName) override
    {
        ++m_array.m_nItemQueries;
        *ppszName = nullptr;
        if (sigdnName != SIGDN_FILESYSPATH || !(m_item.attributes & SFGAO_FILESYSTEM))
            return E_INVALIDARG; // what the shell answers for an item outside the file system
        const size_t cb = (m_item.path.size() + 1) * sizeof(wchar_t);
        *ppszName = static_cast<LPWSTR>(::CoTaskMemAlloc(cb));
        if (!*ppszName)
            return E_OUTOFMEMORY;
        ::CopyMemory(*ppszName, m_item.path.c_str(), cb);
        return S_OK;
    }
    STDMETHODIMP GetAttributes(SFGAOF sfgaoMask, SFGAOF* psfgaoAttribs) override
    {
        ++m_array.m_nItemQueries;
        if (sfgaoMask & SFGAO_VALIDATE)
            m_array.m_bAskedToValidate = true;
        *psfgaoAttribs = m_item.attributes & sfgaoMask;
        return *psfgaoAttribs == sfgaoMask ? S_OK : S_FALSE;
    }
    STDMETHODIMP Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }

private:
    static HRESULT Refuse(void** ppv)
    {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }
    LONG m_cRef = 1;
    CShellItemArrayDouble& m_array;
    const ItemInMemory& m_item;
};

CShellItemArrayDouble::CShellItemArrayDouble(std::vector<ItemInMemory> items) : m_items(std::move(items)) {}

STDMETHODIMP CShellItemArrayDouble::QueryInterface(REFIID riid, void** ppv)
{
    if (!ppv)
        return E_POINTER;
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellItemArray) ? this : nullptr;
    return *ppv ? S_OK : E_NOINTERFACE;
}

STDMETHODIMP CShellItemArrayDouble::BindToHandler(IBindCtx*, REFGUID, REFIID, void** ppv)
{
    *ppv = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CShellItemArrayDouble::GetPropertyStore(GETPROPERTYSTOREFLAGS, REFIID, void** ppv)
{
    *ppv = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CShellItemArrayDouble::GetPropertyDescriptionList(REFPROPERTYKEY, REFIID, void** ppv)
{
    *ppv = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP CShellItemArrayDouble::GetAttributes(SIATTRIBFLAGS, SFGAOF, SFGAOF* psfgaoAttribs)
{
    *psfgaoAttribs = 0;
    return E_NOTIMPL;
}

STDMETHODIMP CShellItemArrayDouble::GetCount(DWORD* pdwNumItems)
{
    *pdwNumItems = static_cast<DWORD>(m_items.size());
    return S_OK;
}

STDMETHODIMP CShellItemArrayDouble::GetItemAt(DWORD dwIndex, IShellItem** ppsi)
{
    *ppsi = nullptr;
    if (dwIndex >= m_items.size())
        return E_INVALIDARG;
    *ppsi = new (std::nothrow) CItemDouble(*this, m_items[dwIndex]);
    return *ppsi ? S_OK : E_OUTOFMEMORY;
}

STDMETHODIMP CShellItemArrayDouble::EnumItems(IEnumShellItems** ppenumShellItems)
{
    *ppenumShellItems = nullptr;
    return E_NOTIMPL;
}
