// The event wait: one retrieved message at a time, turned into an event code
// by the toolkit's one window procedure; and Tab / Shift+Tab focus cycling.
#pragma once

#include <windows.h>
#include <stdint.h>

// Event codes. Any other value EventWait returns is a raw Win32 message code.
constexpr int32_t EVENT_SIZE_WINDOW = 5;
constexpr int32_t EVENT_CLOSE_WINDOW = 16;
constexpr int32_t EVENT_GADGET = 13100;
constexpr int32_t EVENT_MENU = 13101;

// Posted by a window to itself on WM_SIZE, so that a size change surfaces as
// an event of its own, in queue order.
constexpr UINT MSG_DEFERRED_SIZE = 0x30D8;

// Blocks until one message has been retrieved and handled; returns the event
// recorded meanwhile, or the message's own code.
int32_t EventWait();

// Gadget (or command) number of the last gadget or menu event; 0 before any.
int32_t EventGadgetNumber();

// The window procedure of every toolkit window.
LRESULT CALLBACK ToolkitWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Move the focus to the next / previous enabled, visible tab stop of the
// active window, wrapping around.
void FocusNext();
void FocusPrevious();
