#include "runtime/files.h"

#include <string.h>

#include "app/installer_state.h"
#include "runtime/memory.h"
#include "runtime/strings.h"

FileSlotsRecord FileSlots;

// The largest number whose grown table still has a size that fits in 32 bits.
static const uint32_t FILE_NUMBER_LIMIT = 0xFFFFFFFF / sizeof(HANDLE) - FILE_TABLE_GROWTH;

void FileInit()
{
    // A start-up after an earlier shutdown in the same process begins clean,
    // the value buffer's bytes included.
    memset(&FileSlots, 0, sizeof FileSlots);
    FileSlots.FileTable = static_cast<HANDLE*>(HeapAlloc(
        InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY, FILE_TABLE_START_CAPACITY * sizeof(HANDLE)));
    FileSlots.Capacity = FileSlots.FileTable ? FILE_TABLE_START_CAPACITY : 0;
}

// Deliberately empty: the end of the process closes the files still open.
void FileEnd()
{
}

// Makes room for the number. On failure the old table and its handles stay
// as they were and 0 is returned.
static int FileTableReach(uint32_t number)
{
    if (number < FileSlots.Capacity)
        return 1;
    if (number > FILE_NUMBER_LIMIT)
        return 0;
    const uint32_t capacity = number + FILE_TABLE_GROWTH;
    void* const grown = RuntimeTableResize(FileSlots.FileTable, capacity * sizeof(HANDLE));
    if (!grown)
        return 0;
    FileSlots.FileTable = static_cast<HANDLE*>(grown);
    FileSlots.Capacity = capacity;
    return 1;
}

static HANDLE FileOpenMode(uint32_t number, const char* name, DWORD access, DWORD disposition, DWORD flags)
{
    FileSlots.CurrentFile = nullptr;
    // No slot to keep the handle in: opening anyway would leak a file that
    // nobody could close.
    if (!FileTableReach(number))
        return nullptr;
    SetCurrentDirectoryA(InstallerState.ModuleDirectory);
    HANDLE file =
        CreateFileA(name ? name : EMPTY_TEXT, access, FILE_SHARE_READ, nullptr, disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        file = nullptr;
    FileSlots.FileTable[number] = file;
    FileSlots.CurrentFile = file;
    return file;
}

HANDLE FileCreate(uint32_t number, const char* name)
{
    return FileOpenMode(number, name, GENERIC_WRITE, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL);
}

// A create that opens an existing file writes through whatever link stands
// under the name, to a file elsewhere: CREATE_NEW never opens one, and a
// reparse point is opened as itself, never followed. The checks on the
// handle catch a second name given to the new file before a byte is written.
HANDLE FileCreateNew(uint32_t number, const char* name, BY_HANDLE_FILE_INFORMATION* identity)
{
    HANDLE const file =
        FileOpenMode(number, name, GENERIC_WRITE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT);
    if (!file)
        return nullptr;
    if (GetFileInformationByHandle(file, identity) && identity->nNumberOfLinks == 1 &&
        !(identity->dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return file;
    CloseHandle(file);
    DeleteFileA(name);
    FileSlots.FileTable[number] = nullptr;
    FileSlots.CurrentFile = nullptr;
    return nullptr;
}

HANDLE FileOpenRead(uint32_t number, const char* name)
{
    return FileOpenMode(number, name, GENERIC_READ, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
}

BOOL FileClose(uint32_t number)
{
    if (number >= FileSlots.Capacity)
        return 0;
    HANDLE const file = FileSlots.FileTable[number];
    if (!file)
        return 0;
    return CloseHandle(file);
}

DWORD FileLength()
{
    return GetFileSize(FileSlots.CurrentFile, nullptr);
}

DWORD FileSetPosition(int32_t position)
{
    return SetFilePointer(FileSlots.CurrentFile, position, nullptr, FILE_BEGIN);
}

uint32_t FileReadU32()
{
    FileReadBlock(FileSlots.ValueBuffer, sizeof FileSlots.ValueBuffer);
    // Windows runs little-endian only, so the buffer's bytes are the value
    // as they stand: one load, where the shifts came out as eight
    // instructions.
    uint32_t value;
    memcpy(&value, FileSlots.ValueBuffer, sizeof value);
    return value;
}

DWORD FileReadBlock(void* destination, DWORD count)
{
    FileSlots.TransferCount = 0;
    ReadFile(FileSlots.CurrentFile, destination, count, &FileSlots.TransferCount, nullptr);
    return FileSlots.TransferCount;
}

DWORD FileWriteBlock(const void* source, DWORD count)
{
    FileSlots.TransferCount = 0;
    WriteFile(FileSlots.CurrentFile, source, count, &FileSlots.TransferCount, nullptr);
    return FileSlots.TransferCount;
}
