#pragma once
// The picture beside the classic menu's items, made from icon IDI_MENU the way menus since Windows
// Vista take one (MENUITEMINFO's hbmpItem): a 32-bit bitmap with premultiplied alpha, at the size
// of a small icon for the menu's DPI, so that it shows without a box on light and dark menus and
// grows with the display's scaling. One bitmap per size per process: a host may go on showing a
// menu after it released the object that built it, so the bitmaps live until the module may be
// unloaded (DllCanUnloadNow), never freed under the loader lock: GDI is no function that
// DllMain may call (Microsoft, "Dynamic-Link Library Best Practices").
#include <windows.h>

class CMenuPicture {
public:
    // The picture for a menu drawn at nDpi (96 is 100 %); null if it cannot be made (the items
    // then have none). Safe from any thread.
    static HBITMAP ForDpi(UINT nDpi);
    // The DPI the calling thread's menus are drawn at: the monitor's for a per-monitor-v2 thread,
    // the system's for any other.
    static UINT MenuDpi();
    // The small-icon size in pixels at nDpi.
    static int SizeForDpi(UINT nDpi);

private:
    // The module's termination callback: deletes every picture made once no object of the
    // module lives (the host has let go of the menus they built), else waits for the next one.
    static void FreeUnused(DWORD_PTR);
};
