#include "MenuPicture.h"
#include <algorithm>
#include <vector>
#include "CriticalSection.h"
#include "Module.h"
#include "ShellExtModule.h"
#include "SystemFunction.h"
#include "resource.h"

namespace {
const UINT kDefaultDpi = 96; // 100 %
// A small icon's side at 100 %; a picture is never made larger than an icon can be.
const int kSmallIconSize = 16;
const int kLargestSize = 256;

// The pictures made so far, one per size; guarded, as Explorer builds menus on several threads.
struct CMadePicture {
    int nSize;
    HBITMAP hBitmap;
};
CCriticalSection s_lock;
std::vector<CMadePicture> s_made;
bool s_bFreeQueued = false; // FreeUnused is among the module's termination callbacks

// The screen's device context, given back on every path.
class CScreenDC {
public:
    CScreenDC() : m_hdc(::GetDC(nullptr)) {}
    ~CScreenDC()
    {
        if (m_hdc)
            ::ReleaseDC(nullptr, m_hdc);
    }
    CScreenDC(const CScreenDC&) = delete;
    CScreenDC& operator=(const CScreenDC&) = delete;
    HDC Get() const { return m_hdc; }

private:
    HDC m_hdc;
};

// One image of the icon resource: a 32-bit bottom-up bitmap with its alpha channel, as the
// resource holds it (its height counts the mask below the colours twice).
struct CIconImage {
    const BYTE* pBits = nullptr;
    int nWidth = 0;
    int nHeight = 0;
};

const void* LockedResource(LPCWSTR lpszName, LPCWSTR lpszType, DWORD& cbResource)
{
    HINSTANCE hInstance = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hInstance, lpszName, lpszType);
    HGLOBAL hData = hResource ? ::LoadResource(hInstance, hResource) : nullptr;
    cbResource = hResource ? ::SizeofResource(hInstance, hResource) : 0;
    return hData ? ::LockResource(hData) : nullptr;
}

// The image of IDI_MENU the system would choose for nSize. Only the 32-bit images the module
// carries are read; anything else yields none.
CIconImage FindIconImage(int nSize)
{
    CIconImage image;
    DWORD cbGroup = 0;
    const void* pGroup =
        LockedResource(MAKEINTRESOURCEW(IDI_MENU), MAKEINTRESOURCEW(14) /* RT_GROUP_ICON */, cbGroup);
    if (!pGroup || cbGroup < 6)
        return image;
    int nId = ::LookupIconIdFromDirectoryEx(static_cast<PBYTE>(const_cast<void*>(pGroup)), TRUE, nSize, nSize,
                                            LR_DEFAULTCOLOR);
    DWORD cbImage = 0;
    const BYTE* pImage = nId > 0 ? static_cast<const BYTE*>(LockedResource(
                                       MAKEINTRESOURCEW(nId), MAKEINTRESOURCEW(3) /* RT_ICON */, cbImage))
                                 : nullptr;
    if (!pImage || cbImage < sizeof(BITMAPINFOHEADER))
        return image;
    BITMAPINFOHEADER bih;
    ::CopyMemory(&bih, pImage, sizeof(bih));
    const int nWidth = bih.biWidth;
    const int nHeight = bih.biHeight / 2;
    if (bih.biSize < sizeof(bih) || bih.biBitCount != 32 || bih.biCompression != BI_RGB || nWidth <= 0 ||
        nWidth > 256 || nHeight != nWidth)
        return image;
    const DWORD cbColours = static_cast<DWORD>(nWidth) * nHeight * 4;
    if (cbImage < bih.biSize || cbImage - bih.biSize < cbColours)
        return image;
    image.pBits = pImage + bih.biSize;
    image.nWidth = nWidth;
    image.nHeight = nHeight;
    return image;
}

// A source pixel premultiplied by its alpha, rows counted from the top.
void PremultipliedAt(const CIconImage& image, int x, int y, double adPixel[4])
{
    const BYTE* p = image.pBits + (static_cast<size_t>(image.nHeight - 1 - y) * image.nWidth + x) * 4;
    const double dAlpha = p[3] / 255.0;
    adPixel[0] = p[0] * dAlpha;
    adPixel[1] = p[1] * dAlpha;
    adPixel[2] = p[2] * dAlpha;
    adPixel[3] = p[3];
}

HBITMAP MakePicture(int nSize)
{
    CIconImage image = FindIconImage(nSize);
    if (!image.pBits)
        return nullptr;
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof(bi.bmiHeader);
    bi.bmiHeader.biWidth = nSize;
    bi.bmiHeader.biHeight = -nSize; // top-down
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    void* pvBits = nullptr;
    HBITMAP hBitmap = ::CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &pvBits, nullptr, 0);
    if (!hBitmap || !pvBits)
        return hBitmap;
    // Drawn at each size the module carries; any other size (175 %, 250 %) is sampled from the
    // nearest image, in premultiplied values so that transparent pixels add no colour to the edges.
    BYTE* pOut = static_cast<BYTE*>(pvBits);
    const double dScale = static_cast<double>(image.nWidth) / nSize;
    for (int y = 0; y < nSize; ++y) {
        for (int x = 0; x < nSize; ++x) {
            const double dx = std::min(std::max((x + 0.5) * dScale - 0.5, 0.0), image.nWidth - 1.0);
            const double dy = std::min(std::max((y + 0.5) * dScale - 0.5, 0.0), image.nHeight - 1.0);
            const int x0 = static_cast<int>(dx), y0 = static_cast<int>(dy);
            const int x1 = std::min(x0 + 1, image.nWidth - 1), y1 = std::min(y0 + 1, image.nHeight - 1);
            const double fx = dx - x0, fy = dy - y0;
            double a[4], b[4], c[4], d[4];
            PremultipliedAt(image, x0, y0, a);
            PremultipliedAt(image, x1, y0, b);
            PremultipliedAt(image, x0, y1, c);
            PremultipliedAt(image, x1, y1, d);
            BYTE* pPixel = pOut + (static_cast<size_t>(y) * nSize + x) * 4;
            for (int i = 0; i < 4; ++i) {
                const double dValue =
                    (a[i] * (1 - fx) + b[i] * fx) * (1 - fy) + (c[i] * (1 - fx) + d[i] * fx) * fy;
                pPixel[i] = static_cast<BYTE>(std::min(std::max(dValue + 0.5, 0.0), 255.0));
            }
        }
    }
    ::GdiFlush();
    return hBitmap;
}
} // namespace

