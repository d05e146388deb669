// A program linked and compacted as the installer is, with four sections
// (.text, .data, .rdata, .reloc), so that compacting its headers moves every
// section's data in the file. It runs to its exit
// code only if the loader found its imports, its data and its relocations
// where the rewritten headers say; the code's bits say what was wrong.
#include <windows.h>

enum {
    PROBE_HEADER_MOVED = 1,     // the PE header does not follow the DOS header
    PROBE_POINTER_WRONG = 2,    // a relocated pointer into .rdata reads wrong text
    PROBE_DATA_NOT_WRITABLE = 4 // .data lost what was written to it
};

static const char WORD_TEXT[] = "layout";
// Initialised pointers, read as stored: .data, with a relocation each.
static const char* volatile words[] = {"probe", WORD_TEXT};
static volatile LONG counter = 7;

extern "C" void ProcessEntry()
{
    const IMAGE_DOS_HEADER* const dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(GetModuleHandleA(nullptr));
    UINT code = 0;
    if (dos->e_lfanew != sizeof(IMAGE_DOS_HEADER)) code |= PROBE_HEADER_MOVED;
    if (lstrcmpA(words[1], "layout") != 0 || lstrlenA(words[0]) != 5) code |= PROBE_POINTER_WRONG;
    InterlockedIncrement(&counter);
    if (counter != 8) code |= PROBE_DATA_NOT_WRITABLE;
    ExitProcess(code);
}
