// Turns a parse into a block: chooses the literal formats and the offset low
// widths that make the parse cheapest, once per parse, then writes the codes.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "packer/block_costs.h"

// The value of the 7-bit code the byte at pos has of its own, the zero byte
// or a near byte (a copy of one of the 14 bytes before it); 0 for none.
inline uint32_t NearCode(const uint8_t* data, size_t pos)
{
    const uint8_t b = data[pos];
    if (b == 0) return BLOCK_NEAR_ZERO_BYTE;
    const size_t reach = pos < NEAR_OFFSET_MAX ? pos : NEAR_OFFSET_MAX;
    for (size_t v = 1; v <= reach; ++v)
        if (data[pos - v] == b) return uint32_t(v + 1);
    return 0;
}

// Literal format in force for one literal: LITERAL_MODE_8 (8 bits, base 0)
// or a base 0..255 for 7-bit literals that cover base..base+127 (mod 256).
constexpr uint16_t LITERAL_MODE_8 = 256;
constexpr uint32_t LITERAL_MODE_COUNT = 257;
// Before the block's first code: no format is in force yet.
constexpr uint16_t LITERAL_MODE_UNSET = 0xFFFF;

// What the decoder holds where a segment of the block begins, which the
// next segment's codes depend on.
struct CodeState {
    uint32_t lastOffset = BLOCK_FIRST_LAST_OFFSET;
    uint32_t width = BLOCK_FIRST_OFFSET_LOW_WIDTH;
    uint16_t mode = LITERAL_MODE_UNSET;
};

inline bool LiteralFits(uint16_t mode, uint8_t byte)
{
    return mode == LITERAL_MODE_8 || uint8_t(byte - mode) < 128;
}

// Offset low width for each stretch of a segment of size bytes that begins
// in state (the width codes go before the first match of a stretch whose
// width changes).
std::vector<uint8_t> ChooseOffsetWidths(const TokenList& tokens, size_t size, const CodeState& state);

// A parse and the choices made for it, once: the next pass prices by them,
// and WriteBlock codes them.
struct ChosenParse {
    TokenList tokens;
    // The cheapest format of each literal (TOKEN_BYTE without a near code),
    // counting the codes that switch formats.
    std::vector<uint16_t> literalModes;
    std::vector<uint8_t> offsetWidths;  // ChooseOffsetWidths of the tokens
};
// For the tokens of the segment begin .. end - 1, which begins in state.
ChosenParse ParseChoose(const uint8_t* data, size_t begin, size_t end, TokenList tokens, const CodeState& state);
// For tokens that cover the whole input.
ChosenParse ParseChoose(const uint8_t* data, size_t size, TokenList tokens);

// A block being written, one segment after another.
struct BlockWriter {
    std::vector<uint8_t> out;
    uint64_t pending = 0;  // the bits not yet stored at the bottom, older ones above them
    uint32_t used = 0;     // how many, fewer than 32
    CodeState state;       // after the codes written so far
};

// The header of the block of size bytes at data, with its checksum.
void BlockBegin(BlockWriter& w, const uint8_t* data, size_t size);
// The codes of the segment that starts at begin, as parse chose them for
// the writer's state (its tokens must cover the segment exactly).
void BlockWriteSegment(BlockWriter& w, const uint8_t* data, size_t begin, const ChosenParse& parse);
// Bits written so far.
uint64_t BlockBits(const BlockWriter& w);
// The end code; the finished block.
std::vector<uint8_t> BlockEnd(BlockWriter& w);

// A place in the block to come back to, dropping what was written after it.
struct BlockMark {
    size_t bytes;
    uint64_t pending;
    uint32_t used;
    CodeState state;
};
BlockMark BlockMarkHere(const BlockWriter& w);
void BlockBackTo(BlockWriter& w, const BlockMark& mark);

// The complete block for size bytes at data, coded as parse chose (its tokens
// must cover the data exactly). The checksum is stored.
std::vector<uint8_t> WriteBlock(const uint8_t* data, size_t size, const ChosenParse& parse);
