// Block decoder and checksum: every code built by hand, the corner cases of
// the bit buffer, and malformed blocks of every kind.
#include "pack/block_decoder.h"

#include <gtest/gtest.h>
#include <stdint.h>

#include <random>
#include <vector>

#include "pack/block_format.h"
#include "tests/pack/block_writer.h"

namespace {

constexpr uint32_t GUARD_SIZE = 64;
constexpr uint8_t FILL = 0xA5;

struct Decoded {
    uint32_t result;
    std::vector<uint8_t> bytes;  // the capacity's bytes, as the call left them
    bool guardIntact;            // nothing written past the capacity
};

// The block sits in a buffer of exactly its length and the destination, which
// starts as `initial` (its size is the capacity), is followed by guard bytes,
// so a sanitizer or the guard sees any stray access.
Decoded DecodeOnto(const std::vector<uint8_t>& block, uint32_t sourceLength, const std::vector<uint8_t>& initial)
{
    const std::vector<uint8_t> source(block.begin(), block.begin() + sourceLength);
    const uint32_t capacity = uint32_t(initial.size());
    std::vector<uint8_t> destination = initial;
    destination.resize(capacity + GUARD_SIZE, FILL);
    const uint32_t result = BlockDecompress(source.data(), sourceLength, destination.data(), capacity);
    bool guardIntact = true;
    for (uint32_t i = capacity; i < destination.size(); ++i) {
        guardIntact = guardIntact && destination[i] == FILL;
    }
    destination.resize(capacity);
    return {result, destination, guardIntact};
}

Decoded Decode(const std::vector<uint8_t>& block, uint32_t capacity, uint32_t sourceLength)
{
    return DecodeOnto(block, sourceLength, std::vector<uint8_t>(capacity, FILL));
}

Decoded Decode(const std::vector<uint8_t>& block, uint32_t capacity)
{
    return Decode(block, capacity, uint32_t(block.size()));
}

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) {
        b = uint8_t(random());
    }
    return bytes;
}

// Byte-by-byte copy, the meaning every faster copy must keep.
void ReferenceCopy(std::vector<uint8_t>& out, uint32_t offset, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        out.push_back(out[out.size() - offset]);
    }
}

uint32_t ReferenceChecksumStep(uint32_t sum, uint32_t word)
{
    const uint32_t rotated = (word << 1) | (word >> 31);
    return (sum + word) ^ (rotated + 1);
}

// Literal format of width 8, then bytes as literals.
BitWriter LiteralsPrefix(const std::vector<uint8_t>& bytes)
{
    BitWriter w;
    PutLiteralFormat(w, 8, 0);
    for (const uint8_t b : bytes) {
        PutLiteral(w, 8, b);
    }
    return w;
}

// The example block passes its own checksum, checksum 0 skips the test, and
// a mismatch gives 0 but keeps the bytes.
TEST(BlockDecompress, ChecksumDecidesTheResultButKeepsTheBytes)
{
    struct Case {
        uint32_t checksum, result;
    };
    const Case cases[] = {{0xA3A3A3A2u, 4}, {0, 4}, {0xA3A3A3A3u, 0}, {0xA3A3A3A2u ^ 0x80000000u, 0}, {1, 0}};
    for (const Case& c : cases) {
        std::vector<uint8_t> block = EXAMPLE_BLOCK;
        StoreU32(&block[BLOCK_CHECKSUM_OFFSET], c.checksum);
        const Decoded d = Decode(block, 4);
        EXPECT_EQ(d.result, c.result) << c.checksum;
        EXPECT_EQ(d.bytes, BytesOf("aaaa")) << c.checksum;
    }
}

// Guards the test's own bit writer: it must lay out the known block exactly.
TEST(BlockWriter, ReproducesTheExampleBlock)
{
    BitWriter w = LiteralsPrefix(BytesOf("a"));
    PutShortMatch(w, 1, 3);
    PutEnd(w);
    EXPECT_EQ(MakeBlock(w, 4, 0xA3A3A3A2), EXAMPLE_BLOCK);
}

