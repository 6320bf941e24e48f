#include "TypeInfoHolder.h"
#include <oleauto.h>
#include "ShellExtModule.h"

HRESULT CTypeInfoHolder::GetTypeInfoCount(UINT* pctinfo)
{
    if (pctinfo == nullptr)
        return E_POINTER;
    *pctinfo = 1;
    return S_OK;
}

HRESULT CTypeInfoHolder::AcquireTypeInfo(LCID lcid, ITypeInfo** ppInfo)
{
    // Every caller takes its own reference under the module's lock: the module may let go of its
    // one (DllCanUnloadNow) on another thread while this one is still using it.
    *ppInfo = nullptr;
    CCriticalSectionLock lock(g_ShellExtModule.GetLock());
    if (m_pInfo == nullptr) {
        ITypeLib* pLib = nullptr;
        HRESULT hr = ::LoadRegTypeLib(m_libid, m_wMajor, m_wMinor, lcid, &pLib);
        if (FAILED(hr))
            return hr;
        ITypeInfo* pInfo = nullptr;
        hr = pLib->GetTypeInfoOfGuid(m_iid, &pInfo);
        pLib->Release();
        if (FAILED(hr))
            return hr;
        hr = g_ShellExtModule.AddTermFunc(&CTypeInfoHolder::Cleanup, reinterpret_cast<DWORD_PTR>(this));
        if (FAILED(hr)) {
            pInfo->Release();
            return hr;
        }
        m_pInfo = pInfo;
    }
    m_pInfo->AddRef();
    *ppInfo = m_pInfo;
    return S_OK;
}

void CTypeInfoHolder::Cleanup(DWORD_PTR dw)
{
    CTypeInfoHolder* pThis = reinterpret_cast<CTypeInfoHolder*>(dw);
    ITypeInfo* pInfo = nullptr;
    {
        CCriticalSectionLock lock(g_ShellExtModule.GetLock());
        pInfo = pThis->m_pInfo;
        pThis->m_pInfo = nullptr;
    }
    if (pInfo)
        pInfo->Release();
}

HRESULT CTypeInfoHolder::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    if (ppTInfo == nullptr)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    return AcquireTypeInfo(lcid, ppTInfo);
}

HRESULT CTypeInfoHolder::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    ITypeInfo* pInfo = nullptr;
    HRESULT hr = AcquireTypeInfo(lcid, &pInfo);
    if (FAILED(hr))
        return hr;
    hr = pInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
    pInfo->Release();
    return hr;
}

HRESULT CTypeInfoHolder::Invoke(IDispatch* pThis, DISPID dispIdMember, LCID lcid, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                UINT* puArgErr)
{
    ITypeInfo* pInfo = nullptr;
    HRESULT hr = AcquireTypeInfo(lcid, &pInfo);
    if (FAILED(hr))
        return hr;
    hr = pInfo->Invoke(pThis, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
    pInfo->Release();
    return hr;
}
