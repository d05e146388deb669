#include "packer/block_emitter.h"

#include <assert.h>

#include <string.h>

#include <algorithm>

#include "pack/block_decoder.h"

namespace {

using BitWriter = BlockWriter;

// Bits go into 32-bit words from bit 31 down; each word is stored
// little-endian, the order in which the decoder's bit buffer consumes them.
void BitsPut(BitWriter& w, uint32_t value, uint32_t count)
{
    assert(count <= 32);
    w.pending = w.pending << count | (value & ((uint64_t(1) << count) - 1));
    w.used += count;
    if (w.used < 32) return;
    w.used -= 32;
    const size_t at = w.out.size();
    w.out.resize(at + 4);
    StoreU32(&w.out[at], uint32_t(w.pending >> w.used));
}

// Every bit below the leading one, each followed by 1 (more) or 0 (last).
void BitsPutGamma(BitWriter& w, uint32_t v)
{
    assert(v >= 2);
    int top = 31;
    while (!(v >> top & 1)) --top;
    for (int i = top - 1; i >= 0; --i) {
        BitsPut(w, v >> i & 1, 1);
        BitsPut(w, i > 0 ? 1 : 0, 1);
    }
}

// The 001 codes begin with a 4-bit value: near byte, zero byte, or 0 for raw
// runs and literal formats.
void PutNearCode(BitWriter& w, uint32_t value)
{
    BitsPut(w, 1, BLOCK_SHORT_PREFIX_BITS);
    BitsPut(w, value, BLOCK_NEAR_BITS);
}

// The 000 codes: short match (offset 1..127), offset width and end code.
void PutShortCode(BitWriter& w, uint32_t offset, uint32_t lengthCode)
{
    BitsPut(w, 0, BLOCK_SHORT_PREFIX_BITS);
    BitsPut(w, offset, BLOCK_SHORT_OFFSET_BITS);
    BitsPut(w, lengthCode, BLOCK_SHORT_LENGTH_BITS);
}

void PutLiteralFormat(BitWriter& w, uint16_t mode)
{
    PutNearCode(w, 0);
    BitsPut(w, 0, 1);
    BitsPut(w, mode == LITERAL_MODE_8 ? 1 : 0, 1);
    if (mode != LITERAL_MODE_8) BitsPut(w, mode, BLOCK_LITERAL_BASE_BITS);
}

void PutOffsetWidth(BitWriter& w, uint32_t width)
{
    const uint32_t lengthCode = OffsetWidthLengthCode(width);
    PutShortCode(w, 0, lengthCode);
    BitsPut(w, width, lengthCode + BLOCK_OFFSET_WIDTH_EXTRA_BITS);
}

// Zero byte, near byte or literal: the caller has made sure the literal fits
// the format in force when neither short code applies.
void PutByte(BitWriter& w, const uint8_t* data, size_t pos, uint16_t mode)
{
    const uint8_t b = data[pos];
    const uint32_t near = NearCode(data, pos);
    if (near != 0) return PutNearCode(w, near);
    assert(LiteralFits(mode, b));
    BitsPut(w, 1, BLOCK_LITERAL_PREFIX_BITS);
    if (mode == LITERAL_MODE_8)
        BitsPut(w, b, BLOCK_LITERAL_MIN_WIDTH + 1);
    else
        BitsPut(w, uint8_t(b - mode), BLOCK_LITERAL_MIN_WIDTH);
}

void PutRawRuns(BitWriter& w, const uint8_t* data, uint32_t length)
{
    assert(length > 0 && length % BLOCK_RAW_RUN_SIZE == 0);
    PutNearCode(w, 0);
    BitsPut(w, 1, 1);
    for (uint32_t i = 0; i < length; ++i) {
        BitsPut(w, data[i], 8);
        if ((i + 1) % BLOCK_RAW_RUN_SIZE == 0) BitsPut(w, i + 1 < length ? 1 : 0, 1);
    }
}

void PutMatch(BitWriter& w, uint32_t offset, uint32_t length, uint32_t width)
{
    if (IsShortMatch(offset, length)) {
        PutShortCode(w, offset, length - BLOCK_SHORT_MIN_LENGTH);
        return;
    }
    BitsPut(w, 1, BLOCK_MATCH_PREFIX_BITS);
    BitsPutGamma(w, (offset >> width) + BLOCK_MATCH_GAMMA_BIAS);
    BitsPut(w, offset & ((1u << width) - 1), width);
    BitsPutGamma(w, length - BlockLengthBonus(offset));
}

void PutRepeat(BitWriter& w, uint32_t length)
{
    BitsPut(w, 1, BLOCK_MATCH_PREFIX_BITS);
    BitsPutGamma(w, BLOCK_REPEAT_GAMMA);
    BitsPutGamma(w, length);
}

// A new-offset match at the last offset is coded as a repeat match when that
// is cheaper; the effect on the decoder's state is the same.
bool UseRepeat(const Token& t, uint32_t lastOffset, uint32_t width)
{
    if (t.kind == TOKEN_REPEAT) return true;
    return t.kind == TOKEN_MATCH && t.offset == lastOffset && t.length >= 2 &&
           RepeatCost(t.length) <= MatchCost(t.offset, t.length, width);
}

constexpr uint32_t COST_NONE = 0x3FFFFFFF;
constexpr uint32_t WIDTH_TRIAL_MAX = 24;

uint32_t LiteralFormatCost(uint32_t mode)
{
    return mode == LITERAL_MODE_8 ? COST_LITERAL_FORMAT_8 : COST_LITERAL_FORMAT_7;
}

uint32_t LiteralCost(uint32_t mode, uint8_t byte)
{
    if (mode == LITERAL_MODE_8) return COST_LITERAL_8;
    return LiteralFits(uint16_t(mode), byte) ? COST_LITERAL_7 : COST_NONE;
}

// Room for the costs of every literal format, rounded up to whole groups of
// eight 16-bit lanes; the lanes past the last format hold a cost no format has.
constexpr uint32_t MODE_LANES = 8;
constexpr uint32_t MODE_SLOTS = (LITERAL_MODE_COUNT + MODE_LANES - 1) / MODE_LANES * MODE_LANES;

// Index of the first cost that equals value, which one of them does. Runs
// once per literal: a scan one format at a time walked past all 256 7-bit
// formats to reach the 8-bit one, the usual cheapest in machine code, and
// took most of the literal format choice's time; this one tests eight at once.
uint32_t FirstAt(const int16_t* costs, int16_t value)
{
    typedef int16_t Lanes __attribute__((vector_size(16)));
    Lanes wanted;
    for (uint32_t i = 0; i < MODE_LANES; ++i) wanted[i] = value;
    uint32_t group = 0;
    for (;; group += MODE_LANES) {
        assert(group < MODE_SLOTS);
        Lanes lanes;
        memcpy(&lanes, costs + group, sizeof lanes);
        const Lanes equal = lanes == wanted;
        uint64_t halves[2];
        memcpy(halves, &equal, sizeof halves);
        if ((halves[0] | halves[1]) != 0) break;
    }
    while (costs[group] != value) ++group;
    return group;
}

std::vector<uint8_t> CollectLiterals(const uint8_t* data, size_t begin, const TokenList& tokens)
{
    std::vector<uint8_t> literals;
    size_t pos = begin;
    for (const Token& t : tokens) {
        if (t.kind == TOKEN_BYTE && NearCode(data, pos) == 0) literals.push_back(data[pos]);
        pos += t.length;
    }
    return literals;
}

// A shortest path over the literals with one state per literal format: a
// literal either stays in its format or pays a format code to switch there
// from the cheapest format of the literal before. The format in force
// before the first literal costs no code.
std::vector<uint16_t> ChooseLiteralModes(const uint8_t* data, size_t begin, const TokenList& tokens, uint16_t inForce)
{
    const std::vector<uint8_t> literals = CollectLiterals(data, begin, tokens);
    if (literals.empty()) return {};
    // Whether the 8-bit format of each literal came by a format code. A 7-bit
    // format's excess stays at most SWITCH_7 while its literals fit it (see
    // below), so it comes by a code exactly where the literal before does not
    // fit it, which the way back reads from the literals themselves.
    std::vector<uint8_t> switchedTo8(literals.size(), 0);
    std::vector<uint16_t> cheapestBefore(literals.size(), 0);
    uint32_t best = 0;
    uint32_t first[LITERAL_MODE_COUNT];
    for (uint32_t m = 0; m < LITERAL_MODE_COUNT; ++m) {
        first[m] = std::min(COST_NONE, (m == inForce ? 0 : LiteralFormatCost(m)) + LiteralCost(m, literals[0]));
        if (first[m] < first[best]) best = m;
    }
    // Runs once per literal over every format, so it keeps each cost as its
    // excess over the cheapest, which stays below 32 and fits 16-bit vector
    // lanes: the choices are those of the whole costs, ties included.
    // COST_OUT marks a format the literal before does not fit. Every cost is
    // at least COST_LITERAL_7 and a 7-bit format that fits costs at most
    // SWITCH_7 + COST_LITERAL_7, so its excess stays at most SWITCH_7: only a
    // format the literal before did not fit comes by a code.
    constexpr int16_t COST_OUT = 0x3FFF;
    constexpr int16_t SWITCH_7 = int16_t(COST_LITERAL_FORMAT_7);
    constexpr int16_t SWITCH_8 = int16_t(COST_LITERAL_FORMAT_8);
    alignas(16) int16_t excess[LITERAL_MODE_COUNT];
    alignas(16) int16_t cost[MODE_SLOTS];
    for (uint32_t m = LITERAL_MODE_COUNT; m < MODE_SLOTS; ++m) cost[m] = COST_OUT + 1;
    for (uint32_t m = 0; m < LITERAL_MODE_COUNT; ++m)
        excess[m] = first[m] >= COST_NONE ? COST_OUT : int16_t(first[m] - first[best]);
    for (size_t k = 1; k < literals.size(); ++k) {
        cheapestBefore[k] = uint16_t(best);
        const uint8_t literal = literals[k];
        for (uint32_t m = 0; m < LITERAL_MODE_8; ++m) {
            const int16_t e = excess[m];
            const int16_t from = e > SWITCH_7 ? SWITCH_7 : e;
            cost[m] = uint8_t(literal - m) < 128 ? int16_t(from + COST_LITERAL_7) : COST_OUT;
        }
        const int16_t e8 = excess[LITERAL_MODE_8];
        switchedTo8[k] = e8 > SWITCH_8;
        cost[LITERAL_MODE_8] = int16_t((e8 > SWITCH_8 ? SWITCH_8 : e8) + COST_LITERAL_8);
        int16_t lowest = COST_OUT;
        for (uint32_t m = 0; m < LITERAL_MODE_COUNT; ++m) lowest = std::min(lowest, cost[m]);
        best = FirstAt(cost, lowest);
        for (uint32_t m = 0; m < LITERAL_MODE_COUNT; ++m)
            excess[m] = cost[m] == COST_OUT ? COST_OUT : int16_t(cost[m] - lowest);
    }
    uint32_t mode = best;
    std::vector<uint16_t> modes(literals.size());
    for (size_t k = literals.size(); k-- > 0;) {
        modes[k] = uint16_t(mode);
        if (k == 0) break;
        const bool switched =
            mode == LITERAL_MODE_8 ? switchedTo8[k] != 0 : !LiteralFits(uint16_t(mode), literals[k - 1]);
        if (switched) mode = cheapestBefore[k];
    }
    return modes;
}

}  // namespace

