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

inline bool LiteralFits(uint16_t mode, uint8_t byte)
{
    return mode == LITERAL_MODE_8 || uint8_t(byte - mode) < 128;
}

// Offset low width for each stretch of the input (the width codes go
// before the first match of a stretch whose width changes).
std::vector<uint8_t> ChooseOffsetWidths(const TokenList& tokens, size_t size);

// A parse and the choices made for it, once: the next pass prices by them,
// and WriteBlock codes them.
struct ChosenParse {
    TokenList tokens;
    // The cheapest format of each literal (TOKEN_BYTE without a near code),
    // counting the codes that switch formats.
    std::vector<uint16_t> literalModes;
    std::vector<uint8_t> offsetWidths;  // ChooseOffsetWidths of the tokens
};
ChosenParse ParseChoose(const uint8_t* data, size_t size, TokenList tokens);

// The complete block for size bytes at data, coded as parse chose (its tokens
// must cover the data exactly). The checksum is stored.
std::vector<uint8_t> WriteBlock(const uint8_t* data, size_t size, const ChosenParse& parse);
