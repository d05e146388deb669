#include "tests/ui/toolkit_fixture.h"

namespace {

class GadgetTest : public ToolkitTest {
protected:
    HWND window = nullptr;
    void SetUp() override
    {
        ToolkitTest::SetUp();
        window = WindowOpen(0, 100, 100, 250, 118, WS_CAPTION | WS_SYSMENU, "gadgets");
        ASSERT_NE(nullptr, window);
    }
};

TEST_F(GadgetTest, GadgetBeforeAnyListCreateFails)
{
    EXPECT_EQ(nullptr, GadgetButton(3, 20, 80, 100, 20, "Install"));
    EXPECT_EQ(nullptr, GadgetFrame(0, 10, 10, 230, 100, "frame"));
    EXPECT_EQ(nullptr, GadgetText(1, 20, 30, 130, 20, "text"));
    EXPECT_EQ(nullptr, Toolkit.GadgetTable.Slots[3].Handle);
    EXPECT_EQ(nullptr, GetWindow(window, GW_CHILD));
}

TEST_F(GadgetTest, EachKindHasItsClassStyleIdentifierAndTheDefaultGuiFont)
{
    struct Case {
        HWND control;
        const char* className;
        LONG style;
        int number;
    };
    ASSERT_EQ(window, GadgetListCreate(window));
    const Case cases[] = {
        {GadgetFrame(0, 10, 10, 230, 100, "Frame"), "Button", 0x50020007, 0},
        {GadgetText(1, 20, 30, 130, 20, "Text"), "Static", 0x50020000, 1},
        {GadgetButton(3, 20, 80, 100, 20, "Button"), "Button", 0x50030000, 3},
    };
    const HGDIOBJ font = GetStockObject(DEFAULT_GUI_FONT);
    for (const Case& c : cases) {
        ASSERT_NE(nullptr, c.control) << c.number;
        EXPECT_EQ(window, GetParent(c.control));
        EXPECT_STRCASEEQ(c.className, ClassOf(c.control).c_str()) << c.number;
        EXPECT_EQ(c.style, GetWindowLongA(c.control, GWL_STYLE)) << c.number;
        EXPECT_EQ(0, GetWindowLongA(c.control, GWL_EXSTYLE) & ~WS_EX_NOPARENTNOTIFY) << c.number;
        EXPECT_EQ(c.number, GetDlgCtrlID(c.control));
        EXPECT_EQ(font, reinterpret_cast<HGDIOBJ>(SendMessageA(c.control, WM_GETFONT, 0, 0))) << c.number;
        EXPECT_EQ(c.control, Toolkit.GadgetTable.Slots[c.number].Handle);
    }
    RECT r = {};
    GetWindowRect(cases[2].control, &r);
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(20, r.left);
    EXPECT_EQ(80, r.top);
    EXPECT_EQ(120, r.right);
    EXPECT_EQ(100, r.bottom);
}

TEST_F(GadgetTest, GrowthAtTheCapacityKeepsTheExistingGadgets)
{
    GadgetListCreate(window);
    HWND controls[31];
    for (int n = 0; n < 30; ++n)
        controls[n] = GadgetText(n, 0, n, 10, 1, "");
    ASSERT_EQ(30, Toolkit.GadgetTable.Capacity);
    controls[30] = GadgetButton(30, 0, 0, 10, 10, "thirty");
    ASSERT_NE(nullptr, controls[30]);
    EXPECT_EQ(60, Toolkit.GadgetTable.Capacity);
    EXPECT_GE(HeapSize(InstallerState.RuntimeHeap, 0, Toolkit.GadgetTable.Slots), 62 * sizeof(GadgetSlot));
    for (int n = 0; n <= 30; ++n)
        EXPECT_EQ(controls[n], Toolkit.GadgetTable.Slots[n].Handle) << n;
    EXPECT_EQ(GADGET_KIND_TEXT, Toolkit.GadgetTable.Slots[29].Kind);
    EXPECT_EQ(GADGET_KIND_BUTTON, Toolkit.GadgetTable.Slots[30].Kind);
}

TEST_F(GadgetTest, NegativeNumberCreatesNothingAndCorruptsNoSlot)
{
    GadgetListCreate(window);
    const HWND zero = GadgetButton(0, 0, 0, 10, 10, "zero");
    EXPECT_EQ(nullptr, GadgetButton(-1, 0, 0, 10, 10, "negative"));
    EXPECT_EQ(nullptr, GadgetText(INT32_MIN, 0, 0, 10, 10, "negative"));
    EXPECT_EQ(30, Toolkit.GadgetTable.Capacity);
    EXPECT_EQ(zero, Toolkit.GadgetTable.Slots[0].Handle);
    EXPECT_EQ(zero, GetWindow(window, GW_CHILD));
    EXPECT_EQ(nullptr, GetWindow(zero, GW_HWNDNEXT));
}

TEST_F(GadgetTest, ReusedNumberLeavesTheOldControlInItsWindow)
{
    GadgetListCreate(window);
    const HWND first = GadgetButton(4, 0, 0, 10, 10, "first");
    const HWND second = GadgetButton(4, 0, 20, 10, 10, "second");
    EXPECT_TRUE(IsWindow(first));
    EXPECT_EQ(second, Toolkit.GadgetTable.Slots[4].Handle);
}

} // namespace