HBITMAP CMenuPicture::ForDpi(UINT nDpi)
{
    const int nSize = SizeForDpi(nDpi);
    CCriticalSectionLock lock(s_lock);
    for (const CMadePicture& made : s_made)
        if (made.nSize == nSize)
            return made.hBitmap;
    try {
        s_made.reserve(s_made.size() + 1); // room first, so a made bitmap is never lost
    } catch (...) {
        return nullptr;
    }
    HBITMAP hBitmap = MakePicture(nSize);
    if (hBitmap)
        s_made.push_back({nSize, hBitmap});
    if (hBitmap && !s_bFreeQueued)
        s_bFreeQueued = SUCCEEDED(g_ShellExtModule.AddTermFunc(&CMenuPicture::FreeUnused, 0));
    return hBitmap;
}

UINT CMenuPicture::MenuDpi()
{
    // Only a per-monitor-v2 thread has its menus drawn at the DPI of the monitor they open on
    // (Microsoft, "High DPI Desktop Application Development on Windows": menus scale per monitor
    // from that awareness on); a context menu opens on the monitor under the pointer. Every other
    // thread draws them at the system's DPI, which the system itself stretches for an unaware one.
    // Functions of Windows 10 1607 and 8.1 (the module must also load without them), looked up
    // once per process: every menu asks.
    using GetThreadContext = HANDLE(WINAPI*)(); // DPI_AWARENESS_CONTEXT
    using ContextsEqual = BOOL(WINAPI*)(HANDLE, HANDLE);
    using GetMonitorDpi = HRESULT(WINAPI*)(HMONITOR, int, UINT*, UINT*);
    using GetSystemDpi = UINT(WINAPI*)();
    static const auto pfnThreadContext =
        GetSystemFunction<GetThreadContext>(L"user32.dll", "GetThreadDpiAwarenessContext");
    static const auto pfnContextsEqual =
        GetSystemFunction<ContextsEqual>(L"user32.dll", "AreDpiAwarenessContextsEqual");
    const HANDLE hPerMonitorV2 = reinterpret_cast<HANDLE>(-4); // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2
    if (pfnThreadContext && pfnContextsEqual && pfnContextsEqual(pfnThreadContext(), hPerMonitorV2)) {
        // In the shell's own helper library, which a per-monitor-aware Explorer has loaded.
        if (auto pfnMonitorDpi = GetSystemFunction<GetMonitorDpi>(L"shcore.dll", "GetDpiForMonitor")) {
            POINT pt = {};
            ::GetCursorPos(&pt);
            UINT nDpiX = 0, nDpiY = 0;
            if (SUCCEEDED(pfnMonitorDpi(::MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST),
                                        0 /* MDT_EFFECTIVE_DPI */, &nDpiX, &nDpiY)) &&
                nDpiY != 0)
                return nDpiY;
        }
    }
    // As the calling thread sees it (Windows 10 1607 on).
    static const auto pfnSystemDpi = GetSystemFunction<GetSystemDpi>(L"user32.dll", "GetDpiForSystem");
    if (pfnSystemDpi)
        if (UINT nDpi = pfnSystemDpi())
            return nDpi;
    // Before Windows 10 the system's DPI changes only with a new sign-in: read once.
    static const UINT s_nSystemDpi = [] {
        CScreenDC dc;
        int nDpi = dc.Get() ? ::GetDeviceCaps(dc.Get(), LOGPIXELSY) : 0;
        return nDpi > 0 ? static_cast<UINT>(nDpi) : kDefaultDpi;
    }();
    return s_nSystemDpi;
}

int CMenuPicture::SizeForDpi(UINT nDpi)
{
    if (nDpi == 0)
        nDpi = kDefaultDpi;
    using GetMetricForDpi = int(WINAPI*)(int, UINT);
    int nSize = 0;
    static const auto pfnMetric = GetSystemFunction<GetMetricForDpi>(L"user32.dll", "GetSystemMetricsForDpi");
    if (pfnMetric)
        nSize = pfnMetric(SM_CXSMICON, nDpi);
    if (nSize <= 0)
        nSize = ::MulDiv(kSmallIconSize, static_cast<int>(std::min<UINT>(nDpi, 0x7FFF)), kDefaultDpi);
    return std::min(std::max(nSize, 1), kLargestSize);
}

void CMenuPicture::FreeUnused(DWORD_PTR)
{
    CCriticalSectionLock lock(s_lock);
    s_bFreeQueued = false;
    // An object made since DllCanUnloadNow counted none may hold a picture already.
    if (g_ShellExtModule.GetLockCount() != 0) {
        s_bFreeQueued = SUCCEEDED(g_ShellExtModule.AddTermFunc(&CMenuPicture::FreeUnused, 0));
        return;
    }
    for (const CMadePicture& made : s_made)
        ::DeleteObject(made.hBitmap);
    s_made.clear();
}
