// Numbered child controls of a toolkit window: frame, text and button. A
// gadget's number is its control identifier, so a button's presses come back
// from EventWait under that number.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "ui/toolkit.h"

constexpr int32_t GADGET_TABLE_INITIAL = 30;
constexpr int32_t GADGET_TABLE_GROWTH = 30;
constexpr int32_t GADGET_TABLE_SPARE = 2;

// A slot's kind: frames count as buttons, being of the BUTTON class.
constexpr int32_t GADGET_KIND_BUTTON = 1;
constexpr int32_t GADGET_KIND_TEXT = 2;

constexpr DWORD GADGET_FRAME_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | BS_GROUPBOX;
constexpr DWORD GADGET_TEXT_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT;
constexpr DWORD GADGET_BUTTON_STYLE = WS_CHILD | WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON;

// Once at start-up, after WindowInit.
void GadgetInit();

// The gadgets created next go into this window; returns the same handle.
HWND GadgetListCreate(HWND window);

// The three kinds of gadget, for callers that lay a window out from a table.
enum GadgetType : uint8_t { GADGET_TYPE_FRAME, GADGET_TYPE_TEXT, GADGET_TYPE_BUTTON };

// Each returns the control, or none (no parent yet, a negative number, or the
// system refused). A number already in use keeps its old control in the
// window; the slot then refers to the new one. GadgetMake creates a gadget
// of the type given, what the three after it do one type each.
HWND GadgetMake(GadgetType type, int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                const char* text);
HWND GadgetFrame(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text);
HWND GadgetText(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text);
HWND GadgetButton(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height, const char* text);
