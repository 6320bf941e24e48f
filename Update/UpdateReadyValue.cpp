#include "UpdateReadyValue.h"
#include "UniqueHandle.h"

BOOL RemoveUpdateReadyValue()
{
    CUniqueRegKey key;
    LONG lResult =
        ::RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Halden Forge\\Korvane", 0, KEY_SET_VALUE, key.Put());
    if (lResult == ERROR_FILE_NOT_FOUND)
        return TRUE;
    if (lResult != ERROR_SUCCESS)
        return FALSE;
    lResult = ::RegDeleteValueA(key.Get(), "UpdateReadyToInstall");
    return lResult == ERROR_SUCCESS || lResult == ERROR_FILE_NOT_FOUND;
}
