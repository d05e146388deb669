// Numbered file slots over the Win32 file functions.
//
// A caller creates or opens a file under a small number of its own choosing
// and closes it by number; length, position, reads and writes act on
// CurrentFile, the file created or opened last, whatever its number. Every
// create and open first makes the executable's directory the process's
// current directory and leaves it there, so relative names resolve beside the
// executable (the install procedure and the registry helpers rely on both).
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr uint32_t FILE_TABLE_START_CAPACITY = 10;
// Using a number at or beyond the capacity grows the table to number + this.
constexpr uint32_t FILE_TABLE_GROWTH = 10;
constexpr uint32_t FILE_FAILURE = 0xFFFFFFFF;

struct FileSlotsRecord {
    HANDLE* FileTable;      // one handle per number, in the runtime heap; 0 = empty
    uint32_t Capacity;      // valid numbers are 0 to Capacity - 1
    HANDLE CurrentFile;     // target of every transfer; 0 after a failed create or open
    DWORD TransferCount;    // bytes moved by the latest read or write
    uint8_t ValueBuffer[4]; // FileReadU32 reads here; keeps its bytes between calls
};

extern FileSlotsRecord FileSlots;

// Ten empty slots. A table the runtime heap refused is tried again on first
// use.
void FileInit();

// Files still open are left to the end of the process.
void FileEnd();

// Creates (or truncates) a file for writing under the number. Returns the
// handle, or 0; either becomes the number's slot and CurrentFile. A file still
// open under the number stays open: close a number before reusing it.
HANDLE FileCreate(uint32_t number, const char* name);

// Creates a new file for writing under the number, as FileCreate, but fails
// when anything stands under the name: a file, a folder or a link. Returns 0
// also, with nothing left under the name, unless the new file is a plain one
// of our own: one name, no reparse point. Its identity (volume serial and
// file index) goes to *identity.
HANDLE FileCreateNew(uint32_t number, const char* name, BY_HANDLE_FILE_INFORMATION* identity);

// Opens an existing file for reading under the number; as FileCreate.
HANDLE FileOpenRead(uint32_t number, const char* name);

// Closes the number's file: CloseHandle's result, or 0 for an empty slot. The
// slot keeps its value and CurrentFile is unchanged.
BOOL FileClose(uint32_t number);

// Low 32 bits of CurrentFile's size, or FILE_FAILURE.
DWORD FileLength();

// Moves to a byte offset from the start; the new position, or FILE_FAILURE
// (a negative offset fails and leaves the position where it was).
DWORD FileSetPosition(int32_t position);

// A little-endian u32 from the current position. Bytes a short read did not
// reach keep their values from the previous call (zero before the first).
uint32_t FileReadU32();

// Number of bytes read into destination / written from source.
DWORD FileReadBlock(void* destination, DWORD count);
DWORD FileWriteBlock(const void* source, DWORD count);
