#include "packer/block_encoder.h"

#include <assert.h>

#include <algorithm>

#include "packer/block_emitter.h"
#include "packer/parsers.h"

namespace {

struct LevelSettings {
    uint32_t niceLength;
    uint32_t searchDepth;
    uint32_t arrivals;
    uint32_t passes;
    // Arrivals of a scouting pass: a cheap optimal parse, run before the
    // passes, that only sets the offset widths and literal costs the passes
    // price by; 0 for none.
    uint32_t scoutArrivals;
};

LevelSettings SettingsFor(int level)
{
    if (level <= 3) return {32, 16, 2, 1, 0};
    if (level <= 6) return {64, 32, 4, 2, 0};
    // The scout's prices are closer to the final parse's than the fast
    // parse's are: 0.07 % smaller on the reference corpus, for about a
    // sixth more time, where a second full pass saved 0.11 % for 60 %.
    // Two ways in the scout and nine in the pass, with the resumed matches
    // the finder lists, are 0.29 % smaller than one and eight without them.
    // Those matches need room among the ways: with eight 0.25 %, with eleven
    // 0.34 %, each way about 3 % more instructions. The tree search goes 256
    // deep instead of 512, which costs nothing in size (44 bytes less over
    // the corpus with eight ways).
    return {512, 256, 9, 1, 2};
}

// Bits of each byte of the segment begin .. end - 1 coded on its own: 7
// with a near code, else a literal in the format the previous parse chose
// for it (width 7 only where it fits).
std::vector<uint8_t> ByteCosts(const uint8_t* data, size_t begin, size_t end, const ChosenParse& previous,
                               const CodeState& state)
{
    std::vector<uint8_t> costs(end - begin, COST_LITERAL_8);
    const std::vector<uint16_t>& modes = previous.literalModes;
    uint16_t mode = !modes.empty() ? modes[0] : state.mode != LITERAL_MODE_UNSET ? state.mode : LITERAL_MODE_8;
    size_t literal = 0;
    size_t pos = begin;
    for (const Token& t : previous.tokens) {
        if (t.kind == TOKEN_BYTE && NearCode(data, pos) == 0) mode = modes[literal++];
        for (uint32_t i = 0; i < t.length; ++i, ++pos)
            if (mode != LITERAL_MODE_8 && LiteralFits(mode, data[pos])) costs[pos - begin] = COST_LITERAL_7;
    }
    for (size_t p = begin; p < end; ++p)
        if (NearCode(data, p) != 0) costs[p - begin] = COST_NEAR_OR_ZERO;
    return costs;
}

// Shortest match that ParseLongest takes.
constexpr uint32_t LONGEST_MIN = 8;

// A rough parse from the finder's lists, for the offset widths the scout
// prices by: the longest candidate wherever it has LONGEST_MIN bytes or more.
// The fast parse searched the input again for the same purpose; this one
// gave 1,456,434 bytes over the reference corpus instead of 1,456,514, and
// the level takes 4 % fewer instructions.
TokenList ParseLongest(const MatchTable& m, size_t end)
{
    TokenList tokens;
    size_t pos = m.begin;
    while (pos < end) {
        const size_t at = pos - m.begin;
        const uint32_t last = m.first[at + 1];
        Token t{1, 0, TOKEN_BYTE};
        if (last > m.first[at] && m.matches[last - 1].length >= LONGEST_MIN)
            t = {m.matches[last - 1].length, m.matches[last - 1].offset, TOKEN_MATCH};
        tokens.push_back(t);
        pos += t.length;
    }
    return tokens;
}

// What a compression keeps from one segment to the next.
struct Compression {
    const uint8_t* data;
    size_t size;
    int level;
    BlockWriter writer;
    MatchFinder finder;
    FastChains chains;
    MatchTable matches;
    ParseScratch scratch;
    ProgressFn progress;
};

// Progress over the whole input, from that of one phase of a segment.
ProgressFn SegmentProgress(const Compression& c, size_t begin, size_t end, const uint32_t& phase, uint32_t phases)
{
    if (!c.progress) return {};
    const ProgressFn& report = c.progress;
    const uint64_t total = c.size;
    return [&report, &phase, begin, end, phases, total](uint64_t done, uint64_t) {
        report(begin + (uint64_t(phase) * (end - begin) + done) / phases, total);
    };
}

// The fast parse, with raw runs where bytes do not compress.
TokenList FastParseWithRuns(Compression& c, size_t begin, size_t end)
{
    TokenList tokens = ParseFast(c.chains, uint32_t(begin), uint32_t(end), c.writer.state.lastOffset);
    TakeRawRuns(tokens, c.data, begin);
    return tokens;
}

// The fast level.
void SegmentFast(Compression& c, size_t begin, size_t end)
{
    const CodeState state = c.writer.state;
    TokenList tokens = FastParseWithRuns(c, begin, end);
    BlockWriteSegment(c.writer, c.data, begin, ParseChoose(c.data, begin, end, std::move(tokens), state));
}

void SegmentBest(Compression& c, size_t begin, size_t end)
{
    const LevelSettings s = SettingsFor(c.level);
    const uint8_t* const data = c.data;
    const CodeState state = c.writer.state;
    // One progress scale over the match search and every parse pass.
    const uint32_t scouts = s.scoutArrivals > 0 ? 1 : 0;
    const uint32_t phases = 1 + scouts + s.passes;
    uint32_t phase = 0;
    const ProgressFn report = SegmentProgress(c, begin, end, phase, phases);
    FindMatchesIn(c.finder, uint32_t(begin), uint32_t(end), c.matches, report);
    // A first parse tells the first optimal pass which offset widths (and,
    // without a scout, which literal formats) to price, which a blind guess
    // would leave to a second pass. The scout, a pass that writes no block,
    // prices literals in the 8-bit format, as a parse without tokens does:
    // pricing the literal formats of the fast parse, which came first before,
    // saved 40 bytes over the reference corpus for a pass over every format
    // for every literal, 3 % of the level's instructions.
    ChosenParse parse;
    if (scouts > 0)
        parse.offsetWidths = ChooseOffsetWidths(ParseLongest(c.matches, end), end - begin, state);
    else
        parse = ParseChoose(data, begin, end, FastParseWithRuns(c, begin, end), state);
    // Of several passes the one whose codes take the fewest bits is kept.
    const BlockMark mark = BlockMarkHere(c.writer);
    ChosenParse best;
    uint64_t bestBits = UINT64_MAX;
    for (uint32_t pass = 0; pass < scouts + s.passes; ++pass) {
        ++phase;
        const std::vector<uint8_t> costs = ByteCosts(data, begin, end, parse, state);
        const uint32_t arrivals = pass < scouts ? s.scoutArrivals : s.arrivals;
        TokenList tokens = ParseOptimal(data, end, c.matches,
                                        {&parse.offsetWidths, &costs, arrivals, &c.scratch, state.lastOffset}, report);
        MergeRawRuns(tokens);
        parse = ParseChoose(data, begin, end, std::move(tokens), state);
        if (pass < scouts) continue;
        BlockWriteSegment(c.writer, data, begin, parse);
        const uint64_t bits = BlockBits(c.writer);
        BlockBackTo(c.writer, mark);
        if (bits < bestBits) {
            bestBits = bits;
            best = parse;
        }
    }
    BlockWriteSegment(c.writer, data, begin, best);
}

}  // namespace

std::vector<uint8_t> BlockCompress(const uint8_t* data, size_t size, int level, const ProgressFn& progress,
                                   const CompressBounds& bounds)
{
    assert(size < UINT32_MAX);
    assert(bounds.segment >= BLOCK_RAW_RUN_SIZE && bounds.segment <= PARSE_LENGTH_MAX);
    Compression c{data, size, level, {}, {}, {}, {}, {}, progress};
    BlockBegin(c.writer, data, size);
    const bool fast = level <= LEVEL_FAST;
    if (size > 0 && (fast || SettingsFor(level).scoutArrivals == 0))
        FastChainsStart(c.chains, data, size, bounds.fastWindow);
    if (size > 0 && !fast) {
        const LevelSettings s = SettingsFor(level);
        MatchFinderStart(c.finder, data, size, s.niceLength, s.searchDepth, bounds.window);
    }
    for (size_t begin = 0; begin < size; begin += bounds.segment) {
        const size_t end = std::min(size, begin + bounds.segment);
        if (fast)
            SegmentFast(c, begin, end);
        else
            SegmentBest(c, begin, end);
    }
    return BlockEnd(c.writer);
}
