#pragma once
// The site a host hands a command (IObjectWithSite), and the window that site names. The command's
// file dialog and failure message are owned by that window, so they stay above the host's window,
// disable it while open and take no taskbar button of their own.
#include <windows.h>
#include <ocidl.h>
#include "ComSupport.h"

class CObjectWithSite : public IObjectWithSite {
public:
    CObjectWithSite() noexcept = default;
    virtual ~CObjectWithSite() = default;
    CObjectWithSite(const CObjectWithSite&) = delete;
    CObjectWithSite& operator=(const CObjectWithSite&) = delete;

    // IObjectWithSite (IUnknown is the deriving class's)
    STDMETHODIMP SetSite(IUnknown* pUnkSite) override;
    STDMETHODIMP GetSite(REFIID riid, void** ppvSite) override;

    // The window of the site held, or null.
    HWND GetSiteWindow() const noexcept;
    // The window of a site: its own IOleWindow, else the shell browser it offers as a service.
    static HWND WindowOfSite(IUnknown* pSite) noexcept;

private:
    CUniqueInterface<IUnknown> m_pSite;
};
