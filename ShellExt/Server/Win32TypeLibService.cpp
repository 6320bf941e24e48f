#include "Win32TypeLibService.h"
#include <oleauto.h>
#include <new>
#include "SystemFunction.h"

namespace {
// The per-user forms below exist from Windows Vista on: resolved at run time, so the library still
// loads where they are missing, and a per-user registration there fails instead.
class CLoadedTypeLib : public ILoadedTypeLib {
public:
    explicit CLoadedTypeLib(ITypeLib* pLib) noexcept : m_pLib(pLib) {}
    ~CLoadedTypeLib() override { m_pLib->Release(); }
    CLoadedTypeLib(const CLoadedTypeLib&) = delete;
    CLoadedTypeLib& operator=(const CLoadedTypeLib&) = delete;

    HRESULT Register(const wchar_t* lpszPath, const wchar_t* lpszHelpDir, bool bPerUser) override
    {
        // Both take non-const strings but do not change them.
        auto pszPath = const_cast<LPOLESTR>(lpszPath);
        auto pszHelpDir = const_cast<LPOLESTR>(lpszHelpDir);
        if (!bPerUser)
            return ::RegisterTypeLib(m_pLib, pszPath, pszHelpDir);
        using RegisterForUserFunc = HRESULT(WINAPI*)(ITypeLib*, OLECHAR*, OLECHAR*);
        auto pfnRegister = GetSystemFunction<RegisterForUserFunc>(L"oleaut32.dll", "RegisterTypeLibForUser");
        return pfnRegister ? pfnRegister(m_pLib, pszPath, pszHelpDir)
                           : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }

    HRESULT Unregister(bool bPerUser) override
    {
        TLIBATTR* pAttr = nullptr;
        HRESULT hr = m_pLib->GetLibAttr(&pAttr);
        if (FAILED(hr))
            return hr;
        if (!bPerUser) {
            hr = ::UnRegisterTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum, pAttr->lcid,
                                     pAttr->syskind);
        } else {
            using UnregisterForUserFunc = HRESULT(WINAPI*)(REFGUID, WORD, WORD, LCID, SYSKIND);
            auto pfnUnregister =
                GetSystemFunction<UnregisterForUserFunc>(L"oleaut32.dll", "UnRegisterTypeLibForUser");
            hr = pfnUnregister ? pfnUnregister(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum,
                                               pAttr->lcid, pAttr->syskind)
                               : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
        }
        m_pLib->ReleaseTLibAttr(pAttr);
        return hr;
    }

    bool IsRegistered() override
    {
        TLIBATTR* pAttr = nullptr;
        if (FAILED(m_pLib->GetLibAttr(&pAttr)))
            return true; // unknown: let the unregistration itself answer
        BSTR bstrPath = nullptr;
        const HRESULT hr = ::QueryPathOfRegTypeLib(pAttr->guid, pAttr->wMajorVerNum, pAttr->wMinorVerNum,
                                                   pAttr->lcid, &bstrPath);
        m_pLib->ReleaseTLibAttr(pAttr);
        ::SysFreeString(bstrPath);
        return SUCCEEDED(hr);
    }

    HRESULT GetRegisteredInterfaces(std::vector<GUID>* pIids) override
    {
        const UINT nCount = m_pLib->GetTypeInfoCount();
        for (UINT i = 0; i < nCount; ++i) {
            ITypeInfo* pInfo = nullptr;
            HRESULT hr = m_pLib->GetTypeInfo(i, &pInfo);
            if (FAILED(hr))
                return hr;
            TYPEATTR* pAttr = nullptr;
            hr = pInfo->GetTypeAttr(&pAttr);
            if (SUCCEEDED(hr)) {
                // The kinds RegisterTypeLib writes an Interface key for (a dual interface shows
                // as its dispatch side).
                const bool bRegistered = pAttr->typekind == TKIND_DISPATCH ||
                                         (pAttr->typekind == TKIND_INTERFACE &&
                                          (pAttr->wTypeFlags & (TYPEFLAG_FOLEAUTOMATION | TYPEFLAG_FDUAL)));
                const GUID iid = pAttr->guid;
                pInfo->ReleaseTypeAttr(pAttr);
                try {
                    if (bRegistered)
                        pIids->push_back(iid);
                } catch (const std::bad_alloc&) {
                    hr = E_OUTOFMEMORY;
                }
            }
            pInfo->Release();
            if (FAILED(hr))
                return hr;
        }
        return S_OK;
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
