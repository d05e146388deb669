#include "ui/event.h"

#include "ui/toolkit.h"
#include "ui/window.h"

int32_t EventWait()
{
    MSG* const message = &Toolkit.Message;
    // The toolkit never posts WM_QUIT; one would come back as its raw code.
    GetMessageA(message, nullptr, 0, 0);
    // The active window, not the message's own, takes the accelerator, so Tab
    // on a focused button becomes a command to the window holding it.
    const HWND active = GetActiveWindow();
    const HACCEL accelerators = WindowAccelerators(active);
    if (!accelerators || !TranslateAcceleratorA(active, accelerators, message)) {
        TranslateMessage(message);
        DispatchMessageA(message);
    }
    const int32_t event = Toolkit.PendingEvent ? Toolkit.PendingEvent : int32_t(message->message);
    Toolkit.PendingEvent = 0;
    return event;
}

int32_t EventGadgetNumber()
{
    return Toolkit.EventGadget;
}

static LRESULT EventRecord(int32_t event)
{
    Toolkit.PendingEvent = event;
    return 0;
}

static LRESULT EventCommand(WPARAM wParam, LPARAM lParam)
{
    // Tab and Shift+Tab arrive from no control with a high word of 1. Every
    // other command is an event under its low word: a control's identifier
    // is its gadget number, and a menu command's high word is 0.
    if (lParam == 0 && HIWORD(wParam) != 0) {
        if (LOWORD(wParam) == CMD_FOCUS_NEXT) {
            FocusNext();
            return 0;
        }
        if (LOWORD(wParam) == CMD_FOCUS_PREVIOUS) {
            FocusPrevious();
            return 0;
        }
    }
    Toolkit.EventGadget = LOWORD(wParam);
    return EventRecord(lParam != 0 ? EVENT_GADGET : EVENT_MENU);
}

LRESULT CALLBACK ToolkitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_COMMAND:
        return EventCommand(wParam, lParam);
    case MSG_DEFERRED_SIZE:
        return EventRecord(EVENT_SIZE_WINDOW);
    case WM_SIZE:
        PostMessageA(window, MSG_DEFERRED_SIZE, wParam, lParam);
        return 0;
    case WM_CLOSE:
        // Not passed on: the window stays until the application closes it.
        return EventRecord(EVENT_CLOSE_WINDOW);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static bool FocusEligible(HWND child)
{
    return IsWindowEnabled(child) && IsWindowVisible(child) &&
           (GetWindowLongA(child, GWL_STYLE) & WS_TABSTOP);
}

static BOOL CALLBACK FocusVisitNext(HWND child, LPARAM)
{
    if (!FocusEligible(child))
        return TRUE;
    if (Toolkit.FocusTakeNext) {
        SetFocus(child);
        Toolkit.FocusTakeNext = 0;
        return FALSE;
    }
    if (!Toolkit.FocusStart) {
        SetFocus(child);
        return FALSE;
    }
    if (child == Toolkit.FocusStart)
        Toolkit.FocusTakeNext = 1;
    return TRUE;
}

static BOOL CALLBACK FocusVisitPrevious(HWND child, LPARAM)
{
    if (!FocusEligible(child))
        return TRUE;
    if (child == Toolkit.FocusStart && Toolkit.FocusCandidate) {
        SetFocus(Toolkit.FocusCandidate);
        Toolkit.FocusDone = 1;
        Toolkit.FocusCandidate = child;
        return FALSE;
    }
    Toolkit.FocusCandidate = child;
    return TRUE;
}

// With no active window, EnumChildWindows would walk the desktop's top-level
// windows, where WS_MAXIMIZEBOX carries the tab-stop bit: a walk then does
// nothing. Returns the active window, or none, and notes where the walk
// starts: the focused control when it lies inside that window, else none.
// One function for both walks, not a copy in each.
static HWND FocusWalkBegin()
{
    const HWND active = GetActiveWindow();
    if (!active)
        return nullptr;
    const HWND focus = GetFocus();
    Toolkit.FocusStart = IsChild(active, focus) ? focus : nullptr;
    return active;
}

void FocusNext()
{
    const HWND active = FocusWalkBegin();
    if (!active)
        return;
    Toolkit.FocusTakeNext = 0;
    EnumChildWindows(active, FocusVisitNext, 0);
    // The focus was on the last tab stop: wrap around to the first.
    if (Toolkit.FocusTakeNext)
        EnumChildWindows(active, FocusVisitNext, 0);
}

void FocusPrevious()
{
    const HWND active = FocusWalkBegin();
    if (!active)
        return;
    Toolkit.FocusCandidate = nullptr;
    Toolkit.FocusDone = 0;
    EnumChildWindows(active, FocusVisitPrevious, 0);
    // The focus was on the first tab stop, or nowhere: the last one takes it.
    if (!Toolkit.FocusDone && Toolkit.FocusCandidate)
        SetFocus(Toolkit.FocusCandidate);
}
