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

HRESULT CTypeInfoHolder::EnsureTypeInfo(LCID lcid)
{
    if (m_pInfo != nullptr)
        return S_OK;
    CCriticalSectionLock lock(g_ShellExtModule.GetLock());
    if (m_pInfo != nullptr)
        return S_OK;
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
    ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&m_pInfo), pInfo);
    return S_OK;
}

void CTypeInfoHolder::Cleanup(DWORD_PTR dw)
{
    CTypeInfoHolder* pThis = reinterpret_cast<CTypeInfoHolder*>(dw);
    if (ITypeInfo* pInfo = static_cast<ITypeInfo*>(
            ::InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&pThis->m_pInfo), nullptr)))
        pInfo->Release();
}

HRESULT CTypeInfoHolder::GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo)
{
    if (ppTInfo == nullptr)
        return E_POINTER;
    *ppTInfo = nullptr;
    if (iTInfo != 0)
        return DISP_E_BADINDEX;
    HRESULT hr = EnsureTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    m_pInfo->AddRef();
    *ppTInfo = m_pInfo;
    return S_OK;
}

HRESULT CTypeInfoHolder::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId)
{
    HRESULT hr = EnsureTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    return m_pInfo->GetIDsOfNames(rgszNames, cNames, rgDispId);
}

HRESULT CTypeInfoHolder::Invoke(IDispatch* pThis, DISPID dispIdMember, LCID lcid, WORD wFlags,
                                DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                UINT* puArgErr)
{
    HRESULT hr = EnsureTypeInfo(lcid);
    if (FAILED(hr))
        return hr;
    return m_pInfo->Invoke(pThis, dispIdMember, wFlags, pDispParams, pVarResult, pExcepInfo, puArgErr);
}
