#pragma once
// The server's classes as rows of the class tables: KorvaneShellExt (the classic context-menu
// handler) in the explicit and the auto table, KorvaneExplorerCommand (Windows 11's menu) in the
// explicit table.
#include "ShellExtModule.h"
#include "ShellExt_h.h"

// The explicit table: one row per class and the terminating row.
extern ClassEntry g_ClassEntries[3];
// The auto table, as begin/end of an array of row pointers (null pointers are skipped).
extern ClassEntry* g_pAutoClassEntries[1];
ClassEntry** AutoClassTableBegin();
ClassEntry** AutoClassTableEnd();

// Each class's registry update: its script in either direction.
HRESULT UpdateKorvaneShellExtRegistry(BOOL bRegister);
HRESULT UpdateKorvaneExplorerCommandRegistry(BOOL bRegister);

constexpr UINT IDR_KORVANESHELLEXT = 102;
constexpr UINT IDR_KORVANEEXPLORERCOMMAND = 103;