// A shortest path over stretches of OFFSET_WIDTH_STRETCH bytes with one state per
// width: each stretch keeps the width before it or pays a width code.
std::vector<uint8_t> ChooseOffsetWidths(const TokenList& tokens, size_t size, const CodeState& state)
{
    constexpr uint32_t WIDTHS = WIDTH_TRIAL_MAX + 1;
    const size_t stretches = size / OFFSET_WIDTH_STRETCH + 1;
    std::vector<uint32_t> cost(stretches * WIDTHS, 0);
    uint32_t lastOffset = state.lastOffset;
    size_t pos = 0;
    for (const Token& t : tokens) {
        if (t.kind == TOKEN_MATCH) {
            uint32_t* row = &cost[pos / OFFSET_WIDTH_STRETCH * WIDTHS];
            for (uint32_t width = OFFSET_WIDTH_MIN; width < WIDTHS; ++width)
                if (!UseRepeat(t, lastOffset, width)) row[width] += MatchCost(t.offset, t.length, width);
            lastOffset = t.offset;
        }
        pos += t.length;
    }
    std::vector<uint8_t> cameFrom(stretches * WIDTHS, 0);  // width of the stretch before
    std::vector<uint64_t> total(WIDTHS, UINT64_MAX / 2);
    total[state.width] = 0;
    for (size_t c = 0; c < stretches; ++c) {
        uint32_t best = OFFSET_WIDTH_MIN;
        for (uint32_t width = OFFSET_WIDTH_MIN; width < WIDTHS; ++width)
            if (total[width] < total[best]) best = width;
        const uint64_t bestTotal = total[best];
        for (uint32_t width = OFFSET_WIDTH_MIN; width < WIDTHS; ++width) {
            cameFrom[c * WIDTHS + width] = uint8_t(width);
            const uint64_t viaCode = bestTotal + OffsetWidthCodeCost(width);
            if (viaCode < total[width]) {
                total[width] = viaCode;
                cameFrom[c * WIDTHS + width] = uint8_t(best);
            }
            total[width] += cost[c * WIDTHS + width];
        }
    }
    uint32_t width = OFFSET_WIDTH_MIN;
    for (uint32_t w = OFFSET_WIDTH_MIN; w < WIDTHS; ++w)
        if (total[w] < total[width]) width = w;
    std::vector<uint8_t> widths(stretches);
    for (size_t c = stretches; c-- > 0;) {
        widths[c] = uint8_t(width);
        width = cameFrom[c * WIDTHS + width];
    }
    return widths;
}

