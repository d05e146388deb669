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

// Bits of each byte coded on its own: 7 with a near code, else a literal in
// the format the previous parse chose for it (width 7 only where it fits).
std::vector<uint8_t> ByteCosts(const uint8_t* data, size_t size, const ChosenParse& previous)
{
    std::vector<uint8_t> costs(size, COST_LITERAL_8);
    const std::vector<uint16_t>& modes = previous.literalModes;
    uint16_t mode = modes.empty() ? LITERAL_MODE_8 : modes[0];
    size_t literal = 0;
    size_t pos = 0;
    for (const Token& t : previous.tokens) {
        if (t.kind == TOKEN_BYTE && NearCode(data, pos) == 0) mode = modes[literal++];
        for (uint32_t i = 0; i < t.length; ++i, ++pos)
            if (mode != LITERAL_MODE_8 && LiteralFits(mode, data[pos])) costs[pos] = COST_LITERAL_7;
    }
    for (size_t p = 0; p < size; ++p)
        if (NearCode(data, p) != 0) costs[p] = COST_NEAR_OR_ZERO;
    return costs;
}

// Shortest match that ParseLongest takes.
constexpr uint32_t LONGEST_MIN = 8;

// A rough parse from the finder's lists, for the offset widths the scout
// prices by: the longest candidate wherever it has LONGEST_MIN bytes or more.
// The fast parse searched the input again for the same purpose; this one
// gave 1,456,434 bytes over the reference corpus instead of 1,456,514, and
// the level takes 4 % fewer instructions.
TokenList ParseLongest(const MatchTable& m, size_t size)
{
    TokenList tokens;
    size_t pos = 0;
    while (pos < size) {
        const uint32_t last = m.first[pos + 1];
        Token t{1, 0, TOKEN_BYTE};
        if (last > m.first[pos] && m.matches[last - 1].length >= LONGEST_MIN)
            t = {m.matches[last - 1].length, m.matches[last - 1].offset, TOKEN_MATCH};
        tokens.push_back(t);
        pos += t.length;
    }
    return tokens;
}

std::vector<uint8_t> CompressBest(const uint8_t* data, size_t size, int level, const ProgressFn& progress)
{
    const LevelSettings s = SettingsFor(level);
    // One progress scale over the match search and every parse pass.
    const uint32_t scouts = s.scoutArrivals > 0 ? 1 : 0;
    const uint32_t phases = 1 + scouts + s.passes;
    uint32_t phase = 0;
    const ProgressFn phaseProgress = [&](uint64_t done, uint64_t total) {
        progress(uint64_t(phase) * total + done, uint64_t(phases) * total);
    };
    const ProgressFn report = progress ? phaseProgress : ProgressFn();
    const MatchTable matches = FindMatches(data, size, s.niceLength, s.searchDepth, report);
    ParseScratch scratch;
    ParseScratchReserve(scratch, size, std::max(s.arrivals, s.scoutArrivals));
    // A first parse tells the first optimal pass which offset widths (and,
    // without a scout, which literal formats) to price, which a blind guess
    // would leave to a second pass. The scout, a pass that writes no block,
    // prices literals in the 8-bit format, as a parse without tokens does:
    // pricing the literal formats of the fast parse, which came first before,
    // saved 40 bytes over the reference corpus for a pass over every format
    // for every literal, 3 % of the level's instructions.
    ChosenParse parse;
    if (scouts > 0)
        parse.offsetWidths = ChooseOffsetWidths(ParseLongest(matches, size), size);
    else
        parse = ParseChoose(data, size, ParseFast(data, size));
    std::vector<uint8_t> best;
    for (uint32_t pass = 0; pass < scouts + s.passes; ++pass) {
        ++phase;
        const std::vector<uint8_t> costs = ByteCosts(data, size, parse);
        const uint32_t arrivals = pass < scouts ? s.scoutArrivals : s.arrivals;
        TokenList tokens = ParseOptimal(data, size, matches, {&parse.offsetWidths, &costs, arrivals, &scratch}, report);
        MergeRawRuns(tokens);
        parse = ParseChoose(data, size, std::move(tokens));
        if (pass < scouts) continue;
        std::vector<uint8_t> block = WriteBlock(data, size, parse);
        if (best.empty() || block.size() < best.size()) best.swap(block);
    }
    return best;
}

}  // namespace

std::vector<uint8_t> BlockCompress(const uint8_t* data, size_t size, int level, const ProgressFn& progress)
{
    assert(size < UINT32_MAX);
    if (size == 0 || level <= LEVEL_FAST)
        return WriteBlock(data, size, ParseChoose(data, size, ParseFast(data, size)));
    return CompressBest(data, size, level, progress);
}
