#include "ShellItemDouble.h"
#include <shlwapi.h>
#include <new>

class CItemDouble final : public IShellItem {
public:
    CItemDouble(CShellItemArrayDouble& array, const ItemInMemory& item) : m_array(array), m_item(item)
    {
        m_array.AddRef();
    }
    ~CItemDouble() { m_array.Release(); }

    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellItem) ? this : nullptr;
        return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++m_cRef; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG cRef = --m_cRef;
        if (cRef == 0)
            delete this;
        return cRef;
    }
    STDMETHODIMP BindToHandler(IBindCtx*, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP GetParent(IShellItem**) override { return E_NOTIMPL; }
    STDMETHODIMP GetDisplayName(SIGDN sigdnName, LPWSTR* ppszName) override
    {
        ++m_array.m_nItemQueries;
        *ppszName = nullptr;
        if (sigdnName != SIGDN_FILESYSPATH || !(m_item.attributes & SFGAO_FILESYSTEM))
            return E_INVALIDARG; // what the shell answers for an item outside the file system
        return ::SHStrDupW(m_item.path.c_str(), ppszName);
    }
    STDMETHODIMP GetAttributes(SFGAOF sfgaoMask, SFGAOF* psfgaoAttribs) override
    {
        ++m_array.m_nItemQueries;
        m_array.m_bAskedToValidate |= (sfgaoMask & SFGAO_VALIDATE) != 0;
        *psfgaoAttribs = m_item.attributes & sfgaoMask;
        return *psfgaoAttribs == sfgaoMask ? S_OK : S_FALSE;
    }
    STDMETHODIMP Compare(IShellItem*, SICHINTF, int*) override { return E_NOTIMPL; }

private:
    ULONG m_cRef = 1;
    CShellItemArrayDouble& m_array;
    const ItemInMemory& m_item;
};

CUniqueInterface<CShellItemArrayDouble> CShellItemArrayDouble::Make(std::vector<ItemInMemory> items)
{
    CUniqueInterface<CShellItemArrayDouble> pArray;
    *pArray.Put() = new CShellItemArrayDouble(std::move(items));
    return pArray;
}

STDMETHODIMP_(ULONG) CShellItemArrayDouble::Release()
{
    const ULONG cRef = --m_cRef;
    if (cRef == 0)
        delete this;
    return cRef;
}

STDMETHODIMP CShellItemArrayDouble::QueryInterface(REFIID riid, void** ppv)
{
    *ppv = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IShellItemArray) ? this : nullptr;
    return *ppv ? (AddRef(), S_OK) : E_NOINTERFACE;
}

STDMETHODIMP CShellItemArrayDouble::GetCount(DWORD* pdwNumItems)
{
    *pdwNumItems = static_cast<DWORD>(m_items.size());
    return S_OK;
}

STDMETHODIMP CShellItemArrayDouble::GetItemAt(DWORD dwIndex, IShellItem** ppsi)
{
    *ppsi = dwIndex < m_items.size() ? new (std::nothrow) CItemDouble(*this, m_items[dwIndex]) : nullptr;
    return *ppsi ? S_OK : E_INVALIDARG;
}
