#pragma once
// What every compare menu of the extension knows, whichever host shows it: the files taken from
// the selection, which of the four menus they and the product key call for, the items' texts and
// help texts, and what each item does when chosen. The front ends only translate their host's
// calls into these.
#include <windows.h>
#include <shellapi.h>
#include "StringT.h"

class CCompareMenu {
public:
    enum {
        MENU_STATE_RUN = 0,              // no file taken: "Run Korvane"
        MENU_STATE_SELECT_FIRST = 1,     // one file, nothing remembered
        MENU_STATE_COMPARE_TO_FIRST = 2, // one file and a remembered first item
        MENU_STATE_COMPARE_PAIR = 3,     // two files
    };

    CCompareMenu();
    CCompareMenu(const CCompareMenu&) = delete;
    CCompareMenu& operator=(const CCompareMenu&) = delete;

    // Forgets the files taken (m_nFileCount 0).
    void ResetSelection();
    // Offers one selected path of any length: a folder or a path that does not exist is passed
    // over, otherwise it becomes the first or the second file. Returns false once two files are
    // taken (the caller's walk ends there).
    bool TakeFile(LPCWSTR lpszPath);
    // The same for a path the caller already knows to be a file (from the attributes its host
    // carries), without asking the file system again.
    bool TakeKnownFile(LPCWSTR lpszPath);
    // Re-reads the product key (created, empty, when missing) and chooses m_nMenuState from the
    // files taken. Returns false, leaving the state unchanged, when the key cannot be created or
    // ContextMenuEnabled is 0 or missing (m_strFirstSelection is re-read all the same).
    bool Refresh();

    // Items of the current state, in menu order: their count, and the item text id (IDS_* of
    // resource.h) at an index, 0 past the end. An item is named by its text id everywhere.
    int GetItemCount() const;
    UINT GetItemId(int nIndex) const;
    // The item's text, with the remembered file's name put in for FILENAME; bMenuMarkup doubles
    // "&" in that name (for a menu that reads "&" as an access-key mark).
    CStringW GetItemText(UINT nItemId, bool bMenuMarkup) const;
    // The item's help text (text id + 1), empty for 0.
    CStringW GetItemHelp(UINT nItemId) const;
    // Whether the item is one of the current state's.
    bool IsItemOfState(UINT nItemId) const;
    // The item's verb: one printable ASCII word, the same in every language, that scripts and
    // hosts invoke the item by; null for 0.
    static LPCSTR GetItemVerb(UINT nItemId);
    // The item of the current state whose verb is lpszVerb (ASCII letters of either case), 0 if
    // none is.
    UINT FindItemByVerb(LPCSTR lpszVerb) const;
    UINT FindItemByVerb(LPCWSTR lpszVerb) const;

    // Carries out an item of the current state (nothing, S_FALSE, for an id that is not one).
    // hWndOwner owns the file dialog and the failure message; with bAllowUI false neither is shown.
    // S_OK: the program was started; S_FALSE: nothing was started (remembered, cancelled);
    // a failure HRESULT: the program could not be started.
    HRESULT RunCommand(UINT nItemId, HWND hWndOwner, bool bAllowUI);

    // The comparison program named by the product key's Korvane value (REG_EXPAND_SZ expanded);
    // false when there is none or it names no existing file.
    bool GetProgramPath(CStringW& strPath) const;
    // The program path (quoted unless it already is) followed by the text or binary switches.
    static CStringW BuildCommandLine(const CStringW& strProgram, int nText, const CStringW& strFile1,
                                     const CStringW& strFile2);

    // The folder the program starts in: its own. The host's current directory may be the last
    // folder its file dialog browsed, a removable or network drive that the program would then
    // hold in use for as long as it runs. Empty, the caller's, only for a name without a folder or
    // a folder longer than a current directory may be (Microsoft, "SetCurrentDirectory").
    static CStringW ProgramFolder(const CStringW& strFile);

    // The two platform calls that start the program, replaceable by the tests of every front end
    // (wine never asks for elevation); null members put the system's own back.
    struct StartCalls {
        decltype(&::CreateProcessW) pfnCreateProcess;
        decltype(&::ShellExecuteExW) pfnShellExecuteEx;
    };
    static void SetStartCalls(const StartCalls& calls);

protected:
    // Starts the program with the command line made of its path and the two files, in the
    // program's own folder, without waiting for it; shows the failure when bAllowUI. S_OK or the
    // failure's HRESULT.
    static HRESULT StartProgram(const CStringW& strProgram, int nText, const CStringW& strFile1,
                                const CStringW& strFile2, HWND hWndOwner, bool bAllowUI);
    // Shows the file-open dialog, owned by hWndOwner if that is a window; true with the chosen
    // path when the user chose a file.
    bool AskForSecondFile(CStringW& strPath, HWND hWndOwner);
    // The program beside this module, for when the registry names none.
    static CStringW GetDefaultProgramPath();
    static void WriteFirstSelection(LPCWSTR lpszPath);
    // Empties FirstSelection only while it still names strPath.
    static void ForgetFirstSelection(const CStringW& strPath);

    CStringW m_strFile1;
    CStringW m_strFile2;
    int m_nFileCount;
    CStringW m_strFirstSelection;
    int m_nMenuState;
};

// The product key under HKEY_CURRENT_USER, shared with the product and its updater.
extern const WCHAR g_szProductKey[];
