#include "tests/ui/toolkit_fixture.h"

namespace {

using WindowOpenTest = ToolkitTest;

RECT OuterRect(HWND window)
{
    RECT r = {};
    GetWindowRect(window, &r);
    return r;
}

// The style bits the toolkit chose: the system adds WS_CLIPSIBLINGS to every
// top-level window, and the low word holds no bit the toolkit sets here.
LONG TopLevelStyle(HWND window)
{
    return GetWindowLongA(window, GWL_STYLE) & ~WS_CLIPSIBLINGS & 0xFFFF0000;
}

bool ClassRegistered(const char* name)
{
    WNDCLASSA info;
    return GetClassInfoA(GetModuleHandleA(nullptr), name, &info) != 0;
}

TEST_F(WindowOpenTest, NoStyleGivenStillGetsACaptionAndIsVisibleAtItsPlace)
{
    const HWND window = WindowOpen(1, 40, 30, 200, 100, 0, "plain");
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(0x10C00000, TopLevelStyle(window));
    EXPECT_TRUE(IsWindowVisible(window));
    const RECT r = OuterRect(window);
    EXPECT_EQ(40, r.left);
    EXPECT_EQ(30, r.top);
    char title[32] = {};
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ("plain", title);
}

TEST_F(WindowOpenTest, HiddenBitCreatesAHiddenCaptionedWindow)
{
    const HWND window = WindowOpen(1, 40, 30, 200, 100, WINDOW_HIDDEN, "hidden");
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(0x00C00000, TopLevelStyle(window));
    EXPECT_FALSE(IsWindowVisible(window));
}

TEST_F(WindowOpenTest, MainWindowCallGivesItsStyleCornerAndClientSize)
{
    const HWND window = WindowOpen(0, 216, 0, 250, 118, 0xCC0000, "Zivora Varelle");
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(0x10CC0000, TopLevelStyle(window));
    const RECT r = OuterRect(window);
    EXPECT_EQ(216, r.left);
    EXPECT_EQ(0, r.top);
    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_EQ(250, client.right);
    EXPECT_EQ(118, client.bottom);
    EXPECT_EQ(window, WindowHandle());
}

TEST_F(WindowOpenTest, CentreOnScreenOfAWindowWiderThanTheScreenClampsXToZero)
{
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const HWND window =
        WindowOpen(1, 500, 500, screenWidth + 300, 100, WINDOW_CENTRE_SCREEN | WINDOW_HIDDEN, "wide");
    ASSERT_NE(nullptr, window);
    const RECT r = OuterRect(window);
    EXPECT_EQ(0, r.left);
    // Centred vertically all the same.
    EXPECT_EQ((screenHeight >> 1) - ((r.bottom - r.top) >> 1), r.top);
}

TEST_F(WindowOpenTest, CentreOnActiveWindowNearTheCornerClampsToZero)
{
    const HWND small = WindowOpen(1, 0, 0, 150, 60, 0, "small");
    ASSERT_NE(nullptr, small);
    WindowActivate(small);
    ASSERT_EQ(small, GetActiveWindow());
    const HWND big = WindowOpen(2, 700, 500, 400, 300, WINDOW_CENTRE_ACTIVE, "big");
    ASSERT_NE(nullptr, big);
    const RECT r = OuterRect(big);
    EXPECT_EQ(0, r.left);
    EXPECT_EQ(0, r.top);
}

TEST_F(WindowOpenTest, CentreOnActiveWindowWinsOverCentreOnScreen)
{
    const HWND anchor = WindowOpen(1, 300, 200, 300, 200, 0, "anchor");
    ASSERT_NE(nullptr, anchor);
    WindowActivate(anchor);
    ASSERT_EQ(anchor, GetActiveWindow());
    const HWND child = WindowOpen(2, 0, 0, 201, 121, WINDOW_CENTRE_ACTIVE | WINDOW_CENTRE_SCREEN, "on anchor");
    ASSERT_NE(nullptr, child);
    const RECT a = OuterRect(anchor);
    const RECT c = OuterRect(child);
    EXPECT_EQ(a.left - ((c.right - c.left) >> 1) + ((a.right - a.left) >> 1), c.left);
    EXPECT_EQ(a.top - ((c.bottom - c.top) >> 1) + ((a.bottom - a.top) >> 1), c.top);
}

TEST_F(WindowOpenTest, CentreOnActiveWithNoActiveWindowCentresOnScreen)
{
    ASSERT_EQ(nullptr, GetActiveWindow());
    const HWND window = WindowOpen(1, 0, 0, 301, 151, WINDOW_CENTRE_ACTIVE | WINDOW_HIDDEN, "alone");
    ASSERT_NE(nullptr, window);
    const RECT r = OuterRect(window);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) >> 1) - ((r.right - r.left) >> 1), r.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) >> 1) - ((r.bottom - r.top) >> 1), r.top);
}

