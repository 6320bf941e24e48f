// kvliveobjectexit: ends its process while it still holds objects of the registered handler, with
// a menu built and type information in use, in two apartments, as a host that exits without
// cleaning up does. Its exit code is 0 when it got that far.
#include <windows.h>
#include <shlobj.h>
#include "ShellExt_h.h"
#include "UniqueHandle.h"

namespace {
IContextMenu* CreateWithMenu()
{
    IContextMenu* pMenu = nullptr;
    if (FAILED(::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IContextMenu,
                                  reinterpret_cast<void**>(&pMenu))))
        return nullptr;
    pMenu->QueryContextMenu(::CreatePopupMenu(), 0, 1, 100, CMF_NORMAL);
    IDispatch* pDispatch = nullptr;
    ITypeInfo* pInfo = nullptr;
    if (SUCCEEDED(pMenu->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&pDispatch))))
        pDispatch->GetTypeInfo(0, 0x409, &pInfo);
    return pMenu;
}

DWORD WINAPI HoldInOwnApartment(LPVOID pReady)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) || !CreateWithMenu())
        return 1;
    ::SetEvent(static_cast<HANDLE>(pReady));
    ::Sleep(INFINITE); // still running when the process ends
    return 0;
}
} // namespace

int wmain()
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    if (!CreateWithMenu())
        return 2;
    CUniqueKernelHandle hReady(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    CUniqueKernelHandle hThread(::CreateThread(nullptr, 0, HoldInOwnApartment, hReady.Get(), 0, nullptr));
    if (!hThread || ::WaitForSingleObject(hReady.Get(), 60000) != WAIT_OBJECT_0)
        return 3;
    return 0; // nothing released, no CoUninitialize
}
