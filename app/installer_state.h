// The one process-wide record of the installer, zero-filled as the first step
// of start-up. Its runtime fields are read by every service; its program
// fields belong to the main window and the install procedure.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr uint32_t MODULE_DIRECTORY_SIZE = 500;

struct InstallerStateRecord {
    // Runtime fields.
    HANDLE RuntimeHeap;                          // every table, string value and the workspace
    char* WorkspacePosition;                     // where the next temporary string piece goes
    HINSTANCE Instance;                          // the executable's own module instance
    char ModuleDirectory[MODULE_DIRECTORY_SIZE]; // the executable's folder, with its backslash

    // Program fields.
    int32_t EventCode;       // last result of the event wait
    int32_t GadgetNumber;    // gadget of the last gadget event
    int32_t QuitFlag;        // the main loop ends when it is 1
    char* ChosenDirectory;   // target directory; null until first chosen
    char* ExecutablePath;    // full path of the running executable
    char* ExecutableName;    // its file-name part
    int32_t PayloadLength;   // from the executable's last four bytes
    uint8_t* PayloadBlock;   // memory block 0 while it holds the payload
    uint8_t* EntryData;      // current entry, owned by the pack reader
    int32_t EntrySize;       // its unpacked size, -1 when none was delivered
    uint8_t* EntryBlock;     // memory block 0 while it holds the entry's copy
    int32_t ExitCode;        // 0, or 1 after an install that did not complete
};

extern InstallerStateRecord InstallerState;
