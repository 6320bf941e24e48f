#include <gtest/gtest.h>
#include "Wnd.h"
#include "WinApp.h"

namespace {
class CProbeWnd : public CWnd {
public:
    int nUserCalls = 0;
    int nCommands = 0;
    int nSizes = 0;
    LRESULT OnProbe(WPARAM wp, LPARAM lp)
    {
        ++nUserCalls;
        return wp + lp;
    }
    void OnCommandSeven() { ++nCommands; }
    void OnSize(UINT nType, int cx, int cy)
    {
        ++nSizes;
        CWnd::OnSize(nType, cx, cy);
    }
    DECLARE_MESSAGE_MAP()
};

class CDerivedProbeWnd : public CProbeWnd {
public:
    int nDerivedUserCalls = 0;
    LRESULT OnProbe(WPARAM, LPARAM)
    {
        ++nDerivedUserCalls;
        return 99;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CProbeWnd, CWnd)
    ON_MESSAGE(WM_USER + 5, OnProbe)
    ON_COMMAND(7, OnCommandSeven)
    ON_WM_SIZE()
END_MESSAGE_MAP()

BEGIN_MESSAGE_MAP(CDerivedProbeWnd, CProbeWnd)
    ON_MESSAGE(WM_USER + 5, OnProbe)
END_MESSAGE_MAP()

HWND CreateStatic()
{
    return ::CreateWindowEx(0, TEXT("STATIC"), TEXT("text"), WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                            nullptr, nullptr);
}

int CountProperties(HWND hWnd)
{
    int nProperties = 0;
    ::EnumPropsEx(
        hWnd,
        [](HWND, LPTSTR, HANDLE, ULONG_PTR lParam) -> BOOL {
            return ++*reinterpret_cast<int*>(lParam), TRUE;
        },
        reinterpret_cast<LPARAM>(&nProperties));
    return nProperties;
}
} // namespace

TEST(Wnd, SubclassedWindowRoutesThroughTheMessageMapAndFallsBackToItsOwnProcedure)
{
    HWND hWnd = CreateStatic();
    ASSERT_TRUE(hWnd);
    const int nPropertiesBefore = CountProperties(hWnd);
    {
        CProbeWnd wnd;
        ASSERT_TRUE(wnd.SubclassWindow(hWnd));
        EXPECT_EQ(&wnd, CWnd::FromHandlePermanent(hWnd));
        CProbeWnd second;
        EXPECT_FALSE(second.SubclassWindow(hWnd)) << "one object per window";
        // Other programs can list a window's properties: the link to the object is not one of them.
        EXPECT_EQ(nPropertiesBefore, CountProperties(hWnd));
        EXPECT_EQ(7, ::SendMessage(hWnd, WM_USER + 5, 3, 4));
        ::SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(7, 0), 0);
        ::SendMessage(hWnd, WM_COMMAND, MAKEWPARAM(8, 0), 0);
        ::SetWindowPos(hWnd, nullptr, 0, 0, 80, 30, SWP_NOMOVE | SWP_NOZORDER);
        EXPECT_EQ(1, wnd.nUserCalls);
        EXPECT_EQ(1, wnd.nCommands);
        EXPECT_EQ(1, wnd.nSizes);
        CString text;
        wnd.GetWindowText(text); // unhandled: the static control's own procedure answers
        EXPECT_STREQ(TEXT("text"), text);
    }
    // The object is gone; the window works on with its original procedure.
    EXPECT_EQ(nullptr, CWnd::FromHandlePermanent(hWnd));
    EXPECT_EQ(0, ::SendMessage(hWnd, WM_USER + 5, 3, 4));
    ::DestroyWindow(hWnd);
}

TEST(Wnd, DerivedMapWinsAndDestroyDetaches)
{
    CDerivedProbeWnd wnd;
    ASSERT_TRUE(wnd.SubclassWindow(CreateStatic()));
    EXPECT_EQ(99, wnd.SendMessage(WM_USER + 5, 1, 1));
    EXPECT_EQ(1, wnd.nDerivedUserCalls);
    EXPECT_EQ(0, wnd.nUserCalls);
    wnd.SendMessage(WM_COMMAND, MAKEWPARAM(7, 0), 0); // inherited row
    EXPECT_EQ(1, wnd.nCommands);
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(nullptr, wnd.GetSafeHwnd());
    EXPECT_TRUE(wnd.IsKindOf(RUNTIME_CLASS(CWnd)));
    EXPECT_TRUE(wnd.IsKindOf(RUNTIME_CLASS(CCmdTarget)));
    EXPECT_FALSE(wnd.IsKindOf(RUNTIME_CLASS(CWinApp)));
}
