#include "ObjectWithSite.h"
#include <oleidl.h>
#include <servprov.h>
#include <shlguid.h>

STDMETHODIMP CObjectWithSite::SetSite(IUnknown* pUnkSite)
{
    // The host clears the site (null) to break the reference cycle it may form with us.
    m_pSite = CUniqueInterface<IUnknown>::Share(pUnkSite);
    return S_OK;
}

STDMETHODIMP CObjectWithSite::GetSite(REFIID riid, void** ppvSite)
{
    if (!ppvSite)
        return E_POINTER;
    *ppvSite = nullptr;
    // Documented answer when no site has been set.
    if (!m_pSite)
        return E_FAIL;
    return m_pSite->QueryInterface(riid, ppvSite);
}

HWND CObjectWithSite::GetSiteWindow() const noexcept
{
    return WindowOfSite(m_pSite.Get());
}

HWND CObjectWithSite::WindowOfSite(IUnknown* pSite) noexcept
{
    if (!pSite)
        return nullptr;
    HWND hWnd = nullptr;
    CUniqueInterface<IOleWindow> pWindow;
    if (SUCCEEDED(pSite->QueryInterface(IID_IOleWindow, pWindow.PutVoid())) &&
        SUCCEEDED(pWindow->GetWindow(&hWnd)) && hWnd)
        return hWnd;
    // Explorer's sites hand out the window's shell browser (an IOleWindow) as the top-level
    // browser service rather than being windows themselves.
    CUniqueInterface<IServiceProvider> pServices;
    CUniqueInterface<IOleWindow> pBrowser;
    hWnd = nullptr;
    if (SUCCEEDED(pSite->QueryInterface(IID_IServiceProvider, pServices.PutVoid())) &&
        SUCCEEDED(pServices->QueryService(SID_STopLevelBrowser, IID_IOleWindow, pBrowser.PutVoid())) &&
        SUCCEEDED(pBrowser->GetWindow(&hWnd)))
        return hWnd;
    return nullptr;
}
