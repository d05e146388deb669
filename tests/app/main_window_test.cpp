#include "tests/ui/toolkit_fixture.h"

#include <string>

#include "app/main_window.h"

namespace {

class MainWindowTest : public ToolkitTest {
protected:
    HWND window = nullptr;
    void SetUp() override
    {
        ToolkitTest::SetUp();
        window = OpenMainWindow();
        ASSERT_NE(nullptr, window);
        WindowActivate(window);
    }
    HWND Gadget(int number) { return Toolkit.GadgetTable.Slots[number].Handle; }
};

TEST_F(MainWindowTest, WindowHasItsPlaceSizeStyleAndTitle)
{
    EXPECT_EQ(window, Toolkit.WindowTable.Slots[MAIN_WINDOW].Handle);
    ExpectTopLevel(window, 0x10CC0000, POINT{216, 0}, SIZE{250, 118}, "Zivora Varelle");
}

// The layout is a table of rows: a row of the wrong kind would give a
// frame that takes the focus or a button that is a label.
TEST_F(MainWindowTest, GadgetsHaveTheirNumbersKindsPlacesAndTextsInCreationOrder)
{
    struct Expected {
        int number;
        RECT place;
        const char* text;
        const char* className;
        LONG style;
    };
    const Expected expected[] = {
        {0, {10, 10, 240, 110}, "Zivora Varelle", "Button", 0x50020007},
        {1, {20, 30, 150, 50}, "Select Winamp directory:", "Static", 0x50020000},
        {3, {20, 80, 120, 100}, "Install", "Button", 0x50030000},
        {4, {130, 80, 230, 100}, "Exit", "Button", 0x50030000},
        {5, {20, 50, 230, 70}, "Select directory", "Button", 0x50030000},
    };
    HWND child = GetWindow(window, GW_CHILD);
    for (const Expected& e : expected) {
        ASSERT_NE(nullptr, child) << e.number;
        EXPECT_EQ(Gadget(e.number), child) << e.number;
        EXPECT_EQ(e.number, GetDlgCtrlID(child));
        EXPECT_EQ(e.text, TextOf(child));
        EXPECT_STRCASEEQ(e.className, ClassOf(child).c_str()) << e.number;
        EXPECT_EQ(e.style, GetWindowLongA(child, GWL_STYLE)) << e.number;
        RECT r = {};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_TRUE(EqualRect(&e.place, &r)) << e.number << ": " << r.left << "," << r.top << " "
                                             << r.right << "," << r.bottom;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child);
    EXPECT_EQ(nullptr, Gadget(2));
}

// Each choice replaces the last and ends in one backslash, a drive root's
// own; Cancel leaves only a backslash.
TEST_F(MainWindowTest, ChosenFolderEndsInOneBackslashReplacesTheLastAndCancelLeavesABackslash)
{
    const ScratchFolders folders{"C:\\qz-main-test", "C:\\qz-main-test\\Winamp", "C:\\qz-main-test\\Other"};
    struct Step {
        DialogAction Action;
        const char* Path;
        const char* Chosen;
    };
    const Step steps[] = {
        {DIALOG_SELECT_PATH_AND_OK, "C:\\qz-main-test\\Winamp", "C:\\qz-main-test\\Winamp\\"},
        {DIALOG_SELECT_PATH_AND_OK, "C:\\qz-main-test\\Other", "C:\\qz-main-test\\Other\\"},
        {DIALOG_SELECT_PATH_AND_OK, "C:\\", "C:\\"},
        {DIALOG_PRESS_CANCEL, nullptr, "\\"},
    };
    for (const Step& step : steps) {
        DialogHelper helper;
        helper.Action = step.Action;
        helper.Path = step.Path;
        helper.Run();
        ChooseDirectory();
        EXPECT_TRUE(helper.Join()) << step.Chosen;
        ASSERT_NE(nullptr, InstallerState.ChosenDirectory) << step.Chosen;
        EXPECT_STREQ(step.Chosen, InstallerState.ChosenDirectory);
        // The browser's title is the prompt without its colon.
        EXPECT_NE(nullptr, strstr(helper.ChildTexts, "|Select Winamp directory|")) << helper.ChildTexts;
    }
    // Nothing visible changed.
    EXPECT_EQ("Select Winamp directory:", TextOf(Gadget(GADGET_MAIN_PROMPT)));
    EXPECT_EQ("Select directory", TextOf(Gadget(GADGET_SELECT_DIRECTORY)));
}

// Runs MainLoop, ended by a WM_CLOSE when it has not returned in time, so
// that a loop that never quits fails the test instead of hanging it. A timer
// of the test's own thread rather than a thread of its own, as the
// DialogHelper's: the loop and the browser's modal loop both dispatch it.
bool LoopTimedOut;

void CALLBACK LoopTimeout(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    LoopTimedOut = true;
    PostMessageA(Toolkit.WindowTable.Slots[MAIN_WINDOW].Handle, WM_CLOSE, 0, 0);
}

void MainLoopInTime()
{
    LoopTimedOut = false;
    const UINT_PTR timer = SetTimer(nullptr, 0, 5000, LoopTimeout);
    MainLoop();
    if (!LoopTimedOut)
        KillTimer(nullptr, timer);
    EXPECT_FALSE(LoopTimedOut) << "MainLoop did not return";
}

TEST_F(MainWindowTest, MainLoopIgnoresOtherEventsAndEndsOnExit)
{
    // A size event and a gadget number with no command come first.
    const int32_t GADGET_WITHOUT_COMMAND = 7;
    SetWindowPos(window, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(GADGET_WITHOUT_COMMAND, BN_CLICKED), LPARAM(Gadget(GADGET_EXIT)));
    PostMessageA(Gadget(GADGET_EXIT), BM_CLICK, 0, 0);
    MainLoopInTime();
    EXPECT_EQ(1, InstallerState.QuitFlag);
    EXPECT_EQ(EVENT_GADGET, InstallerState.EventCode);
    EXPECT_EQ(GADGET_EXIT, InstallerState.GadgetNumber);
    EXPECT_EQ(nullptr, InstallerState.ChosenDirectory);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(MainWindowTest, MainLoopEndsOnTheCloseBox)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    MainLoopInTime();
    EXPECT_EQ(1, InstallerState.QuitFlag);
    EXPECT_EQ(EVENT_CLOSE_WINDOW, InstallerState.EventCode);
}

TEST_F(MainWindowTest, MainLoopRunsSelectDirectoryAndGoesOn)
{
    DialogHelper helper;
    helper.Action = DIALOG_PRESS_CANCEL;
    // Exit only once the browser is gone: while it runs, the main window is
    // disabled, as its owner.
    helper.AfterTarget = Gadget(GADGET_EXIT);
    helper.Run();
    PostMessageA(Gadget(GADGET_SELECT_DIRECTORY), BM_CLICK, 0, 0);
    MainLoopInTime();
    EXPECT_TRUE(helper.Join());
    ASSERT_NE(nullptr, InstallerState.ChosenDirectory);
    EXPECT_STREQ("\\", InstallerState.ChosenDirectory);
}

TEST_F(MainWindowTest, InstallRunsOnceReportsAFailureAndEndsTheLoop)
{
    // This test program carries no payload: the install must say so, with a
    // warning, end the loop, and leave the failure in the exit code.
    DialogHelper helper;
    helper.Action = DIALOG_PRESS_OK;
    helper.Run();
    PostMessageA(Gadget(GADGET_INSTALL), BM_CLICK, 0, 0);
    MainLoopInTime();
    EXPECT_TRUE(helper.Join());
    EXPECT_EQ(1, InstallerState.QuitFlag);
    EXPECT_EQ(GADGET_INSTALL, InstallerState.GadgetNumber);
    EXPECT_STREQ("Zivora Varelle", helper.Title);
    EXPECT_STREQ("Plugin not installed\nThe installer file is damaged or incomplete.", helper.Text);
    EXPECT_EQ(1, InstallerState.ExitCode);
}

} // namespace
