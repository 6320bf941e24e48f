#pragma once
// A selection as Windows 11's menu hands it to a command: an item array made by the shell's own
// functions from the paths of real files and folders, and of items that have no file-system path.
#include <windows.h>
#include <shobjidl.h>
#include <string>
#include <vector>
#include "ComSupport.h"

// Stands in a path list for the Computer folder, an item without a file-system path.
extern const wchar_t kComputerItem[];

// Null when the shell cannot make an item of a path (a path that does not exist, for one).
CUniqueInterface<IShellItemArray> MakeShellItemArray(const std::vector<std::wstring>& paths);
