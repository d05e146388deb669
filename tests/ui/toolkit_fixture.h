// What the toolkit tests share: a started installer runtime per test, an
// event wait that cannot hang the suite, real input through SendInput, and a
// helper that acts on a modal dialog of this thread from inside its loop.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "app/installer_state.h"
#include "app/startup.h"
#include "ui/event.h"
#include "ui/gadget.h"
#include "ui/toolkit.h"
#include "ui/window.h"

// No event is waited for longer than this.
constexpr DWORD EVENT_TIMEOUT_MS = 3000;

// Start-up as the installer runs it, shutdown after each test.
class ToolkitTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
};

// EventWait, but -1 instead of blocking when no message arrives in time.
int32_t EventNext(DWORD timeoutMs = EVENT_TIMEOUT_MS);

// Calls EventWait until it returns `wanted`; returns `wanted`, or -1 when the
// time runs out first.
int32_t EventUntil(int32_t wanted, DWORD timeoutMs = EVENT_TIMEOUT_MS);

// Handles every message already queued, through EventWait.
void EventsDrain();

// Makes the window the foreground and active window of the thread, so that
// keyboard input reaches it.
void WindowActivate(HWND window);

// A left click at screen coordinates, as the mouse would make it.
void InputClick(POINT at);

// A key press and release, with Shift or Alt held when asked.
void InputKey(WORD key, bool shift = false, bool alt = false);

// The class name of a window or control, and its text.
std::string ClassOf(HWND window);
std::string TextOf(HWND window);

// Checks a top-level window's style bits as the toolkit chose them (the
// system adds WS_CLIPSIBLINGS; the low word holds none of the toolkit's), its
// outer corner, client size and title.
void ExpectTopLevel(HWND window, LONG style, POINT corner, SIZE client, const char* title);

// Folders made for a test to browse to, removed after it, last made first.
struct ScratchFolders {
    std::vector<const char*> Paths;
    ScratchFolders(std::initializer_list<const char*> paths) : Paths(paths)
    {
        for (const char* path : Paths)
            CreateDirectoryA(path, nullptr);
    }
    ~ScratchFolders()
    {
        for (auto path = Paths.rbegin(); path != Paths.rend(); ++path)
            RemoveDirectoryA(*path);
    }
};

// The screen position of the centre of a control.
POINT ControlCentre(HWND control);

// What a DialogHelper does once the dialog is up.
enum DialogAction {
    DIALOG_PRESS_OK,       // BM_CLICK on the dialog's IDOK button
    DIALOG_PRESS_CANCEL,   // BM_CLICK on IDCANCEL
    DIALOG_KEY_ESCAPE,     // the real Escape key
    DIALOG_SELECT_AND_OK,  // select `Pidl` in the folder browser, then OK
    DIALOG_SELECT_PATH_AND_OK, // select `Path` in the folder browser, then OK
};

// Where a DialogHelper is.
enum DialogStepName { HELPER_FINDING, HELPER_SETTLING, HELPER_ACTED, HELPER_ACTED_AGAIN, HELPER_AFTER, HELPER_DONE };

// Waits for a visible "#32770" dialog of this thread, records what it saw,
// then acts, from a timer that the modal loop dispatches. Run() before the
// modal call, Join() after.
struct DialogHelper {
    DialogAction Action = DIALOG_PRESS_OK;
    void* Pidl = nullptr;            // for DIALOG_SELECT_AND_OK
    const char* Path = nullptr;      // for DIALOG_SELECT_PATH_AND_OK; with DIALOG_PRESS_OK
                                     // the browser's initial selection, checked before OK
    bool Reselected = false;         // Wine lost that initial selection: it was sent again
    HWND PostTarget = nullptr;       // when set, BM_CLICK is posted here while the dialog is up
    HWND AfterTarget = nullptr;      // when set, BM_CLICK is posted here once the dialog is gone
    HWND Dialog = nullptr;           // found dialog
    HWND Owner = nullptr;            // its owner
    char Title[200] = {};            // its caption
    char Text[400] = {};             // text of its static control 0xFFFF (message boxes)
    char ChildTexts[2000] = {};      // texts of all its controls, each between '|'
    bool Forced = false;             // the action did not close it: closed by force
    DialogStepName Step = HELPER_FINDING;
    DWORD Since = 0;                 // tick count when the step began
    UINT_PTR Timer = 0;
    bool Busy = false;               // inside a step: a nested tick does nothing

    void Run();
    bool Join();                     // false when no dialog was found or it had to be forced
};
