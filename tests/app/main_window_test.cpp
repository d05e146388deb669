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

std::string TextOf(HWND window)
{
    char text[100] = {};
    GetWindowTextA(window, text, sizeof text);
    return text;
}

RECT ClientRectOf(HWND control)
{
    RECT r = {};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&r), 2);
    return r;
}

TEST_F(MainWindowTest, WindowHasItsPlaceSizeStyleAndTitle)
{
    EXPECT_EQ(window, Toolkit.WindowTable.Slots[MAIN_WINDOW].Handle);
    EXPECT_EQ("Zivora Varelle", TextOf(window));
    EXPECT_EQ(0x10CC0000, GetWindowLongA(window, GWL_STYLE) & ~WS_CLIPSIBLINGS & 0xFFFF0000);
    RECT outer = {}, client = {};
    GetWindowRect(window, &outer);
    GetClientRect(window, &client);
    EXPECT_EQ(216, outer.left);
    EXPECT_EQ(0, outer.top);
    EXPECT_EQ(250, client.right);
    EXPECT_EQ(118, client.bottom);
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
        const RECT r = ClientRectOf(child);
        EXPECT_TRUE(EqualRect(&e.place, &r)) << e.number << ": " << r.left << "," << r.top << " "
                                             << r.right << "," << r.bottom;
        child = GetWindow(child, GW_HWNDNEXT);
    }
    EXPECT_EQ(nullptr, child);
    EXPECT_EQ(nullptr, Gadget(2));
}

TEST_F(MainWindowTest, TabFromInstallVisitsExitThenSelectDirectoryThenInstall)
{
    SetFocus(Gadget(GADGET_INSTALL));
    EventsDrain();
    for (int expected : {GADGET_EXIT, GADGET_SELECT_DIRECTORY, GADGET_INSTALL}) {
        InputKey(VK_TAB);
        EventsDrain();
        EXPECT_EQ(Gadget(expected), GetFocus()) << expected;
    }
}

// ChooseDirectory with the browser answered by `helper`.
std::string DirectoryChosen(DialogHelper& helper)
{
    helper.Run();
    ChooseDirectory();
    EXPECT_TRUE(helper.Join());
    return InstallerState.ChosenDirectory ? InstallerState.ChosenDirectory : "(null)";
}

class ChooseDirectoryTest : public MainWindowTest {
protected:
    void SetUp() override
    {
        MainWindowTest::SetUp();
        CreateDirectoryA("C:\\qz-main-test", nullptr);
        CreateDirectoryA("C:\\qz-main-test\\Winamp", nullptr);
        CreateDirectoryA("C:\\qz-main-test\\Other", nullptr);
    }
    void TearDown() override
    {
        RemoveDirectoryA("C:\\qz-main-test\\Winamp");
        RemoveDirectoryA("C:\\qz-main-test\\Other");
        RemoveDirectoryA("C:\\qz-main-test");
        MainWindowTest::TearDown();
    }
};

TEST_F(ChooseDirectoryTest, ChosenFolderEndsInOneBackslashAndASecondChoiceReplacesIt)
{
    DialogHelper first;
    first.Action = DIALOG_SELECT_PATH_AND_OK;
    first.Path = "C:\\qz-main-test\\Winamp";
    EXPECT_EQ("C:\\qz-main-test\\Winamp\\", DirectoryChosen(first));
    DialogHelper second;
    second.Action = DIALOG_SELECT_PATH_AND_OK;
    second.Path = "C:\\qz-main-test\\Other";
    EXPECT_EQ("C:\\qz-main-test\\Other\\", DirectoryChosen(second));
    // The browser's title is the prompt without its colon.
    EXPECT_NE(nullptr, strstr(second.ChildTexts, "|Select Winamp directory|")) << second.ChildTexts;
}

TEST_F(ChooseDirectoryTest, DriveRootStaysAsTheBrowserGivesIt)
{
    DialogHelper helper;
    helper.Action = DIALOG_SELECT_PATH_AND_OK;
    helper.Path = "C:\\";
    EXPECT_EQ("C:\\", DirectoryChosen(helper));
}

TEST_F(ChooseDirectoryTest, CancelAfterAChoiceLeavesASingleBackslash)
{
    DialogHelper choose;
    choose.Action = DIALOG_SELECT_PATH_AND_OK;
    choose.Path = "C:\\qz-main-test\\Winamp";
    EXPECT_EQ("C:\\qz-main-test\\Winamp\\", DirectoryChosen(choose));
    DialogHelper cancel;
    cancel.Action = DIALOG_PRESS_CANCEL;
    EXPECT_EQ("\\", DirectoryChosen(cancel));
    // Nothing visible changed.
    EXPECT_EQ("Select Winamp directory:", TextOf(Gadget(GADGET_MAIN_PROMPT)));
    EXPECT_EQ("Select directory", TextOf(Gadget(GADGET_SELECT_DIRECTORY)));
}

