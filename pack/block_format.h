// The two on-disk formats the installer reads and the packer writes.
// Both sides include this header; it is the one place for their constants.
//
// Installer file:
//
//   +---------------------------+  offset 0
//   | executable image          |
//   +---------------------------+
//   | (anything, not read)      |
//   +---------------------------+  S - 4 - L
//   | pack, L bytes             |
//   +---------------------------+  S - 4
//   | L: u32 little-endian      |  trailer
//   +---------------------------+  S = file size
//
// Pack: entries back to back, nothing before, between or after them.
//
//   +--------+--------+------------------+
//   | U: u32 | T: u32 | T stored bytes   |   U = unpacked size, T = stored size
//   +--------+--------+------------------+
//   T == U: the bytes are stored as they are (whatever they begin with).
//   T != U: the bytes are one block that expands to U bytes.
//   The pack ends where no complete 8-byte header follows.
//
// Block:
//
//   +------+----------+----------+--------------------------------+
//   | "QZ" | U: u32   | C: u32   | k words of 32 bits, each LE    |
//   +------+----------+----------+--------------------------------+
//   0      2          6          10                               10 + 4k
//   C = BlockChecksum of the U unpacked bytes, or 0 for "no checksum".
//   Bits are taken from each word's bit 31 down to bit 0.
#pragma once

#include <stdint.h>

constexpr uint32_t PACK_TRAILER_SIZE = 4;
constexpr uint32_t PACK_ENTRY_HEADER_SIZE = 8;

constexpr uint8_t BLOCK_MAGIC_0 = 'Q';
constexpr uint8_t BLOCK_MAGIC_1 = 'Z';
constexpr uint32_t BLOCK_UNPACKED_SIZE_OFFSET = 2;
constexpr uint32_t BLOCK_CHECKSUM_OFFSET = 6;
constexpr uint32_t BLOCK_HEADER_SIZE = 10;

// Little-endian loads and stores, independent of the host's byte order.
inline uint32_t LoadU32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline void StoreU32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}
