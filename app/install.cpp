#include "app/install.h"

#include "app/installer_state.h"
#include "app/main_window.h"
#include "pack/block_format.h"
#include "pack/file_end.h"
#include "pack/install_layout.h"
#include "pack/pack_reader.h"
#include "runtime/files.h"
#include "runtime/memory.h"
#include "runtime/registry.h"
#include "runtime/strings.h"
#include "ui/requester.h"

InstallOutcomeRecord InstallOutcome;

static const char PACK_FILE_NAME[] = "tmp.pak";
// The third line is the maker's web address; the readme's name goes between
// the two parts. "intalled" and "WinAmp" are kept as the installer has
// always shown them.
static const char COMPLETION_TEXT[] =
    "Plugin intalled\n"
    "Visit my web for more games:\n"
    "https://zivora-varelle.example.org/\n"
    "And read '";
static const char COMPLETION_TEXT_END[] = "' on WinAmp directory";

static const int FILE_EXECUTABLE = 0;
static const int FILE_PACK = 1;
static const int FILE_TARGET = 0;
static const int BLOCK_COPY = 0;
// Room for the longest path the ANSI calls take; a longer one comes back cut.
static const DWORD EXECUTABLE_PATH_SIZE = MAX_PATH;

// The executable's payload length must fit inside the file in front of the
// trailer, a file already known to be longer than the trailer; anything
// else is a damaged or incomplete installer.
static int PayloadLengthValid(DWORD fileLength, int32_t payloadLength)
{
    return payloadLength >= 1 && DWORD(payloadLength) <= fileLength - PACK_TRAILER_SIZE;
}

// Reads the payload of the open executable into memory block 0; 0 when it
// cannot be had whole. A signed executable ends, for the payload, where its
// certificate table begins.
static int PayloadRead()
{
    uint8_t head[PE_HEADS_READ_SIZE];
    const DWORD headSize = FileReadBlock(head, sizeof head);
    DWORD fileLength = FileLength();
    if (fileLength == FILE_FAILURE)
        return 0;
    fileLength = PackFileEnd(head, headSize, fileLength);
    if (fileLength <= PACK_TRAILER_SIZE)
        return 0;
    FileSetPosition(int32_t(fileLength - PACK_TRAILER_SIZE));
    InstallerState.PayloadLength = int32_t(FileReadU32());
    if (FileSlots.TransferCount != PACK_TRAILER_SIZE ||
        !PayloadLengthValid(fileLength, InstallerState.PayloadLength))
        return 0;
    const DWORD length = DWORD(InstallerState.PayloadLength);
    MemoryAllocate(BLOCK_COPY, InstallerState.PayloadLength);
    InstallerState.PayloadBlock = MemoryCurrent();
    if (!InstallerState.PayloadBlock) {
        InstallOutcome.Payload = PAYLOAD_TOO_LARGE;
        return 0;
    }
    if (FileSetPosition(int32_t(fileLength - length - PACK_TRAILER_SIZE)) == FILE_FAILURE)
        return 0;
    return FileReadBlock(InstallerState.PayloadBlock, length) == length;
}