// Fewer than four bytes give 0; a tail of 1 to 3 bytes takes the last four
// bytes, and a whole number of words nothing more.
TEST(BlockChecksum, KnownValuesAndTheTailTakesTheLastFourBytesOnly)
{
    EXPECT_EQ(BlockChecksum(BytesOf("abcd").data(), 4), 0xACA5A6A2u);
    EXPECT_EQ(BlockChecksum(BytesOf("abcdef").data(), 6), 0xDFC1C3C2u);
    EXPECT_EQ(BlockChecksum(nullptr, 0), 0u);
    const std::vector<uint8_t> data = RandomBytes(16, 11);
    struct Case {
        uint32_t n;
        std::vector<uint32_t> wordOffsets;
    };
    const Case cases[] = {{0, {}},     {1, {}},     {2, {}},        {3, {}},         {5, {0, 1}},
                          {7, {0, 3}}, {8, {0, 4}}, {9, {0, 4, 5}}, {12, {0, 4, 8}}, {15, {0, 4, 8, 11}}};
    for (const Case& c : cases) {
        uint32_t expected = 0;
        for (const uint32_t at : c.wordOffsets) {
            expected = ReferenceChecksumStep(expected, LoadU32(&data[at]));
        }
        EXPECT_EQ(BlockChecksum(data.data(), c.n), expected) << c.n;
    }
}

// A literal adds the base modulo 256; the zero byte ignores it.
TEST(BlockDecompress, LiteralBaseWrapsModulo256AndSparesTheZeroByte)
{
    struct Case {
        uint32_t width, base, value;
        uint8_t expected;
    };
    const Case cases[] = {{7, 200, 100, 44}, {7, 255, 127, 126}, {7, 0, 127, 127}, {7, 1, 0, 1}, {8, 0, 255, 255}, {8, 0, 0, 0}};
    for (const Case& c : cases) {
        BitWriter w;
        PutLiteralFormat(w, c.width, c.base);
        PutLiteral(w, c.width, c.value);
        PutZeroByte(w);
        PutEnd(w);
        const Decoded d = Decode(MakeBlock(w, 2, 0), 2);
        EXPECT_EQ(d.result, 2u) << c.width << " " << c.base;
        EXPECT_EQ(d.bytes, (std::vector<uint8_t>{c.expected, 0})) << c.width << " " << c.base;
    }
}

// Only the new-offset match and the short match set the last offset.
TEST(BlockDecompress, OnlyMatchesChangeTheLastOffset)
{
    const std::vector<uint8_t> prefix = BytesOf("abcdefghijkl");
    struct Case {
        const char* name;
        void (*put)(BitWriter&);
        uint32_t lastOffset;  // after the code
        uint32_t written;     // by the code
    };
    const Case cases[] = {
        {"near byte", [](BitWriter& w) { PutNearByte(w, 7); }, 5, 1},
        {"zero byte", [](BitWriter& w) { PutZeroByte(w); }, 5, 1},
        {"literal", [](BitWriter& w) { PutLiteral(w, 8, 'z'); }, 5, 1},
        {"raw runs", [](BitWriter& w) { PutRawRuns(w, RandomBytes(256, 3)); }, 5, 256},
        {"literal format", [](BitWriter& w) { PutLiteralFormat(w, 8, 0); }, 5, 0},
        {"offset width", [](BitWriter& w) { PutOffsetWidth(w, 4, 9); }, 5, 0},
        {"repeat match", [](BitWriter& w) { PutRepeat(w, 2); }, 5, 2},
        {"short match", [](BitWriter& w) { PutShortMatch(w, 9, 2); }, 9, 2},
        {"match", [](BitWriter& w) { PutMatch(w, 8, 11, 2); }, 11, 6},
    };
    for (const Case& c : cases) {
        BitWriter w = LiteralsPrefix(prefix);
        PutShortMatch(w, 5, 2);
        c.put(w);
        PutRepeat(w, 4);
        PutEnd(w);
        const uint32_t size = uint32_t(prefix.size()) + 2 + c.written + 4;
        const Decoded d = Decode(MakeBlock(w, size, 0), size);
        ASSERT_EQ(d.result, size) << c.name;
        std::vector<uint8_t> expected(d.bytes.begin(), d.bytes.end() - 4);
        ReferenceCopy(expected, c.lastOffset, 4);
        EXPECT_EQ(d.bytes, expected) << c.name;
    }
}

