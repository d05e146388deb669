// What a parse is made of, and what each piece costs in bits in a block.
// The parsers choose tokens by these costs; the block writer turns the
// tokens into codes. Both must agree, so the costs live here once.
#pragma once

#include <stdint.h>

#include <vector>

#include "pack/block_format.h"

enum TokenKind : uint8_t {
    TOKEN_BYTE,    // one byte: literal, zero byte or near byte, whichever is cheapest
    TOKEN_MATCH,   // copy length bytes from offset; sets the last offset
    TOKEN_REPEAT,  // copy length bytes from the last offset
    TOKEN_RAW,     // length bytes (a multiple of the raw run size) as raw runs
};

struct Token {
    uint32_t length;
    uint32_t offset;  // TOKEN_MATCH only
    TokenKind kind;
};

using TokenList = std::vector<Token>;

// Bits of a gamma number v >= 2: one data bit and one continuation bit for
// every bit below the leading one.
inline uint32_t GammaBits(uint32_t v)
{
    uint32_t bits = 0;
    while (v > 1) {
        v >>= 1;
        bits += 2;
    }
    return bits;
}

// The decoder adds this to the coded length of a new-offset match.
inline uint32_t LengthBonus(uint32_t offset)
{
    if (offset >= BLOCK_BONUS3_OFFSET) return 3;
    if (offset >= BLOCK_BONUS2_OFFSET) return 2;
    if (offset >= BLOCK_BONUS1_OFFSET) return 1;
    if (offset > BLOCK_SHORT_OFFSET_MAX) return 0;
    return 4;
}

inline bool IsShortMatch(uint32_t offset, uint32_t length)
{
    return offset <= BLOCK_SHORT_OFFSET_MAX && length >= BLOCK_SHORT_LENGTH_MIN &&
           length <= BLOCK_SHORT_LENGTH_MAX;
}

// True when a new-offset match of this length and offset has a code: the
// short match, or a gamma length that stays at 2 or more after the bonus.
inline bool MatchCodable(uint32_t offset, uint32_t length)
{
    return IsShortMatch(offset, length) || length >= LengthBonus(offset) + 2;
}

constexpr uint32_t COST_SHORT_MATCH = 3 + 7 + 2;
constexpr uint32_t COST_NEAR_OR_ZERO = 3 + 4;
constexpr uint32_t COST_LITERAL_FORMAT_8 = 3 + 4 + 1 + 1;
constexpr uint32_t COST_LITERAL_FORMAT_7 = COST_LITERAL_FORMAT_8 + 8;
constexpr uint32_t COST_END = 3 + 7 + 2;
// Entering raw runs, one run of bytes and the bit that ends it.
constexpr uint32_t COST_RAW_RUN = 3 + 4 + 1 + BLOCK_RAW_RUN_SIZE * 8 + 1;

// Prefix 01, the gamma high part, the low field and the gamma length.
inline uint32_t MatchCost(uint32_t offset, uint32_t length, uint32_t lowWidth)
{
    if (IsShortMatch(offset, length)) return COST_SHORT_MATCH;
    return 2 + GammaBits((offset >> lowWidth) + BLOCK_MATCH_HIGH_BIAS) + lowWidth +
           GammaBits(length - LengthBonus(offset));
}

// Prefix 01, the gamma number 2 and the gamma length.
inline uint32_t RepeatCost(uint32_t length)
{
    return 2 + 2 + GammaBits(length);
}

// Bits of the offset width code that sets width w.
inline uint32_t OffsetWidthCodeCost(uint32_t width)
{
    return 3 + 7 + 2 + (width < 16 ? 4 : 5);
}
