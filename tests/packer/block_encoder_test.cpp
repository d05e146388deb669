// The block compressor, checked through the project's block decoder: every
// level must give back the input exactly, for inputs built to reach every
// code and every threshold of the format.
#include "packer/block_encoder.h"

#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pack/block_decoder.h"
#include "pack/block_format.h"
#include "packer/block_emitter.h"
#include "tests/packer/packer_test_data.h"

namespace {

const int LEVELS[] = {LEVEL_FAST, 5, LEVEL_BEST};

struct Case {
    std::string name;
    std::vector<uint8_t> data;
};

// Offsets at which the length bonus changes, and their neighbours.
const uint32_t BONUS_EDGES[] = {1, 2, 14, 15, 127, 128, 638, 639, 14334, 14335, 65535, 65536, 70000};

// A random stretch, then copies of `length` bytes from exactly `offset`
// back, with fresh bytes between them so no other offset serves.
std::vector<uint8_t> CopiesAtOffset(uint32_t offset, uint32_t length, uint32_t seed)
{
    std::vector<uint8_t> data = RandomBytes(offset, seed);
    for (uint32_t k = 0; k < 8; ++k) {
        const size_t from = data.size() - offset;
        for (uint32_t i = 0; i < length; ++i) data.push_back(data[from + i]);
        Append(data, RandomBytes(3, seed + 1 + k));
    }
    return data;
}

// Matches, single bytes and a repeat of the last offset, over and over.
std::vector<uint8_t> RepeatPattern(uint32_t seed)
{
    std::vector<uint8_t> data = RandomBytes(4000, seed);
    for (uint32_t k = 0; k < 200; ++k) {
        const size_t from = data.size() - 900;
        for (uint32_t i = 0; i < 6; ++i) data.push_back(data[from + i]);
        data.push_back(uint8_t(k * 7));  // differs from the source: ends the match
        for (uint32_t i = 7; i < 12; ++i) data.push_back(data[from + i]);
    }
    return data;
}

std::vector<Case> SyntheticCases()
{
    std::vector<Case> cases = {
        {"empty", {}},
        {"one byte", {0x41}},
        {"two bytes", {0x00, 0xFF}},
        {"three bytes", {0x80, 0x80, 0x80}},
        {"zeros 1", std::vector<uint8_t>(1, 0)},
        {"zeros 100000", std::vector<uint8_t>(100000, 0)},
        {"one byte repeated", std::vector<uint8_t>(5000, 0xE8)},
        {"random 3000", RandomBytes(3000, 1)},
        {"random 70000", RandomBytes(70000, 2)},
        {"7-bit window", RandomBytes(3000, 3, 0x60, 128)},
        {"text", TextBytes(50000, 4)},
        {"repeats", RepeatPattern(5)},
    };
    std::vector<uint8_t> mixed = TextBytes(2000, 6);
    Append(mixed, RandomBytes(1024, 7));
    Append(mixed, std::vector<uint8_t>(3000, 0));
    Append(mixed, RandomBytes(600, 8, 0xC0, 64));
    Append(mixed, TextBytes(2000, 6));
    cases.push_back({"mixed", mixed});
    // One copy longer than the optimal parse's longest token: the parse must
    // split it, and the pieces after the first repeat its offset.
    std::vector<uint8_t> longCopy = RandomBytes(1000, 9);
    while (longCopy.size() < PARSE_LENGTH_MAX + 5000) longCopy.push_back(longCopy[longCopy.size() - 1000]);
    cases.push_back({"copy longer than a parse token", longCopy});
    for (uint32_t offset : BONUS_EDGES)
        for (uint32_t length : {2u, 3u, 5u, 6u, 7u, 9u})
            cases.push_back({"offset " + std::to_string(offset) + " length " + std::to_string(length),
                             CopiesAtOffset(offset, length, offset + length)});
    return cases;
}

// Walks the codes of a block, as the format defines them, and lists the
// widths that its offset width codes set, in order.
struct CodeWalker {
    const std::vector<uint8_t>& block;
    size_t bit = 0;
};

uint32_t WalkBits(CodeWalker& c, uint32_t count)
{
    uint32_t value = 0;
    for (uint32_t i = 0; i < count; ++i, ++c.bit) {
        const uint32_t word = LoadU32(&c.block[BLOCK_HEADER_SIZE + c.bit / 32 * 4]);
        value = value << 1 | (word >> (31 - c.bit % 32) & 1);
    }
    return value;
}

uint32_t WalkGamma(CodeWalker& c)
{
    uint32_t value = 1;
    do value = value << 1 | WalkBits(c, 1);
    while (WalkBits(c, 1));
    return value;
}

std::vector<uint32_t> OffsetWidthsSet(const std::vector<uint8_t>& block)
{
    CodeWalker c{block};
    std::vector<uint32_t> widths;
    uint32_t literalWidth = 8;
    uint32_t offsetWidth = BLOCK_FIRST_OFFSET_LOW_WIDTH;
    while ((c.bit + 1) / 32 * 4 + BLOCK_HEADER_SIZE < block.size()) {
        if (WalkBits(c, 1)) {
            WalkBits(c, literalWidth);
        } else if (WalkBits(c, 1)) {
            if (WalkGamma(c) != BLOCK_REPEAT_GAMMA) WalkBits(c, offsetWidth);
            WalkGamma(c);
        } else if (!WalkBits(c, 1)) {
            const uint32_t offset = WalkBits(c, BLOCK_SHORT_OFFSET_BITS);
            const uint32_t length = WalkBits(c, BLOCK_SHORT_LENGTH_BITS);
            if (offset != 0) continue;
            if (length == 0) break;
            offsetWidth = WalkBits(c, length + BLOCK_OFFSET_WIDTH_EXTRA_BITS);
            widths.push_back(offsetWidth);
        } else if (WalkBits(c, BLOCK_NEAR_BITS) < BLOCK_NEAR_ZERO_BYTE) {  // raw runs or a literal format
            if (WalkBits(c, 1)) {
                do c.bit += BLOCK_RAW_RUN_SIZE * 8;
                while (WalkBits(c, 1));
            } else {
                literalWidth = WalkBits(c, 1) ? 8 : 7;
                if (literalWidth == 7) WalkBits(c, BLOCK_LITERAL_BASE_BITS);
            }
        }
    }
    return widths;
}

uint32_t Decode(const std::vector<uint8_t>& block, std::vector<uint8_t>& out, size_t expected)
{
    out.assign(expected + 16, 0xA5);
    const uint32_t result = BlockDecompress(block.data(), uint32_t(block.size()), out.data(), uint32_t(out.size()));
    out.resize(expected);
    return result;
}

// The block of data at level, checked: header, word-aligned stream, exact
// decoding, a literal-format code first and no word after the end code.
std::vector<uint8_t> ExpectRoundTrip(const std::vector<uint8_t>& data, int level, const std::string& name)
{
    SCOPED_TRACE(name + ", level " + std::to_string(level));
    const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), level);
    EXPECT_GE(block.size(), BLOCK_HEADER_SIZE + 4u);
    if (block.size() < BLOCK_HEADER_SIZE + 4u) return block;
    EXPECT_EQ((block.size() - BLOCK_HEADER_SIZE) % 4, 0u);
    EXPECT_EQ(LoadU32(&block[BLOCK_UNPACKED_SIZE_OFFSET]), data.size());
    EXPECT_EQ(LoadU32(&block[BLOCK_CHECKSUM_OFFSET]), BlockChecksum(data.data(), uint32_t(data.size())));
    std::vector<uint8_t> decoded;
    EXPECT_EQ(Decode(block, decoded, data.size()), data.size());
    EXPECT_TRUE(decoded == data);
    // 001, 0000, 0: the literal-format code's first eight bits.
    EXPECT_EQ(LoadU32(&block[BLOCK_HEADER_SIZE]) >> 24, 0x20u);
    // Dropping the last word must break the block: a stream that ends early
    // would leave a wasted word (and a decoder reading up to it). For no
    // bytes, 0 is the result either way.
    if (!data.empty()) {
        EXPECT_EQ(Decode({block.begin(), block.end() - 4}, decoded, data.size()), 0u);
    }
    return block;
}

