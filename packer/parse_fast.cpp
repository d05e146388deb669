#include <assert.h>

#include <algorithm>

#include "packer/block_emitter.h"
#include "packer/parsers.h"

namespace {

// The hash has a bit for each doubling of the input up to HASH_BITS_MAX,
// from HASH_BITS_MIN: with few buckets for its window, the chains of large
// inputs were long and their walks missed the cache at every step, and a
// full table for a small file cost more to clear than to search.
constexpr uint32_t HASH_BITS_MIN = 16;
constexpr uint32_t HASH_BITS_MAX = 20;
constexpr uint32_t CHAIN_DEPTH = 24;
constexpr uint32_t GOOD_LENGTH = 64;     // a match this long ends the search
constexpr uint32_t LITERAL_BITS = 9;     // what the fast parse assumes a byte costs
// After this many positions in a row without a match worth coding, the
// parse searches only every second position, after twice as many every
// third, and so on up to every SKIP_STEP_MAX-th: on bytes that do not
// compress, searching every position cost most of the level's time, and
// such stretches go into raw runs anyway.
constexpr uint32_t SKIP_AFTER = 64;
constexpr uint32_t SKIP_STEP_MAX = 16;
// Bytes in a row without a match after which a stretch is put in raw runs.
constexpr uint32_t RUNS_EVERY = 1u << 16;
constexpr uint32_t ASSUMED_WIDTH = BLOCK_FIRST_OFFSET_LOW_WIDTH;

void ChainInsert(FastChains& c, uint32_t pos)
{
    if (c.size - pos < 3) return;
    const uint32_t h = Hash3(c.data + pos, c.hashBits);
    c.previous[pos & (c.window - 1)] = c.head[h];
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

// The best choice at pos for a segment that ends at end.
Choice BestChoice(const FastChains& c, uint32_t pos, uint32_t end, uint32_t lastOffset)
{
    const uint8_t* const data = c.data;
    Choice best{{1, 0, TOKEN_BYTE}, 0};
    const uint32_t left = end - pos;
    if (lastOffset <= pos) {
        const uint32_t len = CommonLength(data + pos, data + pos - lastOffset, left);
        if (len >= 2) best = {{len, 0, TOKEN_REPEAT}, Saving(len, RepeatCost(len))};
    }
    if (left < 3) return best;
    uint32_t node = c.head[Hash3(data + pos, c.hashBits)];
    for (uint32_t depth = 0; node != MATCH_NIL && pos - node < c.window && depth < CHAIN_DEPTH;
         ++depth, node = c.previous[node & (c.window - 1)]) {
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

// A shortest path over a stretch of bytes, the count tokens from `from`,
// which start at data position pos: every byte on its own, or a run of
// BLOCK_RAW_RUN_SIZE of them for COST_RAW_RUN, adjacent runs merged. A byte
// without a near code costs a 7-bit literal where all such bytes of the
// stretch fit one 7-bit format, else an 8-bit one. The tokens are replaced
// in place, from `from` on; returns how many there are now.
size_t RawRunsInStretch(TokenList& tokens, size_t from, size_t count, const uint8_t* data, size_t pos)
{
    const size_t stretch = count;
    if (stretch < BLOCK_RAW_RUN_SIZE) return stretch;
    std::vector<uint8_t> mark(stretch + 1, 0);  // a near code; then, where a run starts
    uint8_t lowest = UINT8_MAX;
    uint8_t highest = 0;
    for (size_t k = 0; k < stretch; ++k) {
        mark[k] = NearCode(data, pos + k) != 0;
        if (mark[k]) continue;
        lowest = std::min(lowest, data[pos + k]);
        highest = std::max(highest, data[pos + k]);
    }
    const uint32_t literal = highest - lowest < 128 ? COST_LITERAL_7 : COST_LITERAL_8;
    std::vector<uint32_t> cost(stretch + 1, 0);
    std::vector<uint8_t> byRun(stretch + 1, 0);
    for (size_t k = 1; k <= stretch; ++k) {
        cost[k] = cost[k - 1] + (mark[k - 1] ? COST_NEAR_OR_ZERO : literal);
        if (k >= BLOCK_RAW_RUN_SIZE && cost[k - BLOCK_RAW_RUN_SIZE] + COST_RAW_RUN < cost[k]) {
            cost[k] = cost[k - BLOCK_RAW_RUN_SIZE] + COST_RAW_RUN;
            byRun[k] = 1;
        }
    }
    // The way back marks where the runs start; the way forward writes them.
    std::fill(mark.begin(), mark.end(), 0);
    for (size_t k = stretch; k > 0;) {
        if (byRun[k]) {
            k -= BLOCK_RAW_RUN_SIZE;
            mark[k] = 1;
        } else {
            --k;
        }
    }
    size_t out = from;
    for (size_t k = 0; k < stretch;) {
        if (!mark[k]) {
            tokens[out++] = {1, 0, TOKEN_BYTE};
            ++k;
            continue;
        }
        if (out > from && tokens[out - 1].kind == TOKEN_RAW)
            tokens[out - 1].length += BLOCK_RAW_RUN_SIZE;
        else
            tokens[out++] = {BLOCK_RAW_RUN_SIZE, 0, TOKEN_RAW};
        k += BLOCK_RAW_RUN_SIZE;
    }
    return out - from;
}

}  // namespace

void FastChainsStart(FastChains& c, const uint8_t* data, size_t size, uint32_t window)
{
    assert(size <= UINT32_MAX - 1 && window >= 2 && (window & (window - 1)) == 0);
    c.data = data;
    c.size = uint32_t(size);
    c.window = window;
    c.hashBits = HASH_BITS_MIN;
    while (c.hashBits < HASH_BITS_MAX && (size_t(1) << c.hashBits) < std::min<size_t>(window, size)) ++c.hashBits;
    AssignHuge<uint32_t>(c.head, size_t(1) << c.hashBits, MATCH_NIL);
    AssignHuge<uint32_t>(c.previous, std::min<size_t>(window, size), MATCH_NIL);
}

TokenList ParseFast(FastChains& chains, uint32_t begin, uint32_t end, uint32_t lastOffset)
{
    // Room for a token a byte, never copied to grow: pages the tokens do
    // not reach are never touched, and on bytes that do not compress the
    // copies and their fresh pages took half the level's time.
    TokenList tokens;
    tokens.reserve(end - begin);
    uint32_t pos = begin;
    uint32_t misses = 0;
    while (pos < end) {
        const uint32_t step = std::min(1 + misses / SKIP_AFTER, SKIP_STEP_MAX);
        if (step > 1 && (pos - begin) % step != 0) {
            tokens.push_back({1, 0, TOKEN_BYTE});
            ++misses;
            ++pos;
            // A long stretch of bytes goes into raw runs as it grows, so that
            // its tokens stay few.
            if (misses % RUNS_EVERY == 0) {
                size_t from = tokens.size();
                while (from > 0 && tokens[from - 1].kind == TOKEN_BYTE) --from;
                const size_t count = tokens.size() - from;
                tokens.resize(from + RawRunsInStretch(tokens, from, count, chains.data, pos - count));
            }
            continue;
        }
        Choice here = BestChoice(chains, pos, end, lastOffset);
        ChainInsert(chains, pos);
        misses = here.saved > 0 ? 0 : misses + 1;
        if (here.saved > 0 && pos + 1 < end) {
            // One step of lazy evaluation: a byte now and a better match next.
            const Choice next = BestChoice(chains, pos + 1, end, lastOffset);
            if (next.saved > here.saved + int32_t(LITERAL_BITS)) here = {{1, 0, TOKEN_BYTE}, 0};
        }
        if (here.saved <= 0) here.token = {1, 0, TOKEN_BYTE};
        tokens.push_back(here.token);
        if (here.token.kind == TOKEN_MATCH) lastOffset = here.token.offset;
        for (uint32_t i = 1; i < here.token.length; ++i) ChainInsert(chains, pos + i);
        pos += here.token.length;
    }
    return tokens;
}

bool TakeRawRuns(TokenList& tokens, const uint8_t* data, size_t begin)
{
    bool taken = false;
    size_t out = 0;
    size_t pos = begin;
    for (size_t i = 0; i < tokens.size();) {
        if (tokens[i].kind != TOKEN_BYTE) {
            pos += tokens[i].length;
            tokens[out++] = tokens[i++];
            continue;
        }
        size_t stretch = 0;
        while (i + stretch < tokens.size() && tokens[i + stretch].kind == TOKEN_BYTE) ++stretch;
        // The stretch's tokens, moved down over the room that runs freed.
        std::copy(tokens.begin() + long(i), tokens.begin() + long(i + stretch), tokens.begin() + long(out));
        const size_t kept = RawRunsInStretch(tokens, out, stretch, data, pos);
        taken = taken || kept < stretch;
        out += kept;
        pos += stretch;
        i += stretch;
    }
    tokens.resize(out);
    // Runs put in while the parse went on end where a stretch here begins.
    MergeRawRuns(tokens);
    return taken;
}