// The move over an existing target fails this way when a program holds it
// open, as the player holds a plugin it has loaded; a read-only file or a
// folder of that name fails alike but is not in use.
static int TargetInUse(DWORD error, const char* path)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)))
        return 0;
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Writes the bytes to a new file under the temporary name and moves it over
// path in one step once every byte is on disk: a full disk, a failed write
// or a file in use leaves what stood at path as it was, and the temporary
// file goes on every outcome. TARGET_WRITTEN, or why not.
static TargetResult FileReplaceWhole(uint32_t number, const char* path, const char* temporary, const uint8_t* bytes,
                                     DWORD size, BY_HANDLE_FILE_INFORMATION* identity)
{
    const HANDLE file = FileCreateNew(number, temporary, identity);
    if (!file)
        return TARGET_NOT_CREATED;
    const DWORD written = bytes ? FileWriteBlock(bytes, size) : 0;
    const BOOL flushed = FlushFileBuffers(file);
    FileClose(number);
    TargetResult result = TARGET_NOT_WRITTEN;
    if (written == size && flushed) {
        if (MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return TARGET_WRITTEN;
        result = TargetInUse(GetLastError(), path) ? TARGET_IN_USE : TARGET_NOT_CREATED;
    }
    FileDelete(temporary);
    return result;
}

// The payload goes to PackPath the way a target goes to its place, through
// a new file beside it: a link planted under the name (a hard link, a
// symbolic one) is replaced, never written through nor deleted through. The
// identity of the file written is noted, so that the pack opened later can
// be checked to be the same one. 1 when it is there whole.
static int PayloadWriteTo()
{
    char* const scratch = StringBegin();
    StringAppend(InstallOutcome.PackPath);
    StringAppend(INSTALL_TEMPORARY_SUFFIX);
    StringHold();
    const TargetResult result = FileReplaceWhole(FILE_PACK, InstallOutcome.PackPath, scratch, InstallerState.PayloadBlock,
                                                 DWORD(InstallerState.PayloadLength), &InstallOutcome.PackWritten);
    StringRelease(scratch);
    return result == TARGET_WRITTEN;
}

// Beside the executable, where it always went; where that folder cannot be
// written (read-only media, a share the user may only read), in the
// system's temporary folder.
static PayloadResult PayloadWrite()
{
    char* const path = InstallOutcome.PackPath;
    MemoryCopy(PACK_FILE_NAME, path, sizeof PACK_FILE_NAME);
    if (!PayloadWriteTo()) {
        const DWORD room = MAX_PATH - (sizeof PACK_FILE_NAME - 1);
        const DWORD length = GetTempPathA(room, path);
        if (length == 0 || length >= room)
            return PAYLOAD_NOT_WRITTEN;
        MemoryCopy(PACK_FILE_NAME, path + length, sizeof PACK_FILE_NAME);
        if (!PayloadWriteTo())
            return PAYLOAD_NOT_WRITTEN;
    }
    InstallOutcome.PackCreated = 1;
    return PAYLOAD_READ;
}

void PayloadCopyOut(const char* executableName)
{
    InstallOutcome.Payload = PAYLOAD_NOT_OPENED;
    if (!FileOpenRead(FILE_EXECUTABLE, executableName))
        return;
    InstallOutcome.Payload = PayloadRead() ? PayloadWrite() : PAYLOAD_DAMAGED;
    FileClose(FILE_EXECUTABLE);
}

// Another program of the user can replace "tmp.pak" between our write and
// our read, in a folder it may write to; an elevated installer must install
// only what it wrote itself.
static int PackIsTheOneWritten()
{
    BY_HANDLE_FILE_INFORMATION opened;
    if (!GetFileInformationByHandle(PackReader.File, &opened))
        return 0;
    const BY_HANDLE_FILE_INFORMATION& written = InstallOutcome.PackWritten;
    return opened.dwVolumeSerialNumber == written.dwVolumeSerialNumber &&
           opened.nFileIndexHigh == written.nFileIndexHigh && opened.nFileIndexLow == written.nFileIndexLow;
}

// chosen directory + name + suffix, as a temporary held for one call;
// returns its start.
static char* TargetPathHold(const char* name, const char* suffix = nullptr)
{
    char* const start = StringBegin();
    StringAppend(InstallerState.ChosenDirectory);
    StringAppend(name);
    StringAppend(suffix);
    StringHold();
    return start;
}

static TargetResult EntryWrite(int index)
{
    const int32_t size = InstallerState.EntrySize;
    InstallerState.EntryBlock = MemoryAllocate(BLOCK_COPY, size);
    if (InstallerState.EntryBlock)
        MemoryCopy(InstallerState.EntryData, InstallerState.EntryBlock, uint32_t(size));
    else if (size > 0)
        return TARGET_TOO_LARGE;

    if (index == INSTALL_PLUGIN_DIRECTORY_TARGET) {
        char* const directory = TargetPathHold(INSTALL_PLUGIN_DIRECTORY);
        DirectoryCreate(directory);
        StringRelease(directory);
    }

    char* const path = TargetPathHold(INSTALL_TARGETS[index]);
    char* const temporary = TargetPathHold(INSTALL_TARGETS[index], INSTALL_TEMPORARY_SUFFIX);
    // One an earlier run left behind, cut off before its move; the chosen
    // directory is the user's own, trusted as it is.
    FileDelete(temporary);
    BY_HANDLE_FILE_INFORMATION identity;
    const TargetResult result = FileReplaceWhole(FILE_TARGET, path, temporary, InstallerState.EntryBlock,
                                                 DWORD(InstallerState.EntrySize), &identity);
    StringRelease(path);
    return result;
}

// PAYLOAD_READ when the pack just opened may be unpacked: the file written,
// still holding what was written, and four sound entries filling it. A
// damaged installer must not change a thing, not even in part, so every
// entry is decoded once here, before the first directory or target is made;
// where an entry is at fault it is marked.
static PayloadResult PackVerify()
{
    if (!PackIsTheOneWritten())
        return PAYLOAD_DAMAGED;
    // The same file may have been rewritten in place since.
    if (!PackHolds(InstallerState.PayloadBlock, uint32_t(InstallerState.PayloadLength)))
        return PAYLOAD_CHANGED;
    const int fault = PackCheck(INSTALL_TARGET_COUNT);
    if (fault < 0)
        return PAYLOAD_READ;
    // Sound, perhaps, but more than memory holds: nothing is installed.
    if (PackEntryDamaged() == PACK_DAMAGE_TOO_LARGE)
        return PAYLOAD_TOO_LARGE;
    if (fault < INSTALL_TARGET_COUNT)
        InstallOutcome.Target[fault] = PackEntryDamaged() ? TARGET_DAMAGED : TARGET_MISSING;
    return PAYLOAD_DAMAGED;
}

void PayloadUnpack()
{
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i)
        InstallOutcome.Target[i] = TARGET_NOT_TRIED;
    if (InstallOutcome.Payload != PAYLOAD_READ)
        return;
    InstallOutcome.Payload = PackOpen(InstallOutcome.PackPath) ? PackVerify() : PAYLOAD_DAMAGED;
    for (int i = 0; InstallOutcome.Payload == PAYLOAD_READ && i < INSTALL_TARGET_COUNT; ++i) {
        InstallerState.EntryData = PackNextEntry();
        InstallerState.EntrySize = PackEntrySize();
        // Only memory can fail the second reading; that entry's existing
        // file is kept, its target not even created.
        TargetResult result = TARGET_DAMAGED;
        if (InstallerState.EntryData)
            result = EntryWrite(i);
        else if (PackEntryDamaged() == PACK_DAMAGE_TOO_LARGE)
            result = TARGET_TOO_LARGE;
        InstallOutcome.Target[i] = result;
    }
    PackClose();
}