ChosenParse ParseChoose(const uint8_t* data, size_t begin, size_t end, TokenList tokens, const CodeState& state)
{
    std::vector<uint16_t> modes = ChooseLiteralModes(data, begin, tokens, state.mode);
    std::vector<uint8_t> widths = ChooseOffsetWidths(tokens, end - begin, state);
    return {std::move(tokens), std::move(modes), std::move(widths)};
}

ChosenParse ParseChoose(const uint8_t* data, size_t size, TokenList tokens)
{
    return ParseChoose(data, 0, size, std::move(tokens), CodeState());
}

void BlockBegin(BlockWriter& w, const uint8_t* data, size_t size)
{
    assert(size <= UINT32_MAX);
    w = BlockWriter();
    // Room for raw runs of every byte, so that the block is never copied
    // to grow: pages the block does not reach are never touched.
    w.out.reserve(BLOCK_HEADER_SIZE + size + size / (BLOCK_RAW_RUN_SIZE / 2) + 64);
    w.out.resize(BLOCK_HEADER_SIZE);
    w.out[0] = BLOCK_MAGIC_0;
    w.out[1] = BLOCK_MAGIC_1;
    StoreU32(&w.out[BLOCK_UNPACKED_SIZE_OFFSET], uint32_t(size));
    StoreU32(&w.out[BLOCK_CHECKSUM_OFFSET], BlockChecksum(data, uint32_t(size)));
}

