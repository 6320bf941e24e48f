#pragma once
// The files of a Windows 11 menu's selection, told from the attributes its shell items already
// carry. Explorer asks for every command's state on its user-interface thread, and Microsoft's
// IExplorerCommand page says those calls must not reach network resources: a selection on a share
// must cost no round trip, so nothing here asks the file system.
#include <windows.h>
#include <shobjidl.h>

class CCompareMenu;

// Takes the selection's first two files into menu, in the array's order: items that are in the
// file system and are streams or not folders (a .zip is both a folder and a stream, and a file).
// Items without a file-system path (a library, the Computer folder) are passed over. The walk
// reads only what the array holds in memory, so it is quick for any count: a host that asks with
// fOkToBeSlow FALSE gets the full answer, since Microsoft documents no second, slow question that
// Windows 11's menu would make after E_PENDING.
void TakeSelectedFiles(CCompareMenu& menu, IShellItemArray* psiItemArray);
