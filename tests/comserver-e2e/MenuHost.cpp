// kvmenuhost: does what Explorer does with a context-menu handler, through COM and the registry.
// Usage: kvmenuhost FILE... [/shot PATH.bmp | /screen PREFIX] [/invoke "ITEM TEXT"]
//        kvmenuhost /command PATH... [/invoke "TITLE"]
// Creates the registered handler by class id, hands it the files as a CF_HDROP selection, builds
// the menu, prints each item with its help text and, with /invoke, chooses the named item. With
// /shot it also pops the menu up from a window of its own, as Explorer shows it, and saves the
// popup's pixels as a 32-bit bitmap file once it is on the screen. With /screen it pops the menu
// up the same way for a picture taken from outside: it writes the popup's place on the screen
// ("x y width height") to PREFIX.rect and holds the menu open until PREFIX.done appears, then
// closes it. Measured under wine 8 with a menu whose items carry bitmaps: copies of the popup from
// inside the process (its window DC, the screen DC, PrintWindow) hold the pictures alone, and the X
// display shows the popup as a black box for as long as the menu is open; the popup's texts, frame
// and pictures reach the display as the menu closes, for a few tenths of a second.
// With /command it does what Windows 11's menu does instead: creates the registered Windows 11
// command by class id, hands it the paths as a shell item array, prints the root's title, icon and
// state and each shown sub-command's title and tip, and with /invoke carries out the one of that
// title.
#include <windows.h>
#include <shlobj.h>
#include <cstdio>
#include <string>
#include <vector>
#include "ExplorerCommandHost.h"
#include "ShellExt_h.h"
#include "ShellItemSelection.h"

namespace {
// The smallest data object that serves a file list as the shell does.
class CDropData : public IDataObject {
public:
    explicit CDropData(const std::vector<std::wstring>& files)
    {
        for (const std::wstring& f : files)
            m_list.insert(m_list.end(), f.c_str(), f.c_str() + f.size() + 1);
        m_list.push_back(L'\0');
    }
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override
    {
        if (!ppv)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject)) {
            *ppv = this;
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return 2; } // lives on the stack of main
    STDMETHODIMP_(ULONG) Release() override { return 1; }
    STDMETHODIMP GetData(FORMATETC* pFmt, STGMEDIUM* pMedium) override
    {
        if (pFmt->cfFormat != CF_HDROP || !(pFmt->tymed & TYMED_HGLOBAL))
            return DV_E_FORMATETC;
        SIZE_T cb = sizeof(DROPFILES) + m_list.size() * sizeof(wchar_t);
        HGLOBAL h = ::GlobalAlloc(GHND, cb);
        if (!h)
            return E_OUTOFMEMORY;
        auto* pDrop = static_cast<DROPFILES*>(::GlobalLock(h));
        pDrop->pFiles = sizeof(DROPFILES);
        pDrop->fWide = TRUE;
        memcpy(pDrop + 1, m_list.data(), m_list.size() * sizeof(wchar_t));
        ::GlobalUnlock(h);
        pMedium->tymed = TYMED_HGLOBAL;
        pMedium->hGlobal = h;
        pMedium->pUnkForRelease = nullptr;
        return S_OK;
    }
    STDMETHODIMP GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
    STDMETHODIMP QueryGetData(FORMATETC* pFmt) override { return pFmt->cfFormat == CF_HDROP ? S_OK : DV_E_FORMATETC; }
    STDMETHODIMP GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override { return E_NOTIMPL; }
    STDMETHODIMP SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
    STDMETHODIMP DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP DUnadvise(DWORD) override { return OLE_E_ADVISENOTSUPPORTED; }
    STDMETHODIMP EnumDAdvise(IEnumSTATDATA**) override { return OLE_E_ADVISENOTSUPPORTED; }

private:
    std::vector<wchar_t> m_list;
};