void BlockWriteSegment(BlockWriter& w, const uint8_t* data, size_t begin, const ChosenParse& parse)
{
    const std::vector<uint16_t>& modes = parse.literalModes;
    const std::vector<uint8_t>& widths = parse.offsetWidths;
    CodeState& state = w.state;
    if (state.mode == LITERAL_MODE_UNSET) {
        state.mode = modes.empty() ? LITERAL_MODE_8 : modes[0];
        PutLiteralFormat(w, state.mode);
    }
    size_t pos = begin;
    size_t literal = 0;
    for (const Token& t : parse.tokens) {
        assert(t.length > 0);
        // A width code goes before the first match of a stretch that wants
        // another width; stretches without matches never ask for one.
        const uint8_t wanted = widths[(pos - begin) / OFFSET_WIDTH_STRETCH];
        if (t.kind == TOKEN_MATCH && wanted != state.width) {
            state.width = wanted;
            PutOffsetWidth(w, state.width);
        }
        switch (t.kind) {
        case TOKEN_BYTE:
            if (NearCode(data, pos) == 0) {
                if (modes[literal] != state.mode) {
                    state.mode = modes[literal];
                    PutLiteralFormat(w, state.mode);
                }
                ++literal;
            }
            PutByte(w, data, pos, state.mode);
            break;
        case TOKEN_RAW:
            PutRawRuns(w, data + pos, t.length);
            break;
        case TOKEN_REPEAT:
            PutRepeat(w, t.length);
            break;
        case TOKEN_MATCH:
            assert(t.offset >= 1 && t.offset <= pos && MatchCodable(t.offset, t.length));
            if (UseRepeat(t, state.lastOffset, state.width))
                PutRepeat(w, t.length);
            else
                PutMatch(w, t.offset, t.length, state.width);
            state.lastOffset = t.offset;
            break;
        }
        pos += t.length;
    }
}

uint64_t BlockBits(const BlockWriter& w)
{
    return uint64_t(w.out.size()) * 8 + w.used;
}

BlockMark BlockMarkHere(const BlockWriter& w)
{
    return {w.out.size(), w.pending, w.used, w.state};
}

void BlockBackTo(BlockWriter& w, const BlockMark& mark)
{
    w.out.resize(mark.bytes);
    w.pending = mark.pending;
    w.used = mark.used;
    w.state = mark.state;
}

std::vector<uint8_t> BlockEnd(BlockWriter& w)
{
    if (w.state.mode == LITERAL_MODE_UNSET) PutLiteralFormat(w, LITERAL_MODE_8);  // no bytes
    PutShortCode(w, 0, 0);  // the end code
    // The bits after the end code up to the end of its word are zero.
    if (w.used > 0) BitsPut(w, 0, 32 - w.used);
    return std::move(w.out);
}

std::vector<uint8_t> WriteBlock(const uint8_t* data, size_t size, const ChosenParse& parse)
{
    BlockWriter w;
    BlockBegin(w, data, size);
    BlockWriteSegment(w, data, 0, parse);
    return BlockEnd(w);
}