TEST(BlockCompress, EveryLevelRoundTripsEveryCodeAndThreshold)
{
    for (const Case& c : SyntheticCases())
        for (int level : LEVELS) ExpectRoundTrip(c.data, level, c.name);
}

TEST(BlockCompress, PeFilesRoundTripToTheSameBytesEachTimeAndBestBeatsFast)
{
    for (const char* name : {"irprops.cpl", "extrac32.exe", "drmclien.dll"}) {
        std::vector<uint8_t> data = ReadSample(name);
        if (data.empty()) data = TextBytes(60000, uint32_t(strlen(name)));  // no sample PE files in this build
        std::vector<size_t> sizes;
        for (int level : LEVELS) {
            const std::vector<uint8_t> block = ExpectRoundTrip(data, level, name);
            // With a progress callback: reporting must not change the output.
            uint64_t calls = 0;
            const std::vector<uint8_t> again =
                BlockCompress(data.data(), data.size(), level, [&](uint64_t, uint64_t) { ++calls; });
            EXPECT_TRUE(again == block) << name << ", level " << level;
            EXPECT_TRUE(level == LEVEL_FAST || calls > 0) << name << ", level " << level;
            sizes.push_back(block.size());
        }
        EXPECT_LT(sizes.back(), sizes.front()) << name;
    }
}