// Posts WM_CLOSE to the main window when MainLoop has not returned in time,
// so that a loop that never quits fails the test instead of hanging it. A
// timer of the test's own thread rather than a thread of its own, as the
// DialogHelper's: the loop and the browser's modal loop both dispatch it.
struct LoopWatchdog {
    HWND window;
    bool fired = false;
    UINT_PTR timer = 0;
    static LoopWatchdog* current;

    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD)
    {
        KillTimer(nullptr, id);
        current->fired = true;
        PostMessageA(current->window, WM_CLOSE, 0, 0);
    }
    explicit LoopWatchdog(HWND w) : window(w)
    {
        current = this;
        timer = SetTimer(nullptr, 0, 5000, Fire);
    }
    ~LoopWatchdog()
    {
        if (!fired)
            KillTimer(nullptr, timer);
        current = nullptr;
    }
};
LoopWatchdog* LoopWatchdog::current = nullptr;

TEST_F(MainWindowTest, MainLoopIgnoresOtherEventsAndEndsOnExit)
{
    LoopWatchdog dog(window);
    // A size event and a gadget number with no command come first.
    const int32_t GADGET_WITHOUT_COMMAND = 7;
    SetWindowPos(window, nullptr, 0, 0, 300, 200, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(GADGET_WITHOUT_COMMAND, BN_CLICKED), LPARAM(Gadget(GADGET_EXIT)));
    PostMessageA(Gadget(GADGET_EXIT), BM_CLICK, 0, 0);
    MainLoop();
    EXPECT_FALSE(dog.fired);
    EXPECT_EQ(1, InstallerState.QuitFlag);
    EXPECT_EQ(EVENT_GADGET, InstallerState.EventCode);
    EXPECT_EQ(GADGET_EXIT, InstallerState.GadgetNumber);
    EXPECT_EQ(nullptr, InstallerState.ChosenDirectory);
    EXPECT_TRUE(IsWindowVisible(window));
}

TEST_F(MainWindowTest, MainLoopEndsOnTheCloseBox)
{
    LoopWatchdog dog(window);
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    MainLoop();
    EXPECT_FALSE(dog.fired);
    EXPECT_EQ(1, InstallerState.QuitFlag);
    EXPECT_EQ(EVENT_CLOSE_WINDOW, InstallerState.EventCode);
}

TEST_F(MainWindowTest, MainLoopRunsSelectDirectoryAndGoesOn)
{
    LoopWatchdog dog(window);
    DialogHelper helper;
    helper.Action = DIALOG_PRESS_CANCEL;
    // Exit only once the browser is gone: while it runs, the main window is
    // disabled, as its owner.
    helper.AfterTarget = Gadget(GADGET_EXIT);
    helper.Run();
    PostMessageA(Gadget(GADGET_SELECT_DIRECTORY), BM_CLICK, 0, 0);
    MainLoop();
    EXPECT_TRUE(helper.Join());
    EXPECT_FALSE(dog.fired);
    ASSERT_NE(nullptr, InstallerState.ChosenDirectory);
    EXPECT_STREQ("\\", InstallerState.ChosenDirectory);
}

TEST_F(MainWindowTest, InstallRunsOnceReportsAFailureAndEndsTheLoop)
{
    // This test program carries no payload: the install must say so, with a
    // warning, end the loop, and leave the failure in the exit code.
    LoopWatchdog dog(window);
    DialogHelper helper;
    helper.Action = DIALOG_PRESS_OK;
    helper.Run();
    PostMessageA(Gadget(GADGET_INSTALL), BM_CLICK, 0, 0);
    MainLoop();
    EXPECT_TRUE(helper.Join());
    EXPECT_FALSE(dog.fired);
    EXPECT_EQ(1, InstallerState.QuitFlag);
    EXPECT_EQ(GADGET_INSTALL, InstallerState.GadgetNumber);
    EXPECT_STREQ("Zivora Varelle", helper.Title);
    EXPECT_STREQ("Plugin not installed\nThe installer file is damaged or incomplete.", helper.Text);
    EXPECT_EQ(1, InstallerState.ExitCode);
}

} // namespace
