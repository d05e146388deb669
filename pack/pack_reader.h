// The pack reader: opens a pack file and hands out its entries one by one,
// unpacked, in the order in which they are stored (formats in
// pack/block_format.h). One pack is open at a time.
//
// Calling order: PackOpen; then PackNextEntry, each call followed by
// PackEntrySize, once per entry; then PackClose. The address PackNextEntry
// returns belongs to the reader and stays valid until the next PackNextEntry
// that reads a complete entry header, or until PackClose; callers copy the
// bytes out and never free them.
//
// An entry whose stored bytes are cut short, or whose block does not expand
// to exactly its unpacked size, is never handed out: PackNextEntry gives
// none for it, PackEntryDamaged says why, and the entry's stored bytes are
// still consumed, so the entries after it can be read.
#pragma once

#include <windows.h>
#include <stdint.h>

constexpr uint32_t PACK_MODE_READING = 1;
constexpr int32_t PACK_NO_ENTRY = -1;

// Why the latest PackNextEntry delivered nothing.
enum PackDamage : uint32_t {
    PACK_SOUND = 0,            // an entry was delivered, or the pack ended where an entry may end
    PACK_DAMAGE_SHORT_READ,    // the pack ends inside the entry's header or stored bytes
    PACK_DAMAGE_BAD_BLOCK,     // the block is not one, fails its checksum, or gives another size
    PACK_DAMAGE_TOO_LARGE,     // the entry's sizes are more than memory can hold
};

struct PackReaderRecord {
    HANDLE File;          // the open pack, or 0
    uint32_t Mode;        // PACK_MODE_READING once a pack was opened
    uint8_t* EntryBuffer; // the current entry's bytes, in the runtime heap, or 0
    int32_t EntrySize;    // its unpacked size; PACK_NO_ENTRY when none was delivered
    PackDamage Damage;    // why the latest PackNextEntry delivered nothing
};

extern PackReaderRecord PackReader;

// Closes any open pack, then opens the named one (a relative name is taken
// from the executable's directory, which stays the current directory).
// Returns 1 when the pack was opened, 0 when not.
int PackOpen(const char* name);

// 1 when the open pack file holds exactly these bytes, no more, no fewer;
// then the next entry read is the first. Meant to be called right after
// PackOpen: the pack is open without write sharing, so what it compares is
// what the entries are read from.
int PackHolds(const uint8_t* bytes, uint32_t length);

// Reads the whole open pack once, as PackNextEntry hands it out: -1 when it
// holds exactly count sound entries and ends where the last one ends, and
// then the next entry read is the first again. Otherwise the number of the
// first entry that is damaged or missing (PackEntryDamaged gives PACK_SOUND
// for one the pack ended before), or count when more follows the last.
int PackCheck(int count);

// The next entry's unpacked bytes, or 0 at the end of the pack, without an
// open pack, or for an entry that cannot be delivered sound.
uint8_t* PackNextEntry();

// Unpacked size of the entry the latest PackNextEntry delivered;
// PACK_NO_ENTRY when it delivered none or no pack is open.
int32_t PackEntrySize();

// Why the latest PackNextEntry delivered nothing; PACK_SOUND when it
// delivered an entry or met the end of the pack.
PackDamage PackEntryDamaged();

// Closes the pack file and frees the entry buffer.
void PackClose();