static void TextLine(const char* text)
{
    StringAppend("\n");
    StringAppend(text);
}

// The full path of a target, for the report: relative targets resolve
// against the current directory, which the file slots left at the
// executable's own.
static void TargetFullPathAppend(int index)
{
    char* const relative = TargetPathHold(INSTALL_TARGETS[index]);
    char* const full = InstallerState.WorkspacePosition;
    const DWORD length = GetFullPathNameA(relative, MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH) {
        StringRelease(relative);
        StringAppend(InstallerState.ChosenDirectory);
        StringAppend(INSTALL_TARGETS[index]);
        return;
    }
    // Move the full path down over the relative one it was built after.
    char* p = relative;
    for (const char* q = full; *q != '\0'; ++q)
        *p++ = *q;
    *p = '\0';
    InstallerState.WorkspacePosition = p;
}

static const char* TargetReason(TargetResult result)
{
    switch (result) {
    case TARGET_DAMAGED:
        return " (damaged installer data)";
    case TARGET_NOT_CREATED:
        return " (could not be created)";
    case TARGET_IN_USE:
        return " (in use: close Winamp and run the installer again)";
    case TARGET_TOO_LARGE:
        return " (too large, over " INSTALL_PAYLOAD_MAX_MIB " MiB)";
    default:
        return " (could not be written in full)";
    }
}

// Its data may well be sound: the user is told why the file could not be
// opened and how to help it, rather than to download it again.
static const char* const OPEN_FAILURE_TEXTS[] = {
    ".",
    ": its path has characters that this system's code page lacks.",
    ": its path is too long.",
};

// The first entry the check of the pack found at fault, if any.
static void EntryFaultAppend()
{
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        const TargetResult result = InstallOutcome.Target[i];
        if (result != TARGET_DAMAGED && result != TARGET_MISSING)
            continue;
        TextLine("Its entry for ");
        StringAppend(INSTALL_TARGETS[i]);
        StringAppend(result == TARGET_MISSING ? " is missing." : " is damaged.");
        return;
    }
}

PayloadResult ExecutableOpenFailure(const char* path, DWORD length)
{
    if (length >= EXECUTABLE_PATH_SIZE)
        return PAYLOAD_PATH_TOO_LONG;
    // The system puts '?' for each character the code page lacks, and '?'
    // is never part of a file's name.
    for (; *path != '\0'; ++path)
        if (*path == '?')
            return PAYLOAD_NAME_NOT_IN_CODE_PAGE;
    return PAYLOAD_NOT_OPENED;
}

