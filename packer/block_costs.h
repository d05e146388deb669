// What a parse is made of, and what each piece costs in bits in a block.
// The parsers choose tokens by these costs; the block writer turns the
// tokens into codes. Both must agree, so the costs live here once.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "pack/block_format.h"

// Limits of the codes, in the terms the parsers use.
constexpr uint32_t SHORT_OFFSET_MAX = (1u << BLOCK_SHORT_OFFSET_BITS) - 1;
constexpr uint32_t SHORT_LENGTH_MAX = BLOCK_SHORT_MIN_LENGTH + (1u << BLOCK_SHORT_LENGTH_BITS) - 1;
constexpr uint32_t NEAR_OFFSET_MAX = (1u << BLOCK_NEAR_BITS) - 1 - 1;  // field v is 2..15, offset v - 1
constexpr uint32_t OFFSET_WIDTH_MIN = 1;
// The offset low width is chosen per stretch of this many bytes: the width
// code goes before the first match of a stretch whose width changes. Short
// stretches let the width follow the offsets closely; the choice pays a
// width code only where it saves more than the code's 16 to 18 bits.
constexpr size_t OFFSET_WIDTH_STRETCH = 64;

// Longest token the optimal parse handles: it packs a length into 22 bits of
// a word. A longer copy becomes several tokens, the later ones repeat matches
// of a few dozen bits each, which is nothing next to megabytes of output.
constexpr uint32_t PARSE_LENGTH_MAX = (1u << 22) - 1;

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
    return v > 1 ? 2 * uint32_t(31 - __builtin_clz(v)) : 0;
}

inline bool IsShortMatch(uint32_t offset, uint32_t length)
{
    return offset <= SHORT_OFFSET_MAX && length >= BLOCK_SHORT_MIN_LENGTH &&
           length <= SHORT_LENGTH_MAX;
}

// True when a new-offset match of this length and offset has a code: the
// short match, or a gamma length that stays at 2 or more after the bonus.
inline bool MatchCodable(uint32_t offset, uint32_t length)
{
    return IsShortMatch(offset, length) || length >= BlockLengthBonus(offset) + 2;
}

// A literal: its prefix and the value in the width in force.
constexpr uint32_t COST_LITERAL_7 = BLOCK_LITERAL_PREFIX_BITS + BLOCK_LITERAL_MIN_WIDTH;
constexpr uint32_t COST_LITERAL_8 = COST_LITERAL_7 + 1;
constexpr uint32_t COST_SHORT_MATCH = BLOCK_SHORT_PREFIX_BITS + BLOCK_SHORT_OFFSET_BITS + BLOCK_SHORT_LENGTH_BITS;
constexpr uint32_t COST_NEAR_OR_ZERO = BLOCK_SHORT_PREFIX_BITS + BLOCK_NEAR_BITS;
// The 001 code of value 0, the bit that tells a literal format from raw runs, the width bit.
constexpr uint32_t COST_LITERAL_FORMAT_8 = COST_NEAR_OR_ZERO + 1 + 1;
constexpr uint32_t COST_LITERAL_FORMAT_7 = COST_LITERAL_FORMAT_8 + BLOCK_LITERAL_BASE_BITS;
// Entering raw runs, one run of bytes and the bit that ends it.
constexpr uint32_t COST_RAW_RUN = COST_NEAR_OR_ZERO + 1 + BLOCK_RAW_RUN_SIZE * 8 + 1;

// The prefix, the gamma high part, the low field and the gamma length.
inline uint32_t MatchCost(uint32_t offset, uint32_t length, uint32_t lowWidth)
{
    if (IsShortMatch(offset, length)) return COST_SHORT_MATCH;
    return BLOCK_MATCH_PREFIX_BITS + GammaBits((offset >> lowWidth) + BLOCK_MATCH_GAMMA_BIAS) + lowWidth +
           GammaBits(length - BlockLengthBonus(offset));
}

inline uint32_t RepeatCost(uint32_t length)
{
    return BLOCK_MATCH_PREFIX_BITS + GammaBits(BLOCK_REPEAT_GAMMA) + GammaBits(length);
}

// The offset width code's length field l for width: the width goes in the
// fewest l + BLOCK_OFFSET_WIDTH_EXTRA_BITS bits that hold it (l = 0 is the end code).
inline uint32_t OffsetWidthLengthCode(uint32_t width)
{
    return width >> (BLOCK_OFFSET_WIDTH_EXTRA_BITS + 1) == 0 ? 1 : 2;
}

// A 000 code with offset 0 and the length field, then the width.
inline uint32_t OffsetWidthCodeCost(uint32_t width)
{
    return COST_SHORT_MATCH + OffsetWidthLengthCode(width) + BLOCK_OFFSET_WIDTH_EXTRA_BITS;
}