TEST(BlockCompress, FarMatchesAreFoundAnywhereInTheWindow)
{
    const std::vector<uint8_t> head = RandomBytes(300000, 11);
    std::vector<uint8_t> repeated = head;
    repeated.insert(repeated.end(), head.begin(), head.begin() + 2000);
    std::vector<uint8_t> fresh = head;
    Append(fresh, RandomBytes(2000, 12));
    for (int level : {LEVEL_FAST, LEVEL_BEST}) {
        const size_t withCopy = BlockCompress(repeated.data(), repeated.size(), level).size();
        const size_t without = BlockCompress(fresh.data(), fresh.size(), level).size();
        EXPECT_LT(withCopy + 1900, without) << "level " << level;
    }
}

TEST(BlockCompress, BytesThatNeverRecurTakeRawRunsOrSevenBitLiteralsNotNine)
{
    // Literals would take 9 bits a byte. Raw runs take 8 and a bit per run;
    // too short for a raw run, only 7-bit literals with a base beat 9 bits.
    const struct {
        const char* what;
        std::vector<uint8_t> data;
        size_t most;
    } cases[] = {
        {"64 KiB random", RandomBytes(64 * 1024, 13), 64 * 1024 + 64 * 1024 / 200 - 1},
        {"255 in a window", RandomBytes(255, 14, 0xB0, 128), BLOCK_HEADER_SIZE + (255 * 8 + 9 + 8 + 12 + 31) / 32 * 4},
    };
    for (const auto& c : cases)
        EXPECT_LE(BlockCompress(c.data.data(), c.data.size(), LEVEL_BEST).size(), c.most) << c.what;
    // Bytes of one 128-value window take 7-bit literals (8 bits with their
    // prefix) and near codes (7), which beat raw runs (8 and a bit per run).
    const std::vector<uint8_t> printable = RandomBytes(64 * 1024, 20, 0x20, 95);
    for (int level : LEVELS)
        EXPECT_LT(BlockCompress(printable.data(), printable.size(), level).size(), printable.size())
            << "level " << level;
    // Every level, over several segments: at most half a percent more.
    const std::vector<uint8_t> random = RandomBytes(200000, 19);
    for (int level : LEVELS)
        EXPECT_LE(BlockCompress(random.data(), random.size(), level, {}, {1u << 16, 1u << 17, 1u << 16}).size(),
                  random.size() + random.size() / 200)
            << "level " << level;
}

