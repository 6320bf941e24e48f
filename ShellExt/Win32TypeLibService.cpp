#include "Win32TypeLibService.h"
#include <oleauto.h>

namespace {
class CLoadedTypeLib : public ILoadedTypeLib {
public:
    explicit CLoadedTypeLib(ITypeLib* pLib) noexcept : m_pLib(pLib) {}
    ~CLoadedTypeLib() override { m_pLib->Release(); }
    CLoadedTypeLib(const CLoadedTypeLib&) = delete;
    CLoadedTypeLib& operator=(const CLoadedTypeLib&) = delete;

    HRESULT Register(const wchar_t* lpszPath, const wchar_t* lpszHelpDir) override
    {
        // RegisterTypeLib takes non-const strings but does not change them.
        return ::RegisterTypeLib(m_pLib, const_cast<LPOLESTR>(lpszPath), const_cast<LPOLESTR>(lpszHelpDir));
    }

    HRESULT Unregister() override
    {
        TLIBATTR* pAttr = nullptr;
        HRESULT hr = m_pLib->GetLibAttr(&pAttr);
        if (FAILED(hr))
            return hr;
        hr = ::UnRegisterTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid,
                                 pAttr->syskind);
        m_pLib->ReleaseTLibAttr(pAttr);
        return hr;
    }

private:
    ITypeLib* m_pLib;
};
} // namespace

HRESULT CWin32TypeLibService::Load(const wchar_t* lpszPath, std::unique_ptr<ILoadedTypeLib>* ppLib)
{
    ITypeLib* pLib = nullptr;
    HRESULT hr = ::LoadTypeLib(lpszPath, &pLib);
    if (FAILED(hr))
        return hr;
    ppLib->reset(new (std::nothrow) CLoadedTypeLib(pLib));
    if (!*ppLib) {
        pLib->Release();
        return E_OUTOFMEMORY;
    }
    return S_OK;
}