TEST_F(WindowOpenTest, EachWindowHasTheClassOfItsNumberAndTheTemplateStaysRegistered)
{
    const HWND seven = WindowOpen(7, 10, 10, 50, 50, WINDOW_HIDDEN, "7");
    const HWND zero = WindowOpen(0, 10, 10, 50, 50, WINDOW_HIDDEN, "0");
    EXPECT_EQ("WindowClass_7", ClassOf(seven));
    EXPECT_EQ("WindowClass_0", ClassOf(zero));
    EXPECT_TRUE(ClassRegistered("TemplateClass"));
    // Every class carries the toolkit's procedure and the button-face brush.
    WNDCLASSA info = {};
    ASSERT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "WindowClass_7", &info));
    EXPECT_EQ(reinterpret_cast<WNDPROC>(ToolkitWindowProc), info.lpfnWndProc);
    LOGBRUSH brush = {};
    ASSERT_NE(0, GetObjectA(info.hbrBackground, sizeof brush, &brush));
    EXPECT_EQ(UINT(BS_SOLID), brush.lbStyle);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), brush.lbColor);
}

TEST_F(WindowOpenTest, ReopeningANumberDestroysTheOldWindowAndItsAccelerators)
{
    const HWND first = WindowOpen(3, 10, 10, 50, 50, WINDOW_HIDDEN, "first");
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, WindowAccelerators(first));
    const HWND second = WindowOpen(3, 10, 10, 50, 50, WINDOW_HIDDEN, "second");
    ASSERT_NE(nullptr, second);
    EXPECT_FALSE(IsWindow(first));
    EXPECT_EQ(nullptr, WindowAccelerators(first));
    EXPECT_NE(nullptr, WindowAccelerators(second));
    EXPECT_EQ("WindowClass_3", ClassOf(second));
}

TEST_F(WindowOpenTest, CloseDestroysTheWindowAndUnregistersItsClass)
{
    const HWND window = WindowOpen(4, 10, 10, 50, 50, WINDOW_HIDDEN, "four");
    ASSERT_TRUE(ClassRegistered("WindowClass_4"));
    WindowClose(4);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(ClassRegistered("WindowClass_4"));
    EXPECT_EQ(nullptr, WindowAccelerators(window));
    // The current window stays what it was.
    EXPECT_EQ(window, WindowHandle());
}

TEST_F(WindowOpenTest, CloseOfAFreeOrOutOfTableNumberLeavesOtherWindowsOpen)
{
    const HWND window = WindowOpen(0, 10, 10, 50, 50, WINDOW_HIDDEN, "zero");
    WindowClose(5);
    WindowClose(1000);
    WindowClose(-1);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(10, Toolkit.WindowTable.Capacity);
}

TEST_F(WindowOpenTest, GrowthAtTheCapacityKeepsTheOpenWindows)
{
    HWND windows[11];
    for (int n = 0; n < 10; ++n)
        windows[n] = WindowOpen(n, 10 * n, 10, 50, 50, WINDOW_HIDDEN, "w");
    ASSERT_EQ(10, Toolkit.WindowTable.Capacity);
    windows[10] = WindowOpen(10, 10, 10, 50, 50, WINDOW_HIDDEN, "ten");
    ASSERT_NE(nullptr, windows[10]);
    EXPECT_EQ(20, Toolkit.WindowTable.Capacity);
    // Room for the whole capacity and two spare slots.
    EXPECT_GE(HeapSize(InstallerState.RuntimeHeap, 0, Toolkit.WindowTable.Slots), 22 * sizeof(WindowSlot));
    for (int n = 0; n <= 10; ++n) {
        EXPECT_TRUE(IsWindow(windows[n])) << n;
        EXPECT_EQ(windows[n], Toolkit.WindowTable.Slots[n].Handle) << n;
        EXPECT_NE(nullptr, WindowAccelerators(windows[n])) << n;
    }
    // Growth far beyond: room for number + 2 slots, all of them usable.
    ASSERT_NE(nullptr, WindowOpen(100, 10, 10, 50, 50, WINDOW_HIDDEN, "hundred"));
    EXPECT_EQ(110, Toolkit.WindowTable.Capacity);
    EXPECT_GE(HeapSize(InstallerState.RuntimeHeap, 0, Toolkit.WindowTable.Slots), 112 * sizeof(WindowSlot));
    EXPECT_TRUE(IsWindow(windows[0]));
}

