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

HWND OpenMainWindow()
{
    const HWND window = WindowOpen(MAIN_WINDOW, 216, 0, 250, 118, MAIN_WINDOW_FLAGS, MAIN_TITLE);
    if (!window || !GadgetListCreate(WindowHandle()))
        return window;
    // Creation order is the Tab order: Install, Exit, Select directory.
    GadgetFrame(GADGET_MAIN_FRAME, 10, 10, 230, 100, MAIN_TITLE);
    GadgetText(GADGET_MAIN_PROMPT, 20, 30, 130, 20, "Select Winamp directory:");
    GadgetButton(GADGET_INSTALL, 20, 80, 100, 20, "Install");
    GadgetButton(GADGET_EXIT, 130, 80, 100, 20, "Exit");
    GadgetButton(GADGET_SELECT_DIRECTORY, 20, 50, 210, 20, "Select directory");
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
