#pragma once
// The server's one class, KorvaneShellExt, as rows of the explicit and the auto class table.
#include "ShellExtModule.h"
#include "ShellExt_h.h"

// The explicit table: one row and the terminating row.
extern ClassEntry g_ClassEntries[2];
// The auto table, as begin/end of an array of row pointers (null pointers are skipped).
extern ClassEntry* g_pAutoClassEntries[1];
ClassEntry** AutoClassTableBegin();
ClassEntry** AutoClassTableEnd();

// The class's registry update: script 102 in either direction.
HRESULT UpdateKorvaneShellExtRegistry(BOOL bRegister);

constexpr UINT IDR_KORVANESHELLEXT = 102;