// Opens window 500 while the window titled "outer" is being created, which
// moves the table: the outer window's slot must be found in the new one.
LRESULT CALLBACK OpenDuringCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND) {
        const CREATESTRUCTA* const create = reinterpret_cast<CBT_CREATEWNDA*>(lParam)->lpcs;
        if (create->lpszName && lstrcmpA(create->lpszName, "outer") == 0)
            WindowOpen(500, 10, 10, 50, 50, WINDOW_HIDDEN, "inner");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WindowOpenTest, WindowOpenedDuringAnotherCreationKeepsBothSlots)
{
    const HHOOK hook = SetWindowsHookExA(WH_CBT, OpenDuringCreation, nullptr, GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    const HWND outer = WindowOpen(3, 10, 10, 50, 50, WINDOW_HIDDEN, "outer");
    UnhookWindowsHookEx(hook);
    ASSERT_NE(nullptr, outer);
    ASSERT_EQ(510, Toolkit.WindowTable.Capacity);
    EXPECT_EQ(outer, Toolkit.WindowTable.Slots[3].Handle);
    EXPECT_NE(nullptr, WindowAccelerators(outer));
    EXPECT_TRUE(IsWindow(Toolkit.WindowTable.Slots[500].Handle));
    EXPECT_EQ(outer, WindowHandle());
}

TEST_F(WindowOpenTest, NegativeNumberOpensNothingAndCorruptsNoSlot)
{
    const HWND zero = WindowOpen(0, 10, 10, 50, 50, WINDOW_HIDDEN, "zero");
    EXPECT_EQ(nullptr, WindowOpen(-1, 10, 10, 50, 50, WINDOW_HIDDEN, "negative"));
    EXPECT_EQ(nullptr, WindowOpen(INT32_MIN, 10, 10, 50, 50, WINDOW_HIDDEN, "negative"));
    EXPECT_EQ(10, Toolkit.WindowTable.Capacity);
    EXPECT_EQ(zero, WindowHandle());
    EXPECT_EQ(zero, Toolkit.WindowTable.Slots[0].Handle);
}

TEST_F(WindowOpenTest, EveryWindowGetsTabAndShiftTabAccelerators)
{
    const HWND window = WindowOpen(2, 10, 10, 50, 50, WINDOW_HIDDEN, "keys");
    const HACCEL table = WindowAccelerators(window);
    ASSERT_NE(nullptr, table);
    ACCEL entries[4] = {};
    ASSERT_EQ(2, CopyAcceleratorTableA(table, entries, 4));
    EXPECT_EQ(FVIRTKEY | FNOINVERT, entries[0].fVirt);
    EXPECT_EQ(VK_TAB, entries[0].key);
    EXPECT_EQ(CMD_FOCUS_NEXT, entries[0].cmd);
    EXPECT_EQ(FVIRTKEY | FNOINVERT | FSHIFT, entries[1].fVirt);
    EXPECT_EQ(VK_TAB, entries[1].key);
    EXPECT_EQ(CMD_FOCUS_PREVIOUS, entries[1].cmd);
    EXPECT_EQ(nullptr, WindowAccelerators(nullptr));
    EXPECT_EQ(nullptr, WindowAccelerators(GetDesktopWindow()));
}

TEST_F(WindowOpenTest, CloseAllClosesEveryWindowAndTheirClasses)
{
    const HWND a = WindowOpen(0, 10, 10, 50, 50, WINDOW_HIDDEN, "a");
    const HWND b = WindowOpen(15, 10, 10, 50, 50, WINDOW_HIDDEN, "b");
    WindowCloseAll();
    EXPECT_FALSE(IsWindow(a));
    EXPECT_FALSE(IsWindow(b));
    EXPECT_FALSE(ClassRegistered("WindowClass_0"));
    EXPECT_FALSE(ClassRegistered("WindowClass_15"));
}

} // namespace