std::string Utf8(const std::wstring& s)
{
    int cb = ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(cb > 0 ? cb - 1 : 0, '\0');
    if (cb > 1)
        ::WideCharToMultiByte(CP_UTF8, 0, s.c_str(), -1, &out[0], cb, nullptr, nullptr);
    return out;
}

// The pixels of a shown window, as a bottom-up 32-bit bitmap file.
bool SaveWindowPicture(HWND hWnd, const std::wstring& strPath)
{
    RECT rc;
    if (!::GetWindowRect(hWnd, &rc))
        return false;
    const int cx = rc.right - rc.left, cy = rc.bottom - rc.top;
    BITMAPINFOHEADER bih = {sizeof(bih), cx, cy, 1, 32, BI_RGB};
    void* pBits = nullptr;
    HBITMAP hBitmap =
        ::CreateDIBSection(nullptr, reinterpret_cast<BITMAPINFO*>(&bih), DIB_RGB_COLORS, &pBits, nullptr, 0);
    if (!hBitmap)
        return false;
    HDC hdcWindow = ::GetWindowDC(hWnd);
    HDC hdcMem = ::CreateCompatibleDC(hdcWindow);
    HGDIOBJ hOld = ::SelectObject(hdcMem, hBitmap);
    BOOL bCopied = ::BitBlt(hdcMem, 0, 0, cx, cy, hdcWindow, 0, 0, SRCCOPY);
    ::GdiFlush();
    bool bSaved = false;
    if (bCopied) {
        if (FILE* f = ::_wfopen(strPath.c_str(), L"wb")) {
            const DWORD cbBits = static_cast<DWORD>(cx) * cy * 4;
            BITMAPFILEHEADER bfh = {0x4D42, static_cast<DWORD>(sizeof(bfh) + sizeof(bih) + cbBits), 0, 0,
                                    static_cast<DWORD>(sizeof(bfh) + sizeof(bih))};
            bSaved = std::fwrite(&bfh, sizeof(bfh), 1, f) == 1 && std::fwrite(&bih, sizeof(bih), 1, f) == 1 &&
                     std::fwrite(pBits, cbBits, 1, f) == 1;
            bSaved = std::fclose(f) == 0 && bSaved;
        }
    }
    ::SelectObject(hdcMem, hOld);
    ::DeleteDC(hdcMem);
    ::ReleaseDC(hWnd, hdcWindow);
    ::DeleteObject(hBitmap);
    return bSaved;
}

// The host window the menu pops up from; its timer takes the picture once the menu's own loop
// runs, then closes the menu.
std::wstring g_strShotPath;
std::wstring g_strScreenPrefix;
bool g_bShotSaved = false;
const UINT_PTR kShotTimer = 1;
DWORD g_dwRectWrittenAt = 0;
const DWORD kScreenWait = 30000; // ms the menu stays open for a picture taken from outside

// Writes "x y width height" of the shown popup where the picture taker reads it, whole or not at all.
bool WritePopupRect(const RECT& rc)
{
    const std::wstring strRect = g_strScreenPrefix + L".rect", strNew = strRect + L".new";
    FILE* f = ::_wfopen(strNew.c_str(), L"wb");
    if (!f)
        return false;
    bool bWritten =
        std::fprintf(f, "%ld %ld %ld %ld\n", rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top) > 0;
    bWritten = std::fclose(f) == 0 && bWritten;
    return bWritten && ::MoveFileExW(strNew.c_str(), strRect.c_str(), MOVEFILE_REPLACE_EXISTING);
}

LRESULT CALLBACK HostWndProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_TIMER && wParam == kShotTimer) {
        HWND hPopup = ::FindWindowW(L"#32768", nullptr);
        RECT rc;
        if (!hPopup || !::IsWindowVisible(hPopup) || !::GetWindowRect(hPopup, &rc))
            return 0;
        if (!g_strScreenPrefix.empty()) {
            if (g_dwRectWrittenAt == 0) {
                if (!WritePopupRect(rc))
                    ::EndMenu();
                g_dwRectWrittenAt = ::GetTickCount() | 1;
                return 0;
            }
            g_bShotSaved =
                ::GetFileAttributesW((g_strScreenPrefix + L".done").c_str()) != INVALID_FILE_ATTRIBUTES;
            if (!g_bShotSaved && ::GetTickCount() - g_dwRectWrittenAt < kScreenWait)
                return 0;
        } else {
            g_bShotSaved = SaveWindowPicture(hPopup, g_strShotPath);
        }
        ::KillTimer(hWnd, kShotTimer);
        ::EndMenu();
        return 0;
    }
    return ::DefWindowProcW(hWnd, uMsg, wParam, lParam);
}