// The bonus lengthens a match's copy but not the repeat's: the last offset
// stays the offset itself. The width field of 4, 5 or 6 bits sets the low
// width for every later match, until the next offset width code.
TEST(BlockDecompress, LengthBonusAtEveryThresholdAndOffsetWidthForLaterMatches)
{
    struct Case {
        uint32_t fieldBits, lowWidth, offset, bonus;
    };
    const Case cases[] = {{4, 8, 1, 4},     {4, 8, 127, 4},   {4, 8, 128, 0},   {4, 8, 638, 0},   {4, 8, 639, 1},
                          {4, 8, 14334, 1}, {4, 8, 14335, 2}, {4, 8, 65535, 2}, {4, 8, 65536, 3}, {4, 8, 70000, 3},
                          {4, 12, 4096, 1}, {4, 15, 4099, 1}, {5, 3, 4097, 1},  {6, 31, 4095, 1}, {6, 1, 4000, 1}};
    const std::vector<uint8_t> raw = RandomBytes(275 * BLOCK_RAW_RUN_SIZE, 13);
    for (const Case& c : cases) {
        BitWriter w;
        PutLiteralFormat(w, 8, 0);
        PutRawRuns(w, raw);
        PutOffsetWidth(w, c.fieldBits, c.lowWidth);
        PutMatch(w, c.lowWidth, c.offset, 2);
        PutRepeat(w, 2);
        PutMatch(w, c.lowWidth, c.offset, 3);
        PutEnd(w);
        std::vector<uint8_t> expected = raw;
        ReferenceCopy(expected, c.offset, 2 + c.bonus);
        ReferenceCopy(expected, c.offset, 2);
        ReferenceCopy(expected, c.offset, 3 + c.bonus);
        const uint32_t size = uint32_t(expected.size());
        const Decoded d = Decode(MakeBlock(w, size, 0), size);
        EXPECT_EQ(d.result, size) << c.lowWidth << " " << c.offset;
        EXPECT_TRUE(d.bytes == expected) << c.lowWidth << " " << c.offset;
    }
}

// Offsets shorter than the length repeat the last offset bytes, whatever
// code makes the copy and however the decoder widens it; and a copy is
// widened only over bytes it writes back unchanged: whatever room follows
// it, the bytes past its end stay as the caller left them.
// The bytes after a copy are all different, so that a copy which writes past
// its end and puts back what it overwrote in the wrong place shows.
TEST(BlockDecompress, CopiesRepeatTheirSourceAndLeaveTheBytesAfterThemAlone)
{
    const std::vector<uint8_t> prefix = RandomBytes(40, 17);
    for (uint32_t offset = 1; offset <= 24; ++offset) {
        for (uint32_t length = 2; length <= 45; ++length) {
            for (const uint32_t room : {0u, 1u, 8u, 15u, 16u, 17u, 30u}) {
                BitWriter w = LiteralsPrefix(prefix);
                if (length <= 5) {
                    PutShortMatch(w, offset, length);
                } else {
                    PutMatch(w, 8, offset, length - 4);
                }
                PutEnd(w);
                std::vector<uint8_t> expected = prefix;
                ReferenceCopy(expected, offset, length);
                const uint32_t size = uint32_t(expected.size());
                const std::vector<uint8_t> initial = RandomBytes(size + room, offset * 100 + length);
                expected.insert(expected.end(), initial.begin() + size, initial.end());
                const std::vector<uint8_t> block = MakeBlock(w, size + room, 0);
                const Decoded d = DecodeOnto(block, uint32_t(block.size()), initial);
                ASSERT_EQ(d.result, size) << offset << " " << length << " " << room;
                ASSERT_EQ(d.bytes, expected) << offset << " " << length << " " << room;
            }
        }
    }
}

