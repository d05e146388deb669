// Modal requesters: the shell's folder browser and a message box, owned by
// the foreground window when it is one of this process's.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr int REQUEST_INITIAL_PATH_SIZE = 256;

// Runs the folder browser with `title` above its tree and `initial` (may be
// null) selected. Writes the chosen directory at `start` in the string
// workspace, with exactly one trailing backslash, and leaves
// WorkspacePosition on its terminating zero; the result is empty when the
// user cancels, confirms an item that has no file-system path, or the shell
// cannot be loaded. Returns start.
char* RequestDirectory(const char* title, const char* initial, char* start);

// The path the browser is opened with: `initial` less a trailing backslash,
// except that a drive root such as "D:\" keeps it. A path that does not fit
// the buffer is not offered at all (empty), rather than cut to another folder.
void RequestInitialPath(const char* initial, char buffer[REQUEST_INITIAL_PATH_SIZE]);

// The folder browser's callback: selects the initial path once it is shown.
int CALLBACK BrowseInitCallback(HWND window, UINT message, LPARAM lParam, LPARAM data);

// A message box with one OK button and no icon; returns MessageBoxA's result.
int32_t RequestMessage(const char* title, const char* text);

// The same with a warning icon, for reports of what went wrong.
int32_t RequestWarning(const char* title, const char* text);

// The foreground window when it belongs to this process, else none.
HWND OwnerWindow();
