// The window toolkit's one process-wide record: the window table, the event
// and focus state, and the gadget table. WindowInit clears everything before
// GadgetTable; GadgetInit clears GadgetTable and what follows it.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr int WINDOW_CLASS_NAME_SIZE = 50;
constexpr int WINDOW_ACCELERATOR_COUNT = 2;

struct WindowSlot {
    HWND Handle;                 // none while the number is free
    int32_t AcceleratorCount;    // WINDOW_ACCELERATOR_COUNT once built, else 0
    ACCEL* AcceleratorEntries;   // in the runtime heap, owned by the slot
    HACCEL AcceleratorTable;     // made from those entries, owned by the slot
};

struct WindowTableRecord {
    int32_t Capacity;            // usable window numbers
    WindowSlot* Slots;           // room for Capacity + 2 slots, in the runtime heap
};

struct GadgetSlot {
    HWND Handle;                 // none for a free number or a failed creation
    int32_t Kind;                // GADGET_KIND_BUTTON or GADGET_KIND_TEXT
};

struct GadgetTableRecord {
    int32_t Capacity;            // usable gadget numbers
    GadgetSlot* Slots;           // room for Capacity + 2 slots, in the runtime heap
};

struct ToolkitRecord {
    // Windows.
    WindowTableRecord WindowTable;
    HWND CurrentWindow;                     // the window most recently opened
    HBRUSH Background;                      // button-face brush, lives until the process ends
    WNDCLASSA WindowClassTemplate;          // registered once per open window
    char ClassName[WINDOW_CLASS_NAME_SIZE]; // "WindowClass_<number>" of the window at hand

    // Events and focus.
    int32_t PendingEvent;  // event recorded by the window procedure; 0 means none
    int32_t EventGadget;   // gadget or command number of the last gadget or menu event
    MSG Message;           // the message last retrieved by EventWait
    HWND FocusStart;       // the focused tab stop a walk starts from, or none
    int32_t FocusTakeNext; // the next eligible child takes the focus
    HWND FocusCandidate;   // the eligible child seen last in a backward walk
    int32_t FocusDone;     // a backward walk has moved the focus

    // Gadgets.
    GadgetTableRecord GadgetTable;
    HWND GadgetParent;     // window receiving the gadgets created next
    HGDIOBJ GadgetFont;    // the stock default GUI font, never deleted
};

extern ToolkitRecord Toolkit;