// Gamma numbers of 1 to 17 pairs starting at every bit of a word: short ones
// are read whole, and a number that runs into the next word must be read
// exactly as one that does not.
TEST(BlockDecompress, GammaNumbersOfEveryLengthAtEveryBitPosition)
{
    const std::vector<uint8_t> prefix = RandomBytes(20, 29);
    for (uint32_t pairs = 1; pairs <= 17; ++pairs) {
        const uint32_t length = 1u << pairs | (0x2D6Bu & ((1u << pairs) - 1));
        for (uint32_t shift = 0; shift < 32; ++shift) {
            BitWriter w = LiteralsPrefix(prefix);
            std::vector<uint8_t> expected = prefix;
            // A near byte takes 7 bits, so 0 to 31 of them, from every near
            // offset, start the match at every bit.
            for (uint32_t i = 0; i < shift; ++i) {
                PutNearByte(w, 1 + i % 14);
                ReferenceCopy(expected, 1 + i % 14, 1);
            }
            PutMatch(w, 8, 3, 2);
            ReferenceCopy(expected, 3, 2 + BlockLengthBonus(3));
            PutRepeat(w, length);
            ReferenceCopy(expected, 3, length);
            PutEnd(w);
            const uint32_t size = uint32_t(expected.size());
            const Decoded d = Decode(MakeBlock(w, size, 0), size);
            ASSERT_EQ(d.result, size) << pairs << " " << shift;
            ASSERT_EQ(d.bytes, expected) << pairs << " " << shift;
        }
    }
}

// The word after the end code is never loaded, so a block that ends there is
// whole, wherever in the word the twelve zero bits fall.
TEST(BlockDecompress, EndCodeAtAnyBitPositionNeedsNoFurtherWord)
{
    for (uint32_t literals = 0; literals < 40; ++literals) {
        std::vector<uint8_t> expected = RandomBytes(literals, literals);
        BitWriter w;
        PutLiteralFormat(w, 7, 0);
        for (uint8_t& b : expected) {
            b &= 0x7F;
            PutLiteral(w, 7, b);
        }
        PutEnd(w);
        const Decoded d = Decode(MakeBlock(w, literals, 0), literals);
        EXPECT_EQ(d.result, literals) << literals;
        EXPECT_EQ(d.bytes, expected) << literals;
    }
}

