// Greedy block encoder: at each position the cheapest-per-byte match of a
// hash-chain search (plus the repeat offset), unless the next position offers
// a better one; otherwise one byte as a near byte, zero byte or literal.
#include "bench/greedy_encoder.h"

#include <algorithm>

#include "pack/block_decoder.h"
#include "pack/block_format.h"

namespace {

constexpr uint32_t HASH_BITS = 16;
constexpr uint32_t MAX_CHAIN = 48;
constexpr uint32_t NO_POSITION = UINT32_MAX;
constexpr uint32_t NEAR_MAX_OFFSET = 14;
constexpr uint32_t SHORT_MAX_OFFSET = 127;
constexpr uint32_t SHORT_MAX_LENGTH = 5;
constexpr uint32_t ONE_BYTE_CODE_BITS = 7;  // near byte and zero byte
constexpr uint32_t SHORT_MATCH_BITS = 12;

struct BitSink {
    std::vector<uint8_t> bytes;
    uint32_t word = 0;
    uint32_t used = 0;
};

void Put(BitSink& s, uint32_t value, uint32_t count)
{
    for (uint32_t i = count; i-- > 0;) {
        s.word = s.word << 1 | (value >> i & 1);
        if (++s.used == 32) {
            const size_t at = s.bytes.size();
            s.bytes.resize(at + 4);
            StoreU32(&s.bytes[at], s.word);
            s.word = 0;
            s.used = 0;
        }
    }
}

uint32_t TopBit(uint32_t value)
{
    uint32_t top = 31;
    while ((value >> top) == 0) {
        --top;
    }
    return top;
}

void PutGamma(BitSink& s, uint32_t value)
{
    for (uint32_t i = TopBit(value); i-- > 0;) {
        Put(s, value >> i & 1, 1);
        Put(s, i != 0, 1);
    }
}

uint32_t GammaBits(uint32_t value)
{
    return 2 * TopBit(value);
}

struct Encoder {
    const uint8_t* data;
    uint32_t n;
    uint32_t lowWidth;
    uint32_t literalWidth;
    uint32_t literalBase;
    uint32_t lastOffset = BLOCK_FIRST_LAST_OFFSET;
    std::vector<uint32_t> head;
    std::vector<uint32_t> previous;
    uint32_t inserted = 0;  // positions below this are in the chains
    BitSink out;
};

struct Match {
    uint32_t offset = 0;
    uint32_t length = 0;
    int32_t saving = 0;  // bits saved against literals
};

uint32_t Hash3(const uint8_t* p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - HASH_BITS);
}

void InsertUpTo(Encoder& e, uint32_t position)
{
    for (; e.inserted < position && e.inserted + 3 <= e.n; ++e.inserted) {
        const uint32_t h = Hash3(e.data + e.inserted);
        e.previous[e.inserted] = e.head[h];
        e.head[h] = e.inserted;
    }
}

// Bits of the cheapest code for this copy, or 0 when no code can make it.
uint32_t MatchBits(const Encoder& e, uint32_t offset, uint32_t length)
{
    if (offset == e.lastOffset) {
        return 4 + GammaBits(length);
    }
    if (offset <= SHORT_MAX_OFFSET && length <= SHORT_MAX_LENGTH) {
        return SHORT_MATCH_BITS;
    }
    const uint32_t bonus = BlockLengthBonus(offset);
    if (length < bonus + 2) {
        return 0;
    }
    return 2 + GammaBits((offset >> e.lowWidth) + BLOCK_MATCH_GAMMA_BIAS) + e.lowWidth + GammaBits(length - bonus);
}

void Consider(const Encoder& e, uint32_t offset, uint32_t length, Match& best)
{
    if (length < 2) {
        return;
    }
    const uint32_t bits = MatchBits(e, offset, length);
    const int32_t saving = int32_t(length * (1 + e.literalWidth)) - int32_t(bits);
    if (bits != 0 && saving > best.saving) {
        best = {offset, length, saving};
    }
}

uint32_t MatchLength(const Encoder& e, uint32_t position, uint32_t offset)
{
    const uint8_t* a = e.data + position;
    const uint8_t* b = a - offset;
    const uint32_t most = e.n - position;
    uint32_t length = 0;
    while (length < most && a[length] == b[length]) {
        ++length;
    }
    return length;
}

Match FindMatch(Encoder& e, uint32_t position)
{
    InsertUpTo(e, position);
    Match best;
    if (e.lastOffset <= position) {
        Consider(e, e.lastOffset, MatchLength(e, position, e.lastOffset), best);
    }
    if (position + 3 > e.n) {
        return best;
    }
    uint32_t candidate = e.head[Hash3(e.data + position)];
    for (uint32_t depth = 0; candidate != NO_POSITION && depth < MAX_CHAIN; ++depth) {
        Consider(e, position - candidate, MatchLength(e, position, position - candidate), best);
        candidate = e.previous[candidate];
    }
    return best;
}