void ShowMenu(HMENU hMenu)
{
    WNDCLASSW wc = {};
    wc.lpfnWndProc = HostWndProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = L"KvMenuHostWindow";
    ::RegisterClassW(&wc);
    HWND hWnd = ::CreateWindowW(wc.lpszClassName, L"kvmenuhost", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40,
                                480, 320, nullptr, nullptr, wc.hInstance, nullptr);
    if (!hWnd)
        return;
    ::SetForegroundWindow(hWnd);
    // Paint a moment first, so that the menu is drawn over a settled window.
    ::SetTimer(hWnd, kShotTimer, 500, nullptr);
    ::TrackPopupMenuEx(hMenu, TPM_LEFTALIGN | TPM_TOPALIGN | TPM_RETURNCMD | TPM_NONOTIFY, 80, 80, hWnd,
                       nullptr);
    ::KillTimer(hWnd, kShotTimer);
    ::DestroyWindow(hWnd);
}

std::wstring TextOf(HRESULT hr, LPCWSTR lpsz)
{
    return SUCCEEDED(hr) && lpsz ? lpsz : L"<none>";
}

int RunWindows11Command(const std::vector<std::wstring>& paths, const std::wstring& strInvoke)
{
    CUniqueInterface<IExplorerCommand> pRoot;
    HRESULT hr = ::CoCreateInstance(kClsidKorvaneExplorerCommand, nullptr, CLSCTX_INPROC_SERVER,
                                    IID_IExplorerCommand, pRoot.PutVoid());
    if (FAILED(hr)) {
        std::printf("CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 2;
    }
    CUniqueInterface<IShellItemArray> pSelection = MakeShellItemArray(paths);
    if (!pSelection) {
        std::printf("no shell item array for the paths\n");
        return 3;
    }
    CUniqueCoTaskText strIcon;
    hr = pRoot->GetIcon(pSelection.Get(), strIcon.Put());
    EXPCMDFLAGS flags = 0;
    pRoot->GetFlags(&flags);
    EXPCMDSTATE state = ECS_HIDDEN;
    pRoot->GetState(pSelection.Get(), TRUE, &state);
    std::printf("root \"%s\", icon %s, flags 0x%lX, %s\n", Utf8(TitleOf(pRoot.Get(), pSelection.Get())).c_str(),
                Utf8(TextOf(hr, strIcon.Get())).c_str(), static_cast<unsigned long>(flags),
                (state & ECS_HIDDEN) ? "hidden" : "shown");

    int nExit = strInvoke.empty() ? 0 : 4;
    for (ShownCommand& shown : ShownSubCommands(pRoot.Get(), pSelection.Get())) {
        CUniqueCoTaskText strTip;
        hr = shown.pCommand->GetToolTip(pSelection.Get(), strTip.Put());
        std::printf("  %s -- %s\n", Utf8(shown.strTitle).c_str(), Utf8(TextOf(hr, strTip.Get())).c_str());
        if (!strInvoke.empty() && shown.strTitle == strInvoke) {
            hr = shown.pCommand->Invoke(pSelection.Get(), nullptr);
            std::printf("  Invoke \"%s\": 0x%08lX\n", Utf8(strInvoke).c_str(), static_cast<unsigned long>(hr));
            nExit = FAILED(hr) ? 5 : 0;
        }
    }
    if (nExit == 4)
        std::printf("no shown command \"%s\"\n", Utf8(strInvoke).c_str());
    return nExit;
}

int Run(int argc, wchar_t** argv)
{
    std::vector<std::wstring> files;
    std::wstring strInvoke;
    bool bCommand = false;
    for (int i = 1; i < argc; ++i) {
        if (::lstrcmpiW(argv[i], L"/invoke") == 0 && i + 1 < argc)
            strInvoke = argv[++i];
        else if (::lstrcmpiW(argv[i], L"/shot") == 0 && i + 1 < argc)
            g_strShotPath = argv[++i];
        else if (::lstrcmpiW(argv[i], L"/screen") == 0 && i + 1 < argc)
            g_strScreenPrefix = argv[++i];
        else if (::lstrcmpiW(argv[i], L"/command") == 0)
            bCommand = true;
        else
            files.push_back(argv[i]);
    }
    if (bCommand) {
        int nExit = RunWindows11Command(files, strInvoke);
        std::fflush(stdout);
        return nExit;
    }
    IShellExtInit* pInit = nullptr;
    HRESULT hr = ::CoCreateInstance(CLSID_KorvaneShellExt, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit,
                                    reinterpret_cast<void**>(&pInit));
    if (FAILED(hr)) {
        std::printf("CoCreateInstance failed: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 2;
    }
    CDropData data(files);
    hr = pInit->Initialize(nullptr, &data, nullptr);
    std::printf("Initialize: 0x%08lX\n", static_cast<unsigned long>(hr));
    IContextMenu* pMenu = nullptr;
    hr = pInit->QueryInterface(IID_IContextMenu, reinterpret_cast<void**>(&pMenu));
    pInit->Release();
    if (FAILED(hr))
        return 3;
    const UINT idFirst = 100;
    HMENU hMenu = ::CreatePopupMenu();
    hr = pMenu->QueryContextMenu(hMenu, 0, idFirst, idFirst + 99, CMF_NORMAL);
    int nItems = ::GetMenuItemCount(hMenu);
    std::printf("QueryContextMenu: %ld item(s)\n", static_cast<long>(HRESULT_CODE(hr)));
    int nChosen = -1;
    for (int i = 0; i < nItems; ++i) {
        wchar_t szText[256] = L"";
        ::GetMenuStringW(hMenu, i, szText, 256, MF_BYPOSITION);
        UINT nIndex = ::GetMenuItemID(hMenu, i) - idFirst;
        wchar_t szHelp[256] = L"";
        pMenu->GetCommandString(nIndex, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(szHelp), 256);
        std::printf("  [%u] %s -- %s\n", nIndex, Utf8(szText).c_str(), Utf8(szHelp).c_str());
        if (!strInvoke.empty() && strInvoke == szText)
            nChosen = static_cast<int>(nIndex);
    }
    int nExit = 0;
    if (!g_strShotPath.empty() || !g_strScreenPrefix.empty()) {
        ShowMenu(hMenu);
        std::printf("menu picture: %s\n", g_bShotSaved ? "taken" : "NOT taken");
        if (!g_bShotSaved)
            nExit = 6;
    }
    ::DestroyMenu(hMenu);
    if (!strInvoke.empty()) {
        if (nChosen < 0) {
            std::printf("no item \"%s\"\n", Utf8(strInvoke).c_str());
            nExit = 4;
        } else {
            CMINVOKECOMMANDINFO ici = {sizeof(ici)};
            ici.lpVerb = MAKEINTRESOURCEA(nChosen);
            ici.nShow = SW_SHOWNORMAL;
            hr = pMenu->InvokeCommand(&ici);
            std::printf("InvokeCommand \"%s\": 0x%08lX\n", Utf8(strInvoke).c_str(), static_cast<unsigned long>(hr));
            if (FAILED(hr))
                nExit = 5;
        }
    }
    pMenu->Release();
    std::fflush(stdout);
    return nExit;
}
} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 1;
    int nExit = Run(argc, argv);
    ::CoUninitialize();
    return nExit;
}
