// The install procedure: copies the pack out of the executable into
// "tmp.pak", unpacks its four entries below the chosen directory, records the
// directory in the registry and tells the user what happened.
#pragma once

#include <windows.h>
#include <stdint.h>

#include "pack/install_layout.h"

// What became of the payload.
enum PayloadResult : uint32_t {
    PAYLOAD_READ = 0,       // copied out and reopened as the pack that was written
    PAYLOAD_DAMAGED,        // the executable, its trailer or the pack could not be read
    PAYLOAD_NOT_WRITTEN,    // "tmp.pak" could not be created or written in full
    PAYLOAD_CHANGED,        // "tmp.pak" no longer held what was written to it
    PAYLOAD_TOO_LARGE,      // the pack does not fit in memory
    // The executable could not be opened at all: its data may be sound.
    PAYLOAD_NOT_OPENED,
    PAYLOAD_NAME_NOT_IN_CODE_PAGE,  // the system gave its path with '?' for what the code page lacks
    PAYLOAD_PATH_TOO_LONG,          // the system gave its path cut short
};

// What became of one target file.
enum TargetResult : uint32_t {
    TARGET_WRITTEN = 0,
    TARGET_NOT_TRIED,       // the payload was not read, nothing was attempted
    TARGET_DAMAGED,         // the pack delivered no sound entry for it
    TARGET_NOT_CREATED,     // the file could not be created
    TARGET_NOT_WRITTEN,     // created, but its bytes could not all be written
    TARGET_IN_USE,          // another program holds the existing file open
    TARGET_TOO_LARGE,       // the entry does not fit in memory
    TARGET_MISSING,         // the pack ended before its entry
};

struct InstallOutcomeRecord {
    PayloadResult Payload;
    int PackCreated;                              // "tmp.pak" exists and must go
    char PackPath[MAX_PATH];                      // where it was written: beside the executable or in the temporary folder
    BY_HANDLE_FILE_INFORMATION PackWritten;       // identity of the "tmp.pak" written
    TargetResult Target[INSTALL_TARGET_COUNT];
    int Registry;                                 // RegistryWriteString's result, or -1 when not tried
};

extern InstallOutcomeRecord InstallOutcome;

// The whole procedure, run when the user presses Install; sets the exit code.
void InstallPayload();

// Its halves, each usable alone: the copy of the payload out of the named
// executable into a new "tmp.pak" beside the executable (in the system's
// temporary folder where that cannot be written), and the unpacking of
// "tmp.pak" into the chosen directory. The unpacking refuses a "tmp.pak"
// other than the one the copy wrote, or one whose bytes changed since, and
// a pack that is not exactly four sound entries: nothing is installed then,
// and the first entry at fault is marked TARGET_DAMAGED or TARGET_MISSING.
void PayloadCopyOut(const char* executableName);
void PayloadUnpack();

// Why the executable could not be opened, from the path the system gave
// for it and that path's length as GetModuleFileNameA returned it.
PayloadResult ExecutableOpenFailure(const char* path, DWORD length);

// Deletes "tmp.pak" wherever it was written, records the directory and shows the report.
void InstallFinish();

// The report's text, built in the string workspace from its start; returns
// that start. Nonzero *complete when everything was installed.
char* InstallReportText(char* start, int* complete);