char* InstallReportText(char* start, int* complete)
{
    int written = 0;
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i)
        written += InstallOutcome.Target[i] == TARGET_WRITTEN;
    const int registryFailed = InstallOutcome.Registry != REGISTRY_SET;
    *complete = written == INSTALL_TARGET_COUNT && !registryFailed;

    InstallerState.WorkspacePosition = start;
    if (*complete) {
        StringAppend(COMPLETION_TEXT);
        StringAppend(INSTALL_TARGETS[INSTALL_README_TARGET]);
        StringAppend(COMPLETION_TEXT_END);
        return start;
    }
    StringAppend(written == 0 ? "Plugin not installed" : "Plugin partly installed");
    if (InstallOutcome.Payload >= PAYLOAD_NOT_OPENED) {
        TextLine("The installer cannot open its own file");
        StringAppend(OPEN_FAILURE_TEXTS[InstallOutcome.Payload - PAYLOAD_NOT_OPENED]);
        if (InstallOutcome.Payload != PAYLOAD_NOT_OPENED)
            TextLine("Move or rename it and run it again.");
        return start;
    }
    if (InstallOutcome.Payload == PAYLOAD_DAMAGED) {
        TextLine("The installer file is damaged or incomplete.");
        EntryFaultAppend();
        return start;
    }
    // Memory refused the pack: the same words as for an entry.
    if (InstallOutcome.Payload == PAYLOAD_TOO_LARGE) {
        StringAppend(TargetReason(TARGET_TOO_LARGE));
        return start;
    }
    if (InstallOutcome.Payload == PAYLOAD_CHANGED) {
        TextLine("The installer's temporary file was changed while it ran.");
        return start;
    }
    if (InstallOutcome.Payload == PAYLOAD_NOT_WRITTEN) {
        TextLine("Could not write ");
        StringAppend(InstallerState.ModuleDirectory);
        StringAppend(PACK_FILE_NAME);
        return start;
    }
    if (written != INSTALL_TARGET_COUNT) {
        TextLine("These files could not be written:");
        for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
            if (InstallOutcome.Target[i] == TARGET_WRITTEN)
                continue;
            StringAppend("\n");
            TargetFullPathAppend(i);
            StringAppend(TargetReason(InstallOutcome.Target[i]));
        }
    }
    if (registryFailed)
        TextLine("The Winamp directory could not be recorded in the registry.");
    return start;
}

void InstallFinish()
{
    // "tmp.pak" goes on every path once it was made; beside the executable
    // its name is relative, and the file slots left that directory current.
    if (InstallOutcome.PackCreated)
        FileDelete(InstallOutcome.PackPath);
    // Nothing was installed when the payload could not be read, so there is
    // no directory to record.
    InstallOutcome.Registry = -1;
    if (InstallOutcome.Payload == PAYLOAD_READ)
        InstallOutcome.Registry =
            RegistryWriteString(HKEY_LOCAL_MACHINE, INSTALL_REGISTRY_KEY, INSTALL_REGISTRY_VALUE, InstallerState.ChosenDirectory);

    int complete = 0;
    char* const text = InstallReportText(StringBegin(), &complete);
    StringHold();
    if (complete)
        RequestMessage(MAIN_TITLE, text);
    else
        RequestWarning(MAIN_TITLE, text);
    StringRelease(text);
    InstallerState.ExitCode = complete ? 0 : 1;
}

void InstallPayload()
{
    InstallOutcome = InstallOutcomeRecord();
    char* const start = StringBegin();
    StringSpaces(int32_t(EXECUTABLE_PATH_SIZE), start);
    StringAssign(&InstallerState.ExecutablePath, start);
    const DWORD length = GetModuleFileNameA(nullptr, InstallerState.ExecutablePath, EXECUTABLE_PATH_SIZE);
    PathFilePart(InstallerState.ExecutablePath, start);
    StringAssign(&InstallerState.ExecutableName, start);

    // A path cut short names another file, or none: it is not opened.
    InstallOutcome.Payload = PAYLOAD_NOT_OPENED;
    if (length < EXECUTABLE_PATH_SIZE)
        PayloadCopyOut(InstallerState.ExecutableName);
    if (InstallOutcome.Payload == PAYLOAD_NOT_OPENED)
        InstallOutcome.Payload = ExecutableOpenFailure(InstallerState.ExecutablePath, length);
    PayloadUnpack();
    InstallFinish();
}
