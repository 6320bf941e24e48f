#pragma once
#include <windows.h>

// Creates the folder and every missing parent, without asking. TRUE when the folder exists at the
// end. Shows a message box only when the path cannot be made absolute.
BOOL EMCreateDirectory(LPCSTR lpszDirectory);
