#pragma once
#include <windows.h>

// Takes back the product key's "UpdateReadyToInstall" before the installer it vouches for is
// truncated or deleted, so the product never starts a missing or partial file. Only the value
// goes: a missing key is not created. TRUE when no such value is left.
BOOL RemoveUpdateReadyValue();
