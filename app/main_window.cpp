#include "app/main_window.h"

#include "app/install.h"
#include "app/installer_state.h"
#include "runtime/strings.h"
#include "ui/event.h"
#include "ui/gadget.h"
#include "ui/requester.h"
#include "ui/window.h"

const char MAIN_TITLE[] = "Zivora Varelle";
static const char BROWSE_TITLE[] = "Select Winamp directory";
static const char BACKSLASH[] = "\\";

// Caption, system menu and sizing border; no minimise or maximise box.
constexpr uint32_t MAIN_WINDOW_FLAGS = WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;

// One gadget of the main window.
struct MainGadgetRow {
    const char* Text;
    GadgetType Type;
    uint8_t Number;
    uint8_t X;
    uint8_t Y;
    uint8_t Width;
    uint8_t Height;
};

// Creation order is the Tab order: Install, Exit, Select directory. Rows
// rather than five calls: the calls' arguments took more code than the rows
// take data.
static const MainGadgetRow MAIN_GADGETS[] = {
    {MAIN_TITLE, GADGET_TYPE_FRAME, GADGET_MAIN_FRAME, 10, 10, 230, 100},
    {"Select Winamp directory:", GADGET_TYPE_TEXT, GADGET_MAIN_PROMPT, 20, 30, 130, 20},
    {"Install", GADGET_TYPE_BUTTON, GADGET_INSTALL, 20, 80, 100, 20},
    {"Exit", GADGET_TYPE_BUTTON, GADGET_EXIT, 130, 80, 100, 20},
    {"Select directory", GADGET_TYPE_BUTTON, GADGET_SELECT_DIRECTORY, 20, 50, 210, 20},
};

HWND OpenMainWindow()
{
    const HWND window = WindowOpen(MAIN_WINDOW, 216, 0, 250, 118, MAIN_WINDOW_FLAGS, MAIN_TITLE);
    if (!window || !GadgetListCreate(WindowHandle()))
        return window;
    for (const MainGadgetRow& row : MAIN_GADGETS)
        GadgetMake(row.Type, row.Number, row.X, row.Y, row.Width, row.Height, row.Text);
    return window;
}

void ChooseDirectory()
{
    char* start = StringBegin();
    RequestDirectory(BROWSE_TITLE, "", start);
    StringAssign(&InstallerState.ChosenDirectory, start);

    // The last character is read after its temporary is released: nothing
    // writes to the workspace between the two.
    start = StringBegin();
    StringRight(InstallerState.ChosenDirectory, 1, start);
    StringRelease(start);
    if (StringEquals(start, BACKSLASH))
        return;
    StringAppend(InstallerState.ChosenDirectory);
    StringAppend(BACKSLASH);
    StringAssign(&InstallerState.ChosenDirectory, start);
}

void MainWindowCommand(int32_t gadget)
{
    switch (gadget) {
    case GADGET_INSTALL:
        InstallPayload();
        InstallerState.QuitFlag = 1;
        break;
    case GADGET_EXIT:
        InstallerState.QuitFlag = 1;
        break;
    case GADGET_SELECT_DIRECTORY:
        ChooseDirectory();
        break;
    }
}

void MainLoop()
{
    // A handler runs to completion; the quit flag is looked at only after it.
    do {
        InstallerState.EventCode = EventWait();
        if (InstallerState.EventCode == EVENT_CLOSE_WINDOW)
            InstallerState.QuitFlag = 1;
        if (InstallerState.EventCode == EVENT_GADGET) {
            InstallerState.GadgetNumber = EventGadgetNumber();
            MainWindowCommand(InstallerState.GadgetNumber);
        }
    } while (InstallerState.QuitFlag != 1);
}
