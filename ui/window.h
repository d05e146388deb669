// Numbered top-level windows: one window class and one Tab / Shift+Tab
// accelerator table per open window.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "ui/toolkit.h"

// Flags word of WindowOpen. Every bit not named here is a Win32 style bit.
constexpr uint32_t WINDOW_CENTRE_SCREEN = 0x1;
constexpr uint32_t WINDOW_CENTRE_ACTIVE = 0x2; // wins over WINDOW_CENTRE_SCREEN
constexpr uint32_t WINDOW_HIDDEN = 0x10000000; // the WS_VISIBLE bit, inverted

constexpr int32_t WINDOW_TABLE_INITIAL = 10;
constexpr int32_t WINDOW_TABLE_GROWTH = 10;
constexpr int32_t WINDOW_TABLE_SPARE = 2;

// Accelerator commands of Tab and Shift+Tab.
constexpr WORD CMD_FOCUS_NEXT = 1212;
constexpr WORD CMD_FOCUS_PREVIOUS = 1213;

// How WindowOpen places a window.
enum WindowPlacement { WINDOW_AS_GIVEN, WINDOW_ON_SCREEN, WINDOW_ON_ACTIVE };

// Once at start-up, before any other toolkit operation.
void WindowInit();

// Opens window `number` (0 or more; a negative number opens nothing) with a
// client area of width x height; x, y is the outer top-left corner unless a
// centring flag is given. A window already open under the number is closed
// first. Returns the handle, or none.
HWND WindowOpen(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, uint32_t flags,
                const char* title);

// The window most recently opened.
HWND WindowHandle();

// Closes window `number` with its class and accelerators; a free number or
// one outside the table changes nothing.
void WindowClose(int32_t number);

// Closes every window: the toolkit's shutdown step.
void WindowCloseAll();

// The accelerator table of the open window with this handle, or none.
HACCEL WindowAccelerators(HWND window);

// The Win32 style of a flags word, and the placement it asks for.
DWORD WindowStyle(uint32_t flags, WindowPlacement* placement);
