#include "tests/ui/toolkit_fixture.h"

#include "ui/requester.h"

namespace {

// A window laid out like the installer's: frame, text and three buttons,
// created in the order Install, Exit, Select directory.
class EventTest : public ToolkitTest {
protected:
    HWND window = nullptr;
    HWND frame = nullptr;
    HWND install = nullptr;
    HWND exit = nullptr;
    HWND select = nullptr;

    void SetUp() override
    {
        ToolkitTest::SetUp();
        window = WindowOpen(0, 216, 0, 250, 118, WS_CAPTION | WS_SYSMENU | WS_THICKFRAME, "events");
        ASSERT_NE(nullptr, window);
        GadgetListCreate(window);
        frame = GadgetFrame(0, 10, 10, 230, 100, "events");
        GadgetText(1, 20, 30, 130, 20, "Select Winamp directory:");
        install = GadgetButton(3, 20, 80, 100, 20, "Install");
        exit = GadgetButton(4, 130, 80, 100, 20, "Exit");
        select = GadgetButton(5, 20, 50, 210, 20, "Select directory");
        ASSERT_NE(nullptr, select);
        WindowActivate(window);
    }
};

TEST_F(EventTest, GadgetNumberIsZeroBeforeAnyGadgetEvent)
{
    // WindowInit clears what a previous run of the toolkit left behind.
    WindowCloseAll();
    Toolkit.EventGadget = 3;
    Toolkit.PendingEvent = EVENT_CLOSE_WINDOW;
    WindowInit();
    EXPECT_EQ(0, EventGadgetNumber());
    EXPECT_EQ(0, Toolkit.PendingEvent);
}

TEST_F(EventTest, ButtonClickMessageReturnsGadgetEventWithItsNumber)
{
    for (HWND button : {install, exit, select}) {
        PostMessageA(button, BM_CLICK, 0, 0);
        ASSERT_EQ(EVENT_GADGET, EventUntil(EVENT_GADGET));
        EXPECT_EQ(GetDlgCtrlID(button), EventGadgetNumber());
    }
    // An unhandled message comes back as its own code, and the number stays
    // until the next gadget event.
    PostMessageA(window, WM_APP + 7, 0, 0);
    EXPECT_EQ(int32_t(WM_APP + 7), EventNext());
    EXPECT_EQ(5, EventGadgetNumber());
}

TEST_F(EventTest, RealMouseClickOnAButtonReturnsGadgetEventOnRelease)
{
    EventsDrain();
    InputClick(ControlCentre(exit));
    ASSERT_EQ(EVENT_GADGET, EventUntil(EVENT_GADGET));
    EXPECT_EQ(4, EventGadgetNumber());
    // The event comes with the button-release message: nothing is left over.
    EXPECT_EQ(-1, EventUntil(EVENT_GADGET, 300));
}

TEST_F(EventTest, ClickOnFrameOrTextReportsNothing)
{
    EventsDrain();
    RECT r;
    GetWindowRect(frame, &r);
    InputClick(POINT{r.left + 5, r.bottom - 5});
    EXPECT_EQ(-1, EventUntil(EVENT_GADGET, 500));
}

TEST_F(EventTest, CloseMessageCloseBoxAndAltF4ReturnTheCloseEventAndTheWindowStaysOpen)
{
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(EVENT_CLOSE_WINDOW, EventUntil(EVENT_CLOSE_WINDOW));
    EXPECT_TRUE(IsWindow(window));
    // The close box and the system menu's Close go through WM_SYSCOMMAND.
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(EVENT_CLOSE_WINDOW, EventUntil(EVENT_CLOSE_WINDOW));
    EXPECT_TRUE(IsWindowVisible(window));
    EventsDrain();
    InputKey(VK_F4, false, true);
    EXPECT_EQ(EVENT_CLOSE_WINDOW, EventUntil(EVENT_CLOSE_WINDOW));
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(EventTest, SizeChangeReturnsSizeEventOnlyWhenThePostedMessageIsRetrieved)
{
    EventsDrain();
    SetWindowPos(window, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    // WM_SIZE was handled inside SetWindowPos without recording anything.
    EXPECT_EQ(0, Toolkit.PendingEvent);
    MSG queued;
    ASSERT_TRUE(PeekMessageA(&queued, window, MSG_DEFERRED_SIZE, MSG_DEFERRED_SIZE, PM_NOREMOVE));
    EXPECT_EQ(EVENT_SIZE_WINDOW, EventUntil(EVENT_SIZE_WINDOW));
    EXPECT_FALSE(PeekMessageA(&queued, window, MSG_DEFERRED_SIZE, MSG_DEFERRED_SIZE, PM_NOREMOVE));
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(EventTest, OpeningAVisibleWindowReportsASizeEvent)
{
    EventsDrain();
    ASSERT_NE(nullptr, WindowOpen(1, 10, 300, 100, 50, 0, "new"));
    EXPECT_EQ(EVENT_SIZE_WINDOW, EventUntil(EVENT_SIZE_WINDOW));
}

// Where a command came from decides what it is, never its number alone: a
// control's command is a gadget event, a menu's (no control, high word 0) a
// menu event, also when numbered like a focus command, and only the focus
// commands of an accelerator (no control, high word not 0) move the focus.
TEST_F(EventTest, CommandIsAFocusMoveOnlyWhenAnAcceleratorSentIt)
{
    struct Row {
        WPARAM WParam;
        bool FromControl;
        int32_t Event;
        int32_t Number;
    };
    const Row rows[] = {
        {MAKEWPARAM(77, 0), false, EVENT_MENU, 77},
        {MAKEWPARAM(90, 1), false, EVENT_MENU, 90},
        {MAKEWPARAM(CMD_FOCUS_NEXT, 0), false, EVENT_MENU, CMD_FOCUS_NEXT},
        {MAKEWPARAM(CMD_FOCUS_PREVIOUS, 0), false, EVENT_MENU, CMD_FOCUS_PREVIOUS},
        {MAKEWPARAM(CMD_FOCUS_NEXT, BN_CLICKED), true, EVENT_GADGET, CMD_FOCUS_NEXT},
        {MAKEWPARAM(CMD_FOCUS_PREVIOUS, 1), true, EVENT_GADGET, CMD_FOCUS_PREVIOUS},
        {MAKEWPARAM(3, BN_DOUBLECLICKED), true, EVENT_GADGET, 3},
        {MAKEWPARAM(CMD_FOCUS_NEXT, 1), false, int32_t(WM_COMMAND), 3},
    };
    SetFocus(install);
    EventsDrain();
    for (const Row& row : rows) {
        Toolkit.EventGadget = 3;
        PostMessageA(window, WM_COMMAND, row.WParam, row.FromControl ? reinterpret_cast<LPARAM>(install) : 0);
        EXPECT_EQ(row.Event, EventNext()) << row.WParam;
        EXPECT_EQ(row.Number, EventGadgetNumber()) << row.WParam;
        const HWND focusAfter = row.Event == int32_t(WM_COMMAND) ? exit : install;
        EXPECT_EQ(focusAfter, GetFocus()) << row.WParam;
        SetFocus(install);
    }
}

TEST_F(EventTest, EventRecordedInsideAModalLoopStaysPendingForTheNextWait)
{
    EventsDrain();
    DialogHelper helper;
    helper.PostTarget = select;
    helper.Run();
    RequestMessage("modal", "a button is pressed behind this box");
    ASSERT_TRUE(helper.Join());
    // The message box's loop dispatched the press; the next wait returns it
    // after handling its own message.
    PostMessageA(window, WM_APP, 0, 0);
    EXPECT_EQ(EVENT_GADGET, EventNext());
    EXPECT_EQ(5, EventGadgetNumber());
}

// Focus cycling.

using FocusTest = EventTest;

TEST_F(FocusTest, TabAndShiftTabCycleTheButtonsInCreationOrderAndWrap)
{
    SetFocus(install);
    EventsDrain();
    const HWND forward[] = {exit, select, install, exit};
    for (HWND expected : forward) {
        InputKey(VK_TAB);
        EventsDrain();
        EXPECT_EQ(expected, GetFocus());
    }
    const HWND backward[] = {install, select, exit, install};
    for (HWND expected : backward) {
        InputKey(VK_TAB, true);
        EventsDrain();
        EXPECT_EQ(expected, GetFocus());
    }
}

TEST_F(FocusTest, TabKeyPressIsConsumedAndComesBackAsItsRawCodes)
{
    SetFocus(select);
    EventsDrain();
    InputKey(VK_TAB);
    EXPECT_EQ(int32_t(WM_KEYDOWN), EventNext());
    EXPECT_EQ(install, GetFocus());
    EXPECT_EQ(int32_t(WM_KEYUP), EventNext());
}

TEST_F(FocusTest, TabWithNoFocusedControlFocusesTheFirstTabStop)
{
    SetFocus(window);
    EventsDrain();
    InputKey(VK_TAB);
    EventsDrain();
    EXPECT_EQ(install, GetFocus());
    SetFocus(window);
    EventsDrain();
    InputKey(VK_TAB, true);
    EventsDrain();
    EXPECT_EQ(select, GetFocus());
}

TEST_F(FocusTest, DisabledAndHiddenButtonsAreSkipped)
{
    SetFocus(install);
    EnableWindow(exit, FALSE);
    FocusNext();
    EXPECT_EQ(select, GetFocus());
    FocusPrevious();
    EXPECT_EQ(install, GetFocus());
    EnableWindow(exit, TRUE);
    ShowWindow(select, SW_HIDE);
    SetFocus(exit);
    FocusNext();
    EXPECT_EQ(install, GetFocus());
    FocusPrevious();
    EXPECT_EQ(exit, GetFocus());
}

TEST_F(FocusTest, WindowWithoutTabStopsKeepsItsFocus)
{
    const HWND bare = WindowOpen(1, 300, 300, 100, 60, 0, "bare");
    GadgetListCreate(bare);
    GadgetText(0, 5, 5, 80, 20, "no tab stops");
    WindowActivate(bare);
    SetFocus(bare);
    FocusNext();
    EXPECT_EQ(bare, GetFocus());
    FocusPrevious();
    EXPECT_EQ(bare, GetFocus());
}

} // namespace
