#include <algorithm>

#include "packer/parsers.h"

namespace {

constexpr uint32_t HASH_BITS = 16;
constexpr uint32_t CHAIN_DEPTH = 24;
constexpr uint32_t GOOD_LENGTH = 64;     // a match this long ends the search
constexpr uint32_t LITERAL_BITS = 9;     // what the fast parse assumes a byte costs
constexpr uint32_t ASSUMED_WIDTH = BLOCK_FIRST_OFFSET_LOW_WIDTH;

struct HashChains {
    std::vector<uint32_t> head;
    std::vector<uint32_t> previous;
};

void ChainInsert(HashChains& c, const uint8_t* data, uint32_t pos, uint32_t size)
{
    if (size - pos < 3) return;
    const uint32_t h = Hash3(data + pos, HASH_BITS);
    c.previous[pos] = c.head[h];
    c.head[h] = pos;
}

// The choice at one position and the bits it saves over coding its bytes one
// by one (negative or zero: not worth a match).
struct Choice {
    Token token;
    int32_t saved;
};

int32_t Saving(uint32_t length, uint32_t bits)
{
    return int32_t(length * LITERAL_BITS) - int32_t(bits);
}

Choice BestChoice(const HashChains& c, const uint8_t* data, uint32_t pos, uint32_t size, uint32_t lastOffset)
{
    Choice best{{1, 0, TOKEN_BYTE}, 0};
    const uint32_t left = size - pos;
    if (lastOffset <= pos) {
        const uint32_t len = CommonLength(data + pos, data + pos - lastOffset, left);
        if (len >= 2) best = {{len, 0, TOKEN_REPEAT}, Saving(len, RepeatCost(len))};
    }
    if (left < 3) return best;
    uint32_t node = c.head[Hash3(data + pos, HASH_BITS)];
    for (uint32_t depth = 0; node != MATCH_NIL && depth < CHAIN_DEPTH; ++depth, node = c.previous[node]) {
        const uint32_t offset = pos - node;
        const uint32_t len = CommonLength(data + pos, data + node, left);
        if (len < 2 || !MatchCodable(offset, len)) continue;
        const int32_t saved = Saving(len, MatchCost(offset, len, ASSUMED_WIDTH));
        if (saved > best.saved) best = {{len, offset, TOKEN_MATCH}, saved};
        if (len >= GOOD_LENGTH) break;
    }
    // Short matches of 2 to 5 bytes at small offsets beat any literal pair.
    if (best.saved <= 0 && pos >= 1) {
        for (uint32_t offset = 1; offset <= std::min<uint32_t>(pos, 16); ++offset) {
            const uint32_t len = CommonLength(data + pos, data + pos - offset, std::min<uint32_t>(left, 5));
            if (len < 2) continue;
            const int32_t saved = Saving(len, COST_SHORT_MATCH);
            if (saved > best.saved) best = {{len, offset, TOKEN_MATCH}, saved};
        }
    }
    return best;
}

}  // namespace

TokenList ParseFast(const uint8_t* data, size_t size)
{
    const uint32_t n = uint32_t(size);
    HashChains chains{std::vector<uint32_t>(size_t(1) << HASH_BITS, MATCH_NIL), std::vector<uint32_t>(n, MATCH_NIL)};
    TokenList tokens;
    uint32_t lastOffset = BLOCK_FIRST_LAST_OFFSET;
    uint32_t pos = 0;
    while (pos < n) {
        Choice here = BestChoice(chains, data, pos, n, lastOffset);
        ChainInsert(chains, data, pos, n);
        if (here.saved > 0 && pos + 1 < n) {
            // One step of lazy evaluation: a byte now and a better match next.
            const Choice next = BestChoice(chains, data, pos + 1, n, lastOffset);
            if (next.saved > here.saved + int32_t(LITERAL_BITS)) here = {{1, 0, TOKEN_BYTE}, 0};
        }
        if (here.saved <= 0) here.token = {1, 0, TOKEN_BYTE};
        tokens.push_back(here.token);
        if (here.token.kind == TOKEN_MATCH) lastOffset = here.token.offset;
        for (uint32_t i = 1; i < here.token.length; ++i) ChainInsert(chains, data, pos + i, n);
        pos += here.token.length;
    }
    return tokens;
}