TEST(BlockDecompress, ExtraBytesAfterTheStreamAreNotRead)
{
    std::vector<uint8_t> block = EXAMPLE_BLOCK;
    block.insert(block.end(), {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
    EXPECT_EQ(Decode(block, 4).result, 4u);
}

// Sound or not, a block that holds no bytes gives 0 and writes nothing.
TEST(BlockDecompress, EmptyBlocksGiveZeroAndWriteNothing)
{
    for (const EmptyBlockCase& c : EmptyBlockCases()) {
        const Decoded d = Decode(c.block, 8);
        EXPECT_EQ(d.result, 0u) << c.name;
        EXPECT_EQ(d.bytes, std::vector<uint8_t>(8, FILL)) << c.name;
        EXPECT_TRUE(d.guardIntact) << c.name;
    }
}

// The result is the bytes written, even when that is less than the header
// says; the checksum still covers the header's unpacked size, including
// bytes of the destination the block did not write, but never reads past
// the capacity; below four bytes no checksum but 0 can pass.
TEST(BlockDecompress, ShortBlockCountsTheBytesWrittenAndChecksTheUnpackedSize)
{
    BitWriter w = LiteralsPrefix(BytesOf("abcd"));
    PutEnd(w);
    const std::vector<uint8_t> whole = {'a', 'b', 'c', 'd', FILL, FILL, FILL, FILL};
    const Decoded unchecked = Decode(MakeBlock(w, 8, 0), 8);
    EXPECT_EQ(unchecked.result, 4u);
    EXPECT_EQ(unchecked.bytes, whole);
    EXPECT_EQ(Decode(MakeBlock(w, 8, BlockChecksum(whole.data(), 8)), 8).result, 4u);
    EXPECT_EQ(Decode(MakeBlock(w, 8, BlockChecksum(whole.data(), 4)), 8).result, 0u);
    const Decoded pastCapacity = Decode(MakeBlock(w, 8, BlockChecksum(whole.data(), 8)), 4);
    EXPECT_EQ(pastCapacity.result, 0u);
    EXPECT_TRUE(pastCapacity.guardIntact);
    BitWriter three = LiteralsPrefix(BytesOf("abc"));
    PutEnd(three);
    EXPECT_EQ(Decode(MakeBlock(three, 3, 0x12345678), 3).result, 0u);
}

// The guards reject only what is malformed: a width the matches never use,
// and codes other than the literal before the first literal format, are fine;
// a repeat match before any match copies from offset 1.
TEST(BlockDecompress, HarmlessOdditiesStillDecode)
{
    BitWriter w;
    PutZeroByte(w);
    PutRepeat(w, 2);
    PutOffsetWidth(w, 6, 0);
    PutLiteralFormat(w, 8, 0);
    PutLiteral(w, 8, 'q');
    PutOffsetWidth(w, 6, 63);
    PutRepeat(w, 2);
    PutNearByte(w, 2);
    PutEnd(w);
    const Decoded d = Decode(MakeBlock(w, 7, 0), 7);
    EXPECT_EQ(d.result, 7u);
    EXPECT_EQ(d.bytes, (std::vector<uint8_t>{0, 0, 0, 'q', 'q', 'q', 'q'}));
}

// Every malformed kind gives 0 and leaves memory past the capacity alone.
TEST(BlockDecompress, MalformedBlocksGiveZeroInsideTheirBuffers)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> block;
        uint32_t capacity;
    };
    std::vector<Case> cases;
    const auto addAfter = [&cases](const char* name, BitWriter w, void (*put)(BitWriter&), uint32_t unpackedSize,
                                   uint32_t capacity) {
        put(w);
        PutEnd(w);
        cases.push_back({name, MakeBlock(w, unpackedSize, 0), capacity});
    };
    const auto add = [&addAfter](const char* name, void (*put)(BitWriter&), uint32_t unpackedSize, uint32_t capacity) {
        addAfter(name, LiteralsPrefix(BytesOf("abcd")), put, unpackedSize, capacity);
    };
    // Blocks cut short are every truncation in EveryTruncationAndShortCapacityGivesZero.
    cases.push_back({"wrong magic", EXAMPLE_BLOCK, 4});
    cases.back().block[1] = 'z';
    // Copies from outside the output.
    add("match offset 0", [](BitWriter& w) { PutMatch(w, 8, 0, 2); }, 100, 100);
    add("match before the start", [](BitWriter& w) { PutMatch(w, 8, 5, 2); }, 100, 100);
    add("short match before the start", [](BitWriter& w) { PutShortMatch(w, 5, 2); }, 100, 100);
    add("near byte before the start", [](BitWriter& w) { PutNearByte(w, 5); }, 100, 100);
    addAfter("repeat match with no output", BitWriter{}, [](BitWriter& w) { PutLiteralFormat(w, 8, 0); PutRepeat(w, 2); }, 100, 100);
    // Numbers that do not fit in 32 bits; each would wrap to a valid copy.
    add("length plus bonus over 32 bits", [](BitWriter& w) { PutMatch(w, 8, 2, 0xFFFFFFFF); }, 100, 100);
    // A high part of 2^24, shifted by 8.
    add("offset over 32 bits", [](BitWriter& w) { PutBits(w, 0b01, 2); PutGamma(w, (1u << 24) + 3); PutBits(w, 1, 8); PutGamma(w, 2); }, 100, 100);
    add("gamma over 32 bits", [](BitWriter& w) { PutRepeat(w, (uint64_t(1) << 32) + 2); }, 100, 100);
    // Output past the unpacked size or the capacity.
    add("literal past the unpacked size", [](BitWriter& w) { PutLiteral(w, 8, 1); }, 4, 100);
    add("match past the unpacked size", [](BitWriter& w) { PutMatch(w, 8, 4, 2); }, 9, 100);
    add("short match past the unpacked size", [](BitWriter& w) { PutShortMatch(w, 4, 3); }, 6, 100);
    add("repeat match past the unpacked size", [](BitWriter& w) { PutRepeat(w, 9); }, 12, 100);
    add("near byte past the unpacked size", [](BitWriter& w) { PutNearByte(w, 1); }, 4, 100);
    add("zero byte past the unpacked size", [](BitWriter& w) { PutZeroByte(w); }, 4, 100);
    add("raw run past the unpacked size", [](BitWriter& w) { PutRawRuns(w, RandomBytes(256, 1)); }, 259, 1000);
    add("literal past the capacity", [](BitWriter& w) { PutLiteral(w, 8, 1); }, 100, 4);
    add("match past the capacity", [](BitWriter& w) { PutMatch(w, 8, 4, 2); }, 100, 9);
    // Offset low widths no match can use.
    add("match with low width 0", [](BitWriter& w) { PutOffsetWidth(w, 4, 0); PutMatch(w, 0, 1, 2); }, 100, 100);
    add("match with low width 32", [](BitWriter& w) { PutOffsetWidth(w, 6, 32); PutBits(w, 0b01, 2); PutGamma(w, 3); PutBits(w, 1, 32); PutGamma(w, 2); }, 100, 100);
    add("match with low width 63", [](BitWriter& w) { PutOffsetWidth(w, 6, 63); PutMatch(w, 8, 1, 2); }, 100, 100);
    // A literal of no width would leave a valid stream behind it.
    addAfter("literal before the literal format", BitWriter{}, [](BitWriter& w) { PutBits(w, 1, 1); PutLiteralFormat(w, 8, 0); PutLiteral(w, 8, 'a'); }, 100, 100);
    for (const Case& c : cases) {
        const Decoded d = Decode(c.block, c.capacity);
        EXPECT_EQ(d.result, 0u) << c.name;
        EXPECT_TRUE(d.guardIntact) << c.name;
    }
}