TEST(BlockCompress, SegmentsAndWindowsMuchSmallerThanTheInputRoundTripAndStillCompress)
{
    // Segments of 4 KiB and windows of 8 KiB: matches that reach into
    // earlier segments and past the window's end, and the decoder's last
    // offset, offset width and literal format carried from one segment to
    // the next, must all give back the input.
    const CompressBounds small = {1u << 12, 1u << 13, 1u << 12};
    std::vector<uint8_t> copies = RandomBytes(20000, 41);
    for (uint32_t k = 0; k < 60; ++k) {
        const size_t from = copies.size() - 300 - 251 * k;  // up to 15000 back, past the window
        for (uint32_t i = 0; i < 40; ++i) copies.push_back(copies[from + i]);
        Append(copies, RandomBytes(9, 42 + k));
    }
    std::vector<uint8_t> pe = ReadSample("drmclien.dll");
    if (pe.empty()) pe = TextBytes(60000, 43);
    std::vector<uint8_t> mixed = TextBytes(9000, 44);
    Append(mixed, std::vector<uint8_t>(12345, 0));
    Append(mixed, RandomBytes(7000, 45, 0x90, 100));
    Append(mixed, TextBytes(9000, 46));
    // Four words in random order: every position recurs at many offsets,
    // more than the finder's lists hold room for.
    std::vector<uint8_t> words;
    const std::vector<uint8_t> pick = RandomBytes(6000, 48);
    for (uint8_t r : pick) Append(words, {uint8_t('a' + r % 4), 'x', 'y', uint8_t('a' + r / 64), ' '});
    const std::vector<Case> inputs = {{"copies", copies}, {"PE file", pe}, {"text, zeros, high bytes", mixed},
                                      {"repeats", RepeatPattern(47)}, {"four words", words}};
    for (const Case& c : inputs) {
        for (int level : LEVELS) {
            // The copies from within the window save 30 bytes or more each
            // (the fast level's window is half as long); the other inputs
            // compress by a tenth at least.
            const size_t copiesSaved = level == LEVEL_FAST ? 100 : 600;
            const size_t most = c.name == "copies" ? c.data.size() - copiesSaved : c.data.size() * 9 / 10;
            SCOPED_TRACE(c.name + ", level " + std::to_string(level));
            const std::vector<uint8_t> block = BlockCompress(c.data.data(), c.data.size(), level, {}, small);
            std::vector<uint8_t> decoded;
            ASSERT_EQ(Decode(block, decoded, c.data.size()), c.data.size());
            EXPECT_TRUE(decoded == c.data);
            EXPECT_LT(block.size(), most);
        }
    }
}

TEST(BlockCompress, WidthChangesInsideABlockDecode)
{
    // Copies from about 300 back, then from about 200000 back, then near ones
    // again, each from an offset of its own (one offset would make all but
    // the first a repeat match, which has no low part): the best level
    // widens the offset low width for the far copies and narrows it after.
    std::vector<uint8_t> data = RandomBytes(200000, 21);
    for (uint32_t part = 0; part < 3; ++part) {
        for (uint32_t k = 0; k < 40; ++k) {
            const uint32_t offset = part == 1 ? 200000 - 97 * k : 300 + 7 * k;
            const size_t from = data.size() - offset;
            for (uint32_t i = 0; i < 6; ++i) data.push_back(data[from + i]);
            Append(data, RandomBytes(5, 22 + part * 40 + k));
        }
    }
    for (int level : {LEVEL_FAST, LEVEL_BEST}) ExpectRoundTrip(data, level, "width changes");
    const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), LEVEL_BEST);
    const std::vector<uint32_t> widths = OffsetWidthsSet(block);
    // Whatever suits the near copies, the far ones need a wider low part and
    // the last ones a narrower one again.
    ASSERT_GE(widths.size(), 2u) << "the best level kept one offset width for the whole block";
    const uint32_t widest = *std::max_element(widths.begin(), widths.end());
    EXPECT_GT(widest, std::min(widths.front(), BLOCK_FIRST_OFFSET_LOW_WIDTH));
    EXPECT_LT(widths.back(), widest);
}

