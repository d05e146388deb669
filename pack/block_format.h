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
//   A signed file ends the pack in front of its certificate table instead:
//   S is then PackFileEnd (pack/file_end.h).
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
constexpr uint32_t PACK_ENTRY_UNPACKED_SIZE_OFFSET = 0;
constexpr uint32_t PACK_ENTRY_STORED_SIZE_OFFSET = 4;

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

// Block bit stream: codes and fields shared by the decoder and every encoder.
//
//   1   literal width bits                      literal, + literal base mod 256
//   01  gamma 2, gamma n                        repeat match from the last offset
//   01  gamma g >= 3, low width bits, gamma n   match, offset ((g - 3) << width) | low
//   000 7 bits o != 0, 2 bits l                 short match, offset o, length l + 2
//   000 7 bits 0, 2 bits 0                      end code (twelve zero bits)
//   000 7 bits 0, 2 bits l != 0, l + 3 bits w   offset low width := w
//   001 4 bits v >= 2                           near byte from offset v - 1
//   001 4 bits 1                                zero byte
//   001 4 bits 0, bit 1                         raw runs of 256 8-bit bytes, each
//                                               followed by a bit: 1 = another run
//   001 4 bits 0, bit 0, bit b [, 8 bits base]  literal format: width 7 + b, base
//                                               0 or (when b = 0) the next 8 bits
// The prefixes are unary: literal 1, match 01, then 001 and 000.
constexpr uint32_t BLOCK_LITERAL_PREFIX_BITS = 1;
constexpr uint32_t BLOCK_MATCH_PREFIX_BITS = 2;
constexpr uint32_t BLOCK_SHORT_PREFIX_BITS = 3;  // both the 000 and the 001 codes
constexpr uint32_t BLOCK_FIRST_LAST_OFFSET = 1;
constexpr uint32_t BLOCK_FIRST_OFFSET_LOW_WIDTH = 8;
constexpr uint32_t BLOCK_MAX_OFFSET_LOW_WIDTH = 31;
constexpr uint32_t BLOCK_SHORT_OFFSET_BITS = 7;
constexpr uint32_t BLOCK_SHORT_LENGTH_BITS = 2;
constexpr uint32_t BLOCK_SHORT_MIN_LENGTH = 2;
constexpr uint32_t BLOCK_OFFSET_WIDTH_EXTRA_BITS = 3;
constexpr uint32_t BLOCK_NEAR_BITS = 4;
constexpr uint32_t BLOCK_NEAR_ZERO_BYTE = 1;
constexpr uint32_t BLOCK_REPEAT_GAMMA = 2;
constexpr uint32_t BLOCK_MATCH_GAMMA_BIAS = 3;
constexpr uint32_t BLOCK_LITERAL_BASE_BITS = 8;
constexpr uint32_t BLOCK_LITERAL_MIN_WIDTH = 7;
constexpr uint32_t BLOCK_RAW_RUN_SIZE = 256;

// Extra length of a new-offset match: longer offsets cost more bits, so the
// shortest match worth coding grows with the offset, and the coded length
// starts where it becomes worth it. Offsets up to 127 have the short match for
// lengths 2 to 5. A sum of comparisons, not a chain of branches: the decoder
// meets offsets of every size in no predictable order.
inline uint32_t BlockLengthBonus(uint32_t offset)
{
    return 4 * uint32_t(offset <= 0x7F) + uint32_t(offset >= 0x27F) + uint32_t(offset >= 0x37FF) +
           uint32_t(offset >= 0x10000);
}
