// A program linked and finished as the installer is, with four sections
// (.text, .data, .rdata, .reloc) and no import lookup tables left. It runs
// to its exit code only if the loader found its imports, its data and its
// relocations where the rewritten headers say, and its headers where the
// linker put them; the code's bits say what was wrong.
#include <windows.h>

enum {
    PROBE_HEADER_MOVED = 1,     // the PE header does not follow the linker's DOS program
    PROBE_POINTER_WRONG = 2,    // a relocated pointer into .rdata reads wrong text
    PROBE_DATA_NOT_WRITABLE = 4 // .data lost what was written to it
};

// The DOS program's message, as the linker writes it after the DOS header
// and 14 bytes of code.
static const char DOS_MESSAGE[] = "This program cannot be run in DOS mode.";
static const LONG DOS_MESSAGE_AT = sizeof(IMAGE_DOS_HEADER) + 14;

static const char WORD_TEXT[] = "layout";
// Initialised pointers, read as stored: .data, with a relocation each.
static const char* volatile words[] = {"probe", WORD_TEXT};
static volatile LONG counter = 7;

extern "C" void ProcessEntry()
{
    const IMAGE_DOS_HEADER* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr));
    UINT code = 0;
    const char* const message = reinterpret_cast<const char*>(dos) + DOS_MESSAGE_AT;
    bool linkers = dos->e_lfanew >= LONG(DOS_MESSAGE_AT + sizeof DOS_MESSAGE);
    for (UINT i = 0; linkers && i + 1 < sizeof DOS_MESSAGE; ++i) linkers = message[i] == DOS_MESSAGE[i];
    if (!linkers) code |= PROBE_HEADER_MOVED;
    if (lstrcmpA(words[1], "layout") != 0 || lstrlenA(words[0]) != 5) code |= PROBE_POINTER_WRONG;
    InterlockedIncrement(&counter);
    if (counter != 8) code |= PROBE_DATA_NOT_WRITABLE;
    ExitProcess(code);
}