TEST(FindMatches, OffersEveryNearOffsetWhereTheNextTwoBytesRecur)
{
    // "AB" every third byte, a new byte after each: at the last "AB" only
    // two bytes match anywhere, the nearest 3 back. 6 and 9 back must be
    // offered too, for a parse that wants one of them as its last offset.
    std::vector<uint8_t> data;
    for (uint8_t k = 0; k < 4; ++k) Append(data, {'A', 'B', uint8_t('c' + k)});
    const MatchTable m = FindMatches(data.data(), data.size(), 32, 16, {});
    const uint32_t pos = 9;
    std::vector<uint32_t> offsets;
    for (uint32_t c = m.first[pos]; c < m.first[pos + 1]; ++c) offsets.push_back(m.matches[c].offset);
    for (uint32_t c = m.alternativeFirst[pos]; c < m.alternativeFirst[pos + 1]; ++c)
        offsets.push_back(m.alternatives[c].offset);
    std::sort(offsets.begin(), offsets.end());
    EXPECT_EQ(offsets, (std::vector<uint32_t>{3, 6, 9}));
}

TEST(FindMatches, ListsTheMatchThatResumesAfterADifferingByte)
{
    // At 400 the first ten bytes recur 100 back and 400 back; the nearest
    // wins there. After one differing byte the copy goes on only at 400
    // back, so the match at 400 back must be listed for position 400 too.
    std::vector<uint8_t> data = RandomBytes(300, 31);
    Append(data, std::vector<uint8_t>(data.begin(), data.begin() + 10));
    Append(data, RandomBytes(90, 32));
    Append(data, std::vector<uint8_t>(data.begin(), data.begin() + 10));
    data.push_back(uint8_t(data[10] ^ 0x55));
    Append(data, std::vector<uint8_t>(data.begin() + 11, data.begin() + 31));
    const MatchTable m = FindMatches(data.data(), data.size(), 32, 16, {});
    EXPECT_TRUE(std::any_of(m.resumed.begin() + m.resumedFirst[400], m.resumed.begin() + m.resumedFirst[401],
                            [](const MatchCandidate& c) { return c.offset == 400 && c.length == 10; }));
}

TEST(FindMatches, ResumedMatchesCopyBytesThatAreThere)
{
    // A resumed match is measured backwards from a later one: each must start
    // at or after its source, stay inside the input and copy equal bytes.
    std::vector<Case> inputs = {{"repeats", RepeatPattern(33)}, {"text", TextBytes(20000, 34)}};
    std::vector<uint8_t> patched = RandomBytes(5000, 35);
    for (uint32_t k = 0; k < 300; ++k) {
        const size_t from = patched.size() - 1000 - 7 * k;
        for (uint32_t i = 0; i < 12; ++i) patched.push_back(i % 5 == 4 ? uint8_t(k + i) : patched[from + i]);
    }
    inputs.push_back({"copies with patched bytes", patched});
    inputs.push_back({"PE file", ReadSample("irprops.cpl")});
    for (const Case& c : inputs) {
        SCOPED_TRACE(c.name);
        if (c.data.empty()) continue;  // no sample PE files
        const MatchTable m = FindMatches(c.data.data(), c.data.size(), 64, 32, {});
        ASSERT_EQ(m.resumedFirst.size(), c.data.size() + 1);
        size_t listed = 0;
        for (uint32_t pos = 0; pos < c.data.size(); ++pos) {
            for (uint32_t r = m.resumedFirst[pos]; r < m.resumedFirst[pos + 1]; ++r, ++listed) {
                const MatchCandidate cand = m.resumed[r];
                ASSERT_TRUE(cand.offset >= 1 && cand.offset <= pos) << "at " << pos;
                ASSERT_LE(pos + cand.length, c.data.size());
                ASSERT_TRUE(MatchCodable(cand.offset, cand.length));
                ASSERT_EQ(memcmp(&c.data[pos], &c.data[pos - cand.offset], cand.length), 0) << "at " << pos;
            }
        }
        EXPECT_EQ(listed, m.resumed.size());
        if (c.name != "text") {
            EXPECT_GT(listed, 0u);
        }
    }
}

