#pragma once
// Finds a file dialog of this process from another thread and answers it as a user would: each
// folder of "browse" is typed into the name field and confirmed (the dialog goes there), then the
// final path is entered and confirmed, or the dialog is cancelled when it is empty. With
// bRefused the dialog is expected to refuse the path with a message of its own: that message is
// closed and the dialog cancelled. Also answers a message box, keeping its text.
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
    explicit CDialogAnswerer(std::wstring path, std::vector<std::wstring> browse = {}, bool bRefused = false)
        : m_path(std::move(path)), m_browse(std::move(browse)), m_bRefused(bRefused),
          m_thread([this] { Run(); })
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
    bool Refused() const { return m_refusedSeen; }
    std::wstring Text() const { return m_text; } // read once the answerer is gone or has answered

private:
    // A visible dialog of this process other than the one in *lParam.
    static BOOL CALLBACK FindDialog(HWND hWnd, LPARAM lParam)
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(hWnd, &pid);
        wchar_t cls[32] = {};
        ::GetClassNameW(hWnd, cls, 32);
        if (pid == ::GetCurrentProcessId() && ::IsWindowVisible(hWnd) && std::wstring(cls) == L"#32770" &&
            hWnd != *reinterpret_cast<HWND*>(lParam)) {
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
    HWND WaitForDialog(HWND hOther)
    {
        for (int i = 0; i < 600 && !m_stop; ++i) {
            HWND hDlg = hOther;
            ::EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&hDlg));
            if (hDlg != hOther)
                return hDlg;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return nullptr;
    }
    static BOOL CALLBACK CollectText(HWND hWnd, LPARAM lParam)
    {
        wchar_t cls[32] = {};
        ::GetClassNameW(hWnd, cls, 32);
        if (::lstrcmpiW(cls, L"Static") == 0) {
            wchar_t text[2048] = {};
            ::GetWindowTextW(hWnd, text, 2048);
            *reinterpret_cast<std::wstring*>(lParam) += text;
        }
        return TRUE;
    }
    void Run()
    {
        HWND hDlg = WaitForDialog(nullptr);
        if (!hDlg)
            return;
        ::EnumChildWindows(hDlg, CollectText, reinterpret_cast<LPARAM>(&m_text));
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
        if (!m_bRefused)
            return;
        if (HWND hRefusal = WaitForDialog(hDlg)) {
            m_refusedSeen = true;
            ::PostMessageW(hRefusal, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        }
        for (int i = 0; i < 100 && ::IsWindow(hDlg) && !::IsWindowEnabled(hDlg); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ::PostMessageW(hDlg, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }

    std::wstring m_path;
    std::vector<std::wstring> m_browse;
    bool m_bRefused;
    std::wstring m_text;
    std::atomic<bool> m_refusedSeen{false};
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_found{false};
    std::atomic<HWND> m_owner{nullptr};
    std::atomic<bool> m_ownerEnabled{false};
    std::thread m_thread;
};
