#include "pack/pack_reader.h"

#include "app/installer_state.h"
#include "pack/block_decoder.h"
#include "pack/block_format.h"
#include "pack/install_layout.h"
#include "runtime/strings.h"

PackReaderRecord PackReader;

// The comparison reads the pack in pieces of this size, on the stack: below
// a page, so that the frame needs no stack probe.
static const DWORD PACK_COMPARE_PIECE = 2048;

static void PackBufferFree(uint8_t* buffer)
{
    if (buffer)
        HeapFree(InstallerState.RuntimeHeap, 0, buffer);
}

// Passes over stored bytes that cannot be read into memory, so that the next
// header is read where it lies. The distance is unsigned: a high part of 0
// keeps SetFilePointer from taking it as a step backwards.
// 1 when the bytes passed over were all there.
static int PackSkip(uint32_t stored)
{
    LONG high = 0;
    const DWORD at = SetFilePointer(PackReader.File, LONG(stored), &high, FILE_CURRENT);
    return high == 0 && at != INVALID_SET_FILE_POINTER && at <= GetFileSize(PackReader.File, nullptr);
}

static int PackRewind()
{
    return SetFilePointer(PackReader.File, 0, nullptr, FILE_BEGIN) == 0;
}

// One ReadFile of the whole count; 1 only when every byte arrived.
static int PackRead(uint8_t* destination, uint32_t count)
{
    DWORD read = 0;
    return ReadFile(PackReader.File, destination, count, &read, nullptr) && read == count;
}

// Reads the stored bytes of a block entry and expands them into the entry.
// PACK_DAMAGE_TOO_LARGE, with the stored bytes not yet consumed, when they
// do not fit in memory.
static PackDamage PackExpand(uint8_t* entry, uint32_t unpacked, uint32_t stored)
{
    uint8_t* const block = static_cast<uint8_t*>(HeapAlloc(InstallerState.RuntimeHeap, 0, stored));
    if (!block)
        return PACK_DAMAGE_TOO_LARGE;
    PackDamage damage = PACK_DAMAGE_SHORT_READ;
    if (PackRead(block, stored)) {
        // The decoder learns both buffers' sizes, so no entry can take it
        // outside them; anything but exactly the unpacked size is damage.
        damage = BlockSound(block, stored, entry, unpacked) ? PACK_SOUND : PACK_DAMAGE_BAD_BLOCK;
    }
    PackBufferFree(block);
    return damage;
}

// The entry after a complete header: its unpacked bytes in a new buffer, or
// 0 with the reason in PackReader.Damage. Its stored bytes are consumed
// either way.
static uint8_t* PackEntryRead(uint32_t unpacked, uint32_t stored)
{
    uint8_t* entry = nullptr;
    if (unpacked <= INSTALL_SIZE_MAX)
        entry = static_cast<uint8_t*>(HeapAlloc(InstallerState.RuntimeHeap, 0, unpacked));
    // A size no entry may have is damage; one memory refuses is not. A
    // stored entry is read straight into its buffer: the same single read,
    // without a second copy of the bytes.
    if (!entry)
        PackReader.Damage = unpacked > INSTALL_SIZE_MAX ? PACK_DAMAGE_BAD_BLOCK : PACK_DAMAGE_TOO_LARGE;
    else if (stored == unpacked)
        PackReader.Damage = PackRead(entry, stored) ? PACK_SOUND : PACK_DAMAGE_SHORT_READ;
    else
        PackReader.Damage = PackExpand(entry, unpacked, stored);
    // Whichever buffer memory refused, the one skip here passes over the
    // stored bytes; an entry is only too large, not damaged, when they are
    // all there (a damaged trailer or header gives sizes no memory holds).
    if ((!entry || PackReader.Damage == PACK_DAMAGE_TOO_LARGE) && !PackSkip(stored))
        PackReader.Damage = PACK_DAMAGE_SHORT_READ;
    if (PackReader.Damage != PACK_SOUND) {
        PackBufferFree(entry);
        return nullptr;
    }
    return entry;
}

int PackOpen(const char* name)
{
    PackClose();
    PackReader.EntrySize = PACK_NO_ENTRY;
    PackReader.Damage = PACK_SOUND;
    SetCurrentDirectoryA(InstallerState.ModuleDirectory);
    HANDLE const file = CreateFileA(name ? name : EMPTY_TEXT, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    PackReader.File = file;
    PackReader.Mode = PACK_MODE_READING;
    return 1;
}

int PackHolds(const uint8_t* bytes, uint32_t length)
{
    uint8_t piece[PACK_COMPARE_PIECE];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(PackReader.File, piece, sizeof piece, &read, nullptr) || read > length)
            return 0;
        if (read == 0)
            break;
        for (DWORD i = 0; i < read; ++i)
            if (piece[i] != bytes[i])
                return 0;
        bytes += read;
        length -= read;
    }
    return length == 0 && PackRewind();
}

int PackCheck(int count)
{
    for (int i = 0; i < count; ++i)
        if (!PackNextEntry())
            return i;
    if (PackNextEntry() || PackReader.Damage != PACK_SOUND || !PackRewind())
        return count;
    return -1;
}

uint8_t* PackNextEntry()
{
    PackReader.EntrySize = PACK_NO_ENTRY;
    PackReader.Damage = PACK_SOUND;
    if (!PackReader.File || PackReader.Mode != PACK_MODE_READING)
        return nullptr;

    uint8_t header[PACK_ENTRY_HEADER_SIZE];
    DWORD read = 0;
    ReadFile(PackReader.File, header, PACK_ENTRY_HEADER_SIZE, &read, nullptr);
    // Until a complete header arrives, the previous entry stays valid.
    if (read == 0)
        return nullptr;
    if (read != PACK_ENTRY_HEADER_SIZE) {
        PackReader.Damage = PACK_DAMAGE_SHORT_READ;
        return nullptr;
    }
    PackBufferFree(PackReader.EntryBuffer);
    const uint32_t unpacked = LoadU32(header + PACK_ENTRY_UNPACKED_SIZE_OFFSET);
    const uint32_t stored = LoadU32(header + PACK_ENTRY_STORED_SIZE_OFFSET);
    PackReader.EntryBuffer = PackEntryRead(unpacked, stored);
    if (!PackReader.EntryBuffer)
        return nullptr;
    PackReader.EntrySize = int32_t(unpacked);
    return PackReader.EntryBuffer;
}

int32_t PackEntrySize()
{
    if (!PackReader.File || PackReader.Mode != PACK_MODE_READING)
        return PACK_NO_ENTRY;
    return PackReader.EntrySize;
}

PackDamage PackEntryDamaged()
{
    return PackReader.Damage;
}

// The mode is deliberately never cleared: without a file nothing is read.
void PackClose()
{
    if (PackReader.File)
        CloseHandle(PackReader.File);
    PackReader.File = nullptr;
    PackBufferFree(PackReader.EntryBuffer);
    PackReader.EntryBuffer = nullptr;
}
