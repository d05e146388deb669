// The installer's main window, its commands, and the main loop that drives
// them.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr int32_t MAIN_WINDOW = 0;

// The product's name: the main window's title and its frame's, and the
// title of the installer's message boxes. Defined once, so the name is
// stored once.
extern const char MAIN_TITLE[];

// Gadget numbers of the main window; 2 is not used.
constexpr int32_t GADGET_MAIN_FRAME = 0;
constexpr int32_t GADGET_MAIN_PROMPT = 1;
constexpr int32_t GADGET_INSTALL = 3;
constexpr int32_t GADGET_EXIT = 4;
constexpr int32_t GADGET_SELECT_DIRECTORY = 5;

// Opens window 0 with its frame, prompt and three buttons. Returns the
// window, or none when it could not be opened (then no gadget is made).
HWND OpenMainWindow();

// Lets the user pick the target directory in the folder browser and stores
// it as the chosen directory, always ending in a backslash: a cancelled
// browser leaves a single backslash.
void ChooseDirectory();

// Acts on a press of the main window's button `gadget`.
void MainWindowCommand(int32_t gadget);

// Runs until the quit flag is set: by the close box, by Exit, or after Install.
void MainLoop();
