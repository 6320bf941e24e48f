#pragma once
// The framework's modal open/save file dialog: one file, a bar-separated filter
// ("Text (*.txt)|*.txt|All Files (*.*)|*.*||"), the system's default title and folder.
#include <windows.h>
#include <commdlg.h>
#include <string>
#include <vector>
#include "StringT.h"

class CFileDialog {
public:
    CFileDialog(BOOL bOpenFileDialog, LPCTSTR lpszDefExt = nullptr, LPCTSTR lpszFileName = nullptr,
                DWORD dwFlags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCTSTR lpszFilter = nullptr,
                HWND hWndParent = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK when the user chose a file, IDCANCEL when the dialog was cancelled or failed. Modal to
    // hWndParent when one was given; the process's current directory is as it was before.
    INT_PTR DoModal();
    // The chosen file's full path once DoModal returned IDOK; empty after a cancel.
    CString GetPathName() const;

    OPENFILENAME m_ofn;

private:
    BOOL m_bOpenFileDialog;
    std::basic_string<TCHAR> m_strFilter; // the filter with its bars turned into terminators
    std::basic_string<TCHAR> m_strDefExt;
    // Room for the longest path the system has (32,767 characters): a path beyond MAX_PATH that
    // the dialog returns is the user's choice, not a failure.
    std::vector<TCHAR> m_fileName;
};
