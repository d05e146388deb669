// Start-up, main loop and shutdown of the installer.
#pragma once

#include <windows.h>

constexpr DWORD RUNTIME_HEAP_INITIAL_SIZE = 4000;
constexpr DWORD STRING_WORKSPACE_SIZE = 64000;

// What follows the program name on a command line: a leading double quote
// skips to its closing quote, otherwise the name ends at the first blank;
// blanks after the name are skipped too. An unclosed quote skips nothing.
const char* CommandLineSkipProgramName(const char* line);

// Cuts a module path right after its last backslash; no backslash leaves it
// empty.
void ModuleDirectoryCut(char* path);

// The fixed start-up order, up to and including the string workspace.
// Returns 0 when the heap or the workspace could not be had.
int InstallerStartup(HINSTANCE instance);

// The fixed shutdown order, up to and including the runtime heap.
void InstallerShutdown();

// Runs the whole program and ends the process.
[[noreturn]] void InstallerMain(HINSTANCE instance, HINSTANCE previous, const char* arguments, int show);
