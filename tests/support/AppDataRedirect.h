#pragma once
// Points the user's Application Data folder elsewhere (the shell's "User Shell Folders" value, as a
// folder redirection policy would) for the life of the object. Also a network share
// (\\kvserver\share\..., served from the prefix's dosdevices\unc folder, see ShareRoot).
#include <windows.h>
#include <string>

class CAppDataRedirect {
public:
    explicit CAppDataRedirect(const std::wstring& strFolder);
    ~CAppDataRedirect();
    CAppDataRedirect(const CAppDataRedirect&) = delete;
    CAppDataRedirect& operator=(const CAppDataRedirect&) = delete;

    // "\\kvserver\share", made to exist for this wine prefix; empty when it cannot be.
    static std::wstring ShareRoot();

private:
    std::wstring m_strOld;
    DWORD m_dwOldType = 0;
    bool m_bHadOld = false;
};

std::string ToAnsi(const std::wstring& str);
