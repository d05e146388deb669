#include "tests/ui/toolkit_fixture.h"

namespace {

using WindowOpenTest = ToolkitTest;

bool ClassRegistered(const char* name)
{
    WNDCLASSA info;
    return GetClassInfoA(GetModuleHandleA(nullptr), name, &info) != 0;
}

// A caller naming no style still gets a caption; WINDOW_HIDDEN leaves out
// WS_VISIBLE; the size given is the client area's, at the corner given.
TEST_F(WindowOpenTest, WindowGetsItsStyleCornerClientSizeAndTitleAndBecomesCurrent)
{
    struct Row {
        int32_t Number, X, Y, Width, Height;
        uint32_t Flags;
        const char* Title;
        LONG Style;
    };
    const Row rows[] = {
        {1, 40, 30, 200, 100, 0, "plain", 0x10C00000},
        {1, 40, 30, 200, 100, WINDOW_HIDDEN, "hidden", 0x00C00000},
        {0, 216, 0, 250, 118, 0xCC0000, "Zivora Varelle", 0x10CC0000},
    };
    for (const Row& row : rows) {
        const HWND window = WindowOpen(row.Number, row.X, row.Y, row.Width, row.Height, row.Flags, row.Title);
        ASSERT_NE(nullptr, window) << row.Title;
        ExpectTopLevel(window, row.Style, POINT{row.X, row.Y}, SIZE{row.Width, row.Height}, row.Title);
        EXPECT_EQ(window, WindowHandle()) << row.Title;
    }
}

// A centred window sits midway on the active window, or on the screen when
// asked or when no window is active, and never left of or above 0. Halves
// round down on both sides.
TEST_F(WindowOpenTest, CentredWindowSitsMidwayOnTheActiveWindowOrTheScreenClampedAtZero)
{
    struct Row {
        int32_t ActiveX, ActiveY, ActiveWidth, ActiveHeight; // a window activated first; width 0: none
        int32_t Width, Height;
        uint32_t Flags;
        bool OnScreen;
    };
    const int32_t screenWidth = GetSystemMetrics(SM_CXSCREEN);
    const int32_t screenHeight = GetSystemMetrics(SM_CYSCREEN);
    const Row rows[] = {
        {0, 0, 0, 0, 301, 151, WINDOW_CENTRE_ACTIVE | WINDOW_HIDDEN, true},
        {0, 0, 150, 60, 400, 300, WINDOW_CENTRE_ACTIVE, false},
        {300, 200, 300, 200, 201, 121, WINDOW_CENTRE_ACTIVE | WINDOW_CENTRE_SCREEN, false},
        {0, 0, 0, 0, screenWidth + 300, 100, WINDOW_CENTRE_SCREEN | WINDOW_HIDDEN, true},
    };
    for (const Row& row : rows) {
        WindowCloseAll();
        RECT on = {0, 0, screenWidth, screenHeight};
        if (row.ActiveWidth) {
            const HWND active = WindowOpen(1, row.ActiveX, row.ActiveY, row.ActiveWidth, row.ActiveHeight, 0, "on");
            ASSERT_NE(nullptr, active);
            WindowActivate(active);
            ASSERT_EQ(active, GetActiveWindow());
            GetWindowRect(active, &on);
        }
        ASSERT_EQ(row.OnScreen, GetActiveWindow() == nullptr) << row.Width;
        const HWND window = WindowOpen(2, 500, 500, row.Width, row.Height, row.Flags, "centred");
        ASSERT_NE(nullptr, window) << row.Width;
        RECT r = {};
        GetWindowRect(window, &r);
        const LONG x = on.left + ((on.right - on.left) >> 1) - ((r.right - r.left) >> 1);
        const LONG y = on.top + ((on.bottom - on.top) >> 1) - ((r.bottom - r.top) >> 1);
        EXPECT_EQ(x < 0 ? 0 : x, r.left) << row.Width;
        EXPECT_EQ(y < 0 ? 0 : y, r.top) << row.Width;
    }
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