TEST(FindMatches, ListsFullerThanTheirRoomKeepRealMatchesOnly)
{
    // Four words in random order recur at more offsets than the lists hold
    // room for: the lists stop at their room, and each candidate left, a
    // longest one in place of a shorter one, still copies equal bytes.
    std::vector<uint8_t> words;
    for (uint8_t r : RandomBytes(8000, 49)) Append(words, {uint8_t('a' + r % 4), 'x', uint8_t('a' + r / 64), ' '});
    const MatchTable m = FindMatches(words.data(), words.size(), 512, 256, {});
    const size_t n = words.size();
    EXPECT_LE(m.matches.size(), 4 * n);
    EXPECT_EQ(m.alternatives.size(), 8 * n);  // full: the room binds here
    EXPECT_LE(m.resumed.size(), 2 * n);
    for (uint32_t pos = 0; pos < n; ++pos) {
        uint32_t shorter = 0;
        for (uint32_t c = m.first[pos]; c < m.first[pos + 1]; ++c) {
            const MatchCandidate cand = m.matches[c];
            ASSERT_GT(cand.length, shorter) << "at " << pos;
            ASSERT_TRUE(cand.offset >= 1 && cand.offset <= pos && pos + cand.length <= n) << "at " << pos;
            ASSERT_EQ(memcmp(&words[pos], &words[pos - cand.offset], cand.length), 0) << "at " << pos;
            shorter = cand.length;
        }
    }
}

TEST(ParseChoose, LiteralFormatsFitSwitchOnlyWhereItPaysAndTakeTheLowestBase)
{
    // A long stretch of high bytes between two of low ones: three windows.
    std::vector<uint8_t> three = RandomBytes(300, 15, 0x00, 100);
    Append(three, RandomBytes(300, 16, 0x90, 100));
    Append(three, RandomBytes(300, 17, 0x00, 100));
    struct WindowCase {
        std::string name;
        std::vector<uint8_t> data;
        size_t switches;
    };
    std::vector<WindowCase> cases = {{"three windows", three, 2}};
    // One window each: the cheapest format is found among 257 by a search
    // that tests several at once; a fault in it picks a format the literals
    // do not fit, or another of the equally cheap ones than the first.
    for (auto [lowest, span] : {std::pair{0x00u, 100u}, {0x21u, 94u}, {0x90u, 100u}, {0xF0u, 100u}, {0x80u, 128u},
                                {0x81u, 127u}, {0x00u, 256u}})
        cases.push_back({"bytes from " + std::to_string(lowest) + ", " + std::to_string(span) + " values",
                         RandomBytes(2000, 18 + lowest, lowest, span), 0});
    for (const WindowCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> literals;
        for (size_t i = 0; i < c.data.size(); ++i)
            if (NearCode(c.data.data(), i) == 0) literals.push_back(c.data[i]);
        const TokenList bytes(c.data.size(), Token{1, 0, TOKEN_BYTE});
        const std::vector<uint16_t> modes = ParseChoose(c.data.data(), c.data.size(), bytes).literalModes;
        ASSERT_EQ(modes.size(), literals.size());
        size_t switches = 0;
        for (size_t k = 0; k < literals.size(); ++k) {
            EXPECT_TRUE(LiteralFits(modes[k], literals[k])) << "literal " << k;
            switches += k > 0 && modes[k] != modes[k - 1];
        }
        EXPECT_EQ(switches, c.switches);
        if (c.switches > 0) continue;
        uint16_t lowestBase = LITERAL_MODE_8;
        for (uint16_t base = 0; base < LITERAL_MODE_8 && lowestBase == LITERAL_MODE_8; ++base)
            if (std::all_of(literals.begin(), literals.end(), [&](uint8_t b) { return LiteralFits(base, b); }))
                lowestBase = base;
        EXPECT_EQ(modes[0], lowestBase);
    }
}

}  // namespace
