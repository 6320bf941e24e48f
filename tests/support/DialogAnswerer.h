#pragma once
// Answers a file dialog of this process from another thread, as a user would: each folder of
// "browse" is typed into the name field and confirmed (the dialog goes there), then the final path
// is entered and confirmed, or the dialog is cancelled when it is empty. Records the dialog's owner.
#include <windows.h>
#include <commdlg.h>
#include <dlgs.h>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

class CDialogAnswerer {
public:
    explicit CDialogAnswerer(std::wstring path, std::vector<std::wstring> browse = {})
        : m_path(std::move(path)), m_browse(std::move(browse)), m_thread([this] { Run(); })
    {
    }
    ~CDialogAnswerer()
    {
        m_stop = true;
        m_thread.join();
    }
    bool Found() const { return m_found; }
    HWND Owner() const { return m_owner; }
    bool OwnerWasEnabled() const { return m_ownerEnabled; }

private:
    static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        wchar_t cls[32] = {};
        ::GetClassNameW(hWnd, cls, 32);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) && std::wstring(cls) == L"#32770") {
            *reinterpret_cast<HWND*>(lParam) = hWnd;
            return FALSE;
        }
        return TRUE;
    }
    static void Enter(HWND hDlg, const std::wstring& text)
    {
        // The file-name field: an edit inside the name combo box, or a plain edit.
        HWND hName = ::GetDlgItem(hDlg, cmb13);
        HWND hEdit = hName ? ::FindWindowExW(hName, nullptr, L"Edit", nullptr) : nullptr;
        if (!hEdit)
            hEdit = hName ? hName : ::GetDlgItem(hDlg, edt1);
        ::SendMessageW(hEdit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void Run()
    {
        HWND hDlg = nullptr;
        for (int i = 0; i < 600 && !hDlg && !m_stop; ++i) {
            ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&hDlg));
            if (!hDlg)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!hDlg)
            return;
        HWND hOwner = ::GetWindow(hDlg, GW_OWNER);
        m_ownerEnabled = hOwner && ::IsWindowEnabled(hOwner);
        m_owner = hOwner;
        m_found = true;
        const LPARAM okButton = reinterpret_cast<LPARAM>(::GetDlgItem(hDlg, IDOK));
        for (const std::wstring& folder : m_browse) {
            Enter(hDlg, folder);
            // Sent, so that the dialog has moved to the folder before the next step.
            ::SendMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), okButton);
        }
        if (m_path.empty()) {
            ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
            return;
        }
        Enter(hDlg, m_path);
        ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), okButton);
    }

    std::wstring m_path;
    std::vector<std::wstring> m_browse;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_found{false};
    std::atomic<HWND> m_owner{nullptr};
    std::atomic<bool> m_ownerEnabled{false};
    std::thread m_thread;
};