void PutMatch(Encoder& e, const Match& m)
{
    if (m.offset == e.lastOffset) {
        Put(e.out, 0b01, 2);
        PutGamma(e.out, BLOCK_REPEAT_GAMMA);
        PutGamma(e.out, m.length);
        return;
    }
    e.lastOffset = m.offset;
    if (m.offset <= SHORT_MAX_OFFSET && m.length <= SHORT_MAX_LENGTH) {
        Put(e.out, 0b000, 3);
        Put(e.out, m.offset, BLOCK_SHORT_OFFSET_BITS);
        Put(e.out, m.length - BLOCK_SHORT_MIN_LENGTH, BLOCK_SHORT_LENGTH_BITS);
        return;
    }
    Put(e.out, 0b01, 2);
    PutGamma(e.out, (m.offset >> e.lowWidth) + BLOCK_MATCH_GAMMA_BIAS);
    Put(e.out, m.offset & ((1u << e.lowWidth) - 1), e.lowWidth);
    PutGamma(e.out, m.length - BlockLengthBonus(m.offset));
}

void PutOneByte(Encoder& e, uint32_t position)
{
    const uint8_t byte = e.data[position];
    if (1 + e.literalWidth > ONE_BYTE_CODE_BITS) {
        for (uint32_t offset = 1; offset <= NEAR_MAX_OFFSET && offset <= position; ++offset) {
            if (e.data[position - offset] == byte) {
                Put(e.out, 0b001, 3);
                Put(e.out, offset + 1, BLOCK_NEAR_BITS);
                return;
            }
        }
        if (byte == 0) {
            Put(e.out, 0b001, 3);
            Put(e.out, BLOCK_NEAR_ZERO_BYTE, BLOCK_NEAR_BITS);
            return;
        }
    }
    Put(e.out, 1, 1);
    Put(e.out, uint8_t(byte - e.literalBase), e.literalWidth);
}

// Width 7 pays when every byte fits one window of 128 values.
void PutLiteralFormat(Encoder& e)
{
    const uint8_t* end = e.data + e.n;
    const uint32_t low = e.n == 0 ? 0 : *std::min_element(e.data, end);
    const uint32_t high = e.n == 0 ? 0 : *std::max_element(e.data, end);
    e.literalWidth = high - low < 128 ? 7 : 8;
    e.literalBase = e.literalWidth == 7 ? low : 0;
    Put(e.out, 0b001, 3);
    Put(e.out, BLOCK_NEAR_ESCAPE, BLOCK_NEAR_BITS);
    Put(e.out, 0, 1);
    Put(e.out, e.literalWidth - BLOCK_LITERAL_MIN_WIDTH, 1);
    if (e.literalWidth == 7) {
        Put(e.out, e.literalBase, BLOCK_LITERAL_BASE_BITS);
    }
}

// Wider low parts pay on larger inputs, where far offsets are common.
void PutOffsetWidth(Encoder& e)
{
    e.lowWidth = e.n <= (32u << 10) ? 6 : e.n <= (270u << 10) ? 8 : 9;
    if (e.lowWidth == BLOCK_FIRST_OFFSET_LOW_WIDTH) {
        return;
    }
    Put(e.out, 0b000, 3);
    Put(e.out, 0, BLOCK_SHORT_OFFSET_BITS);
    Put(e.out, 1, BLOCK_SHORT_LENGTH_BITS);
    Put(e.out, e.lowWidth, 1 + BLOCK_OFFSET_WIDTH_EXTRA_BITS);
}

}  // namespace

std::vector<uint8_t> GreedyBlockCompress(const uint8_t* data, uint32_t n)
{
    Encoder e;
    e.data = data;
    e.n = n;
    e.head.assign(size_t(1) << HASH_BITS, NO_POSITION);
    e.previous.assign(n, NO_POSITION);
    e.out.bytes.resize(BLOCK_HEADER_SIZE);
    e.out.bytes[0] = BLOCK_MAGIC_0;
    e.out.bytes[1] = BLOCK_MAGIC_1;
    StoreU32(&e.out.bytes[BLOCK_UNPACKED_SIZE_OFFSET], n);
    StoreU32(&e.out.bytes[BLOCK_CHECKSUM_OFFSET], BlockChecksum(data, n));
    PutLiteralFormat(e);
    PutOffsetWidth(e);
    uint32_t position = 0;
    while (position < n) {
        Match m = FindMatch(e, position);
        if (m.saving > 0 && position + 1 < n && FindMatch(e, position + 1).saving > m.saving) {
            m.saving = 0;
        }
        if (m.saving > 0) {
            PutMatch(e, m);
            position += m.length;
        } else {
            PutOneByte(e, position);
            ++position;
        }
    }
    Put(e.out, 0, 12);  // end code
    Put(e.out, 0, (32 - e.out.used) % 32);
    return e.out.bytes;
}
