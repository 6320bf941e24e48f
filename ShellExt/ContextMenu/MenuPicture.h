#pragma once
// The picture beside the classic menu's items, made from icon IDI_MENU the way menus since Windows
// Vista take one (MENUITEMINFO's hbmpItem): a 32-bit bitmap with premultiplied alpha, at the size
// of a small icon for the menu's DPI, so that it shows without a box on light and dark menus and
// grows with the display's scaling. One bitmap per size per process: a host may go on showing a
// menu after it released the object that built it, so the bitmaps live until the module unloads.
#include <windows.h>

class CMenuPicture {
public:
    // The picture for a menu drawn at nDpi (96 is 100 %); null if it cannot be made (the items
    // then have none). Safe from any thread.
    static HBITMAP ForDpi(UINT nDpi);
    // The DPI the calling thread's menus are drawn at.
    static UINT MenuDpi();
    // The small-icon size in pixels at nDpi.
    static int SizeForDpi(UINT nDpi);
    // Deletes every picture made: at the module's unload only, when the host has let go of every
    // object and of the menus they built.
    static void FreeAll();
};