TEST(BlockDecompress, MissingBuffersGiveZero)
{
    uint8_t destination[4] = {};
    EXPECT_EQ(BlockDecompress(nullptr, 18, destination, 4), 0u);
    EXPECT_EQ(BlockDecompress(EXAMPLE_BLOCK.data(), 18, nullptr, 4), 0u);
}

// A test-side model: each code is written and its bytes are produced the
// byte-by-byte way, so random mixes check every field at every bit position.
struct ModelBlock {
    BitWriter w;
    std::vector<uint8_t> out;
    uint32_t lastOffset = 1;
    uint32_t lowWidth = BLOCK_FIRST_OFFSET_LOW_WIDTH;
    uint32_t width = 8;
    uint32_t base = 0;
};

void AddRandomCode(ModelBlock& m, std::mt19937& random)
{
    const uint32_t size = uint32_t(m.out.size());
    const auto pick = [&random](uint32_t low, uint32_t high) { return low + random() % (high - low + 1); };
    switch (size == 0 ? 0 : pick(0, 9)) {
    case 0:
    case 1: {
        const uint32_t value = pick(0, (1u << m.width) - 1);
        PutLiteral(m.w, m.width, value);
        m.out.push_back(uint8_t(value + m.base));
        break;
    }
    case 2:
        m.width = pick(7, 8);
        m.base = m.width == 7 ? pick(0, 255) : 0;
        PutLiteralFormat(m.w, m.width, m.base);
        break;
    case 3: {
        const uint32_t offset = pick(1, size < 14 ? size : 14);
        PutNearByte(m.w, offset);
        ReferenceCopy(m.out, offset, 1);
        break;
    }
    case 4:
        PutZeroByte(m.w);
        m.out.push_back(0);
        break;
    case 5: {
        m.lastOffset = pick(1, size < 127 ? size : 127);
        const uint32_t length = pick(2, 5);
        PutShortMatch(m.w, m.lastOffset, length);
        ReferenceCopy(m.out, m.lastOffset, length);
        break;
    }
    case 6: {
        m.lastOffset = random() % 2 ? pick(1, size) : pick(1, size < 300 ? size : 300);
        const uint32_t coded = random() % 4 ? pick(2, 20) : pick(2, 300);
        PutMatch(m.w, m.lowWidth, m.lastOffset, coded);
        ReferenceCopy(m.out, m.lastOffset, coded + BlockLengthBonus(m.lastOffset));
        break;
    }
    case 7: {
        const uint32_t length = pick(2, 60);
        PutRepeat(m.w, length);
        ReferenceCopy(m.out, m.lastOffset, length);
        break;
    }
    case 8: {
        const uint32_t fieldBits = pick(4, 6);
        m.lowWidth = pick(1, fieldBits == 4 ? 15 : 20);
        PutOffsetWidth(m.w, fieldBits, m.lowWidth);
        break;
    }
    default: {
        const std::vector<uint8_t> raw = RandomBytes(pick(1, 3) * BLOCK_RAW_RUN_SIZE, random());
        PutRawRuns(m.w, raw);
        m.out.insert(m.out.end(), raw.begin(), raw.end());
        break;
    }
    }
}

