#pragma once
// What a host of Windows 11's menu does with a command: creates it by class id, walks its
// sub-commands and asks each for its state and title for a selection.
#include <windows.h>
#include <shobjidl.h>
#include <string>
#include <vector>
#include "ComSupport.h"

// {606485C3-F299-4A73-BD61-41773E2170D3}, as a host knows it: from the registration.
extern const CLSID kClsidKorvaneExplorerCommand;

struct ShownCommand {
    CUniqueInterface<IExplorerCommand> pCommand;
    std::wstring strTitle;
};

// Every sub-command the root enumerates, in order; empty when it has none or fails.
std::vector<CUniqueInterface<IExplorerCommand>> EnumerateSubCommands(IExplorerCommand* pRoot);
// The sub-commands not hidden for the selection, in order, with their titles; none when the
// root itself is hidden.
std::vector<ShownCommand> ShownSubCommands(IExplorerCommand* pRoot, IShellItemArray* pSelection);
// A text the command hands out in task memory ("<failed 0x...>" when the call fails).
std::wstring TitleOf(IExplorerCommand* pCommand, IShellItemArray* pSelection);
