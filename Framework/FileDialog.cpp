#include "FileDialog.h"
#include <tchar.h>
#include <vector>

namespace {
const DWORD kFileNameChars = 0x8000;

// The process's current directory, put back when the scope ends. The system's dialog moves it to
// every folder the user browses to, cancelled or not (OFN_NOCHANGEDIR is documented as having no
// effect on the open dialog); in a host such as Explorer that keeps the folder in use and hands it
// to every program started later.
class CCurrentDirectoryScope {
public:
    CCurrentDirectoryScope()
    {
        DWORD cch = ::GetCurrentDirectory(0, nullptr);
        // Asked again with the size given: the directory may have changed in between.
        while (cch > m_saved.size()) {
            m_saved.resize(cch);
            cch = ::GetCurrentDirectory(static_cast<DWORD>(m_saved.size()), m_saved.data());
        }
        if (cch == 0)
            m_saved.clear();
    }
    ~CCurrentDirectoryScope()
    {
        if (!m_saved.empty())
            ::SetCurrentDirectory(m_saved.data());
    }
    CCurrentDirectoryScope(const CCurrentDirectoryScope&) = delete;
    CCurrentDirectoryScope& operator=(const CCurrentDirectoryScope&) = delete;

private:
    std::vector<TCHAR> m_saved;
};
} // namespace

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt, LPCTSTR lpszFileName, DWORD dwFlags,
                         LPCTSTR lpszFilter, HWND hWndParent)
    : m_ofn(), m_bOpenFileDialog(bOpenFileDialog), m_fileName(kFileNameChars, _T('\0'))
{
    if (lpszFileName)
        ::lstrcpyn(m_fileName.data(), lpszFileName, static_cast<int>(m_fileName.size()));
    if (lpszDefExt)
        m_strDefExt = lpszDefExt;
    if (lpszFilter) {
        // The system wants each part terminated and the list ended by an empty part; the bar form
        // ends with "||", so replacing every bar gives exactly that. Extra terminators keep an
        // unterminated bar form well ended too.
        m_strFilter = lpszFilter;
        for (TCHAR& ch : m_strFilter)
            if (ch == _T('|'))
                ch = _T('\0');
        m_strFilter.append(2, _T('\0'));
    }

    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hwndOwner = hWndParent;
    m_ofn.lpstrFile = m_fileName.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_fileName.size());
    m_ofn.lpstrDefExt = m_strDefExt.empty() ? nullptr : m_strDefExt.c_str();
    m_ofn.lpstrFilter = m_strFilter.empty() ? nullptr : m_strFilter.c_str();
    m_ofn.nFilterIndex = m_strFilter.empty() ? 0 : 1;
    m_ofn.Flags = dwFlags | OFN_EXPLORER;
}

INT_PTR CFileDialog::DoModal()
{
    // The members may have moved since construction only if the caller changed m_ofn; point the
    // record at our buffers again so the dialog always writes inside them.
    m_ofn.lpstrFile = m_fileName.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_fileName.size());
    CCurrentDirectoryScope keepDirectory;
    BOOL bOk = m_bOpenFileDialog ? ::GetOpenFileName(&m_ofn) : ::GetSaveFileName(&m_ofn);
    if (!bOk)
        m_fileName[0] = _T('\0');
    return bOk ? IDOK : IDCANCEL;
}

CString CFileDialog::GetPathName() const
{
    return CString(m_fileName.data());
}