ModelBlock RandomModelBlock(std::mt19937& random, uint32_t codes)
{
    ModelBlock m;
    m.width = 7 + random() % 2;
    m.base = m.width == 7 ? random() % 256 : 0;
    PutLiteralFormat(m.w, m.width, m.base);
    for (uint32_t i = 0; i < codes; ++i) {
        AddRandomCode(m, random);
    }
    PutEnd(m.w);
    return m;
}

TEST(BlockDecompress, RandomCodeMixesMatchTheByteByByteModel)
{
    std::mt19937 random(20240601);
    for (int i = 0; i < 300; ++i) {
        const ModelBlock m = RandomModelBlock(random, 1 + random() % 200);
        const uint32_t size = uint32_t(m.out.size());
        const uint32_t checksum = i % 2 ? BlockChecksum(m.out.data(), size) : 0;
        const Decoded d = Decode(MakeBlock(m.w, size, checksum), size);
        ASSERT_EQ(d.result, size) << i;
        ASSERT_EQ(d.bytes, m.out) << i;
    }
}

// Any block cut short, and any capacity too small for it, is malformed.
TEST(BlockDecompress, EveryTruncationAndShortCapacityGivesZero)
{
    std::mt19937 random(77);
    for (int i = 0; i < 20; ++i) {
        const ModelBlock m = RandomModelBlock(random, 1 + random() % 30);
        const uint32_t size = uint32_t(m.out.size());
        const std::vector<uint8_t> block = MakeBlock(m.w, size, 0);
        for (uint32_t length = 0; length < block.size(); ++length) {
            ASSERT_EQ(Decode(block, size, length).result, 0u) << i << " " << length;
        }
        for (uint32_t capacity = 0; capacity < size; ++capacity) {
            const Decoded d = Decode(block, capacity);
            ASSERT_EQ(d.result, 0u) << i << " " << capacity;
            ASSERT_TRUE(d.guardIntact) << i << " " << capacity;
        }
    }
}

}  // namespace
