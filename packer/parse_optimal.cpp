#include <assert.h>

#include <algorithm>
#include <memory>

#include "packer/parsers.h"

// One way of reaching a position: its cost so far, the decoder's last offset
// after it, and the token that arrived with the way it came from, packed into
// one word. A new-offset match's offset is the last offset after it, so it is
// not kept twice: the table holds several ways per input byte, its size is the
// parse's cost in memory traffic, and every page of it is a fresh page that
// the system clears first (a tenth of the best level's time with 16 bytes a
// way, by a profile of the reference corpus; 12 bytes clear a quarter less).
struct Arrival {
    uint32_t cost;
    uint32_t lastOffset;
    uint32_t step;  // length << STEP_LENGTH_SHIFT | kind << STEP_KIND_SHIFT | from
};

namespace {

// Repeat matches longer than this are tried at their full length only.
constexpr uint32_t REPEAT_LENGTH_TRIED = 64;

constexpr uint32_t STEP_KIND_SHIFT = 8;
constexpr uint32_t STEP_LENGTH_SHIFT = 10;
static_assert(PARSE_LENGTH_MAX <= UINT32_MAX >> STEP_LENGTH_SHIFT, "a length must fit its field");

Arrival Way(uint32_t cost, uint32_t lastOffset, uint32_t length, TokenKind kind, uint32_t from)
{
    assert(length <= PARSE_LENGTH_MAX && from <= UINT8_MAX);
    return {cost, lastOffset, length << STEP_LENGTH_SHIFT | uint32_t(kind) << STEP_KIND_SHIFT | from};
}

uint32_t StepLength(const Arrival& a)
{
    return a.step >> STEP_LENGTH_SHIFT;
}

TokenKind StepKind(const Arrival& a)
{
    return TokenKind(a.step >> STEP_KIND_SHIFT & 3);
}

uint32_t StepFrom(const Arrival& a)
{
    return a.step & UINT8_MAX;
}

struct ArrivalTable {
    uint32_t begin;  // the segment's first position: index 0
    uint32_t perPosition;
    // perPosition per position, cheapest first, in the caller's scratch.
    // Only the first counts[pos] of a position are ever read, so the
    // table is left uninitialised: it is the parse's largest allocation, and
    // filling it took about a tenth of the parse's time.
    Arrival* slots;
    std::vector<uint8_t>& counts;
    // The cost a way must undercut to enter a position: the last kept way's
    // when the position is full, else none. Most offers fail this test, and
    // reading it here touches one cache line for many positions where the
    // slots take one or two for each.
    std::vector<uint32_t>& entryCost;
};

Arrival* ArrivalsAt(ArrivalTable& t, size_t pos)
{
    return &t.slots[(pos - t.begin) * t.perPosition];
}

// Keeps the cheapest ways with distinct last offsets; a later way that costs
// the same as an earlier one does not displace it, so the result depends on
// nothing but the input.
void ArrivalInsert(ArrivalTable& t, size_t pos, const Arrival& way)
{
    Arrival* a = ArrivalsAt(t, pos);
    const size_t at = pos - t.begin;
    uint32_t count = t.counts[at];
    const uint32_t k = t.perPosition;
    uint32_t slot = count;
    for (uint32_t i = 0; i < count; ++i) {
        if (a[i].lastOffset != way.lastOffset) continue;
        if (way.cost >= a[i].cost) return;
        slot = i;
        break;
    }
    if (slot == count) {
        if (count < k) {
            ++count;
            t.counts[at] = uint8_t(count);
        } else {
            slot = k - 1;
        }
    }
    while (slot > 0 && a[slot - 1].cost > way.cost) {
        a[slot] = a[slot - 1];
        --slot;
    }
    a[slot] = way;
    if (count == k) t.entryCost[at] = a[k - 1].cost;
}

inline void ArrivalOffer(ArrivalTable& t, size_t pos, const Arrival& way)
{
    if (way.cost < t.entryCost[pos - t.begin]) ArrivalInsert(t, pos, way);
}

// True when the finder gave pos a match to take whole: the parse offers
// nothing else there.
bool TakenWhole(const MatchTable& m, uint32_t pos)
{
    const uint32_t last = m.first[pos - m.begin + 1];
    return last > m.first[pos - m.begin] && m.matches[last - 1].length >= m.niceLength;
}

// Repeat lengths at pos that a way before it has offered already, at a lower
// cost, and so need not be offered again.
struct RepeatsCovered {
    uint32_t upTo;    // every length up to this one
    bool full;        // and the longest one
};

// A way that came by a byte or by a repeat match has its repeats beaten by
// those of the way it came from, which has the same last offset: a byte and
// a repeat one byte longer, or one repeat instead of two, end at the same
// place with the same last offset for 3 or more bits less. That way offered
// every length up to REPEAT_LENGTH_TRIED and its longest, so the lengths it
// covers from here are never kept; skipping them leaves the parse as it was.
// longest is the repeat's longest length here.
RepeatsCovered CoveredBefore(const MatchTable& m, const uint8_t* data, const Arrival& way, uint32_t pos,
                             uint32_t longest)
{
    const TokenKind kind = StepKind(way);
    const uint32_t back = StepLength(way);
    const uint32_t offset = way.lastOffset;
    if (back == 0) return {0, false};  // the way a segment starts with came from no step of its own
    if (kind == TOKEN_BYTE) {
        // The way before tried repeats only where two bytes matched.
        if (pos < 1 || offset > pos - 1 || data[pos - 1] != data[pos - 1 - offset]) return {0, false};
    } else if (kind != TOKEN_REPEAT || TakenWhole(m, pos - back)) {
        return {0, false};
    }
    // The longest repeat back there, limited as it was, and the lengths it tried.
    const uint32_t longestBefore = back + std::min(longest, PARSE_LENGTH_MAX - back);
    const uint32_t triedBefore = std::min(longestBefore, REPEAT_LENGTH_TRIED);
    return {triedBefore > back ? triedBefore - back : 0,
            back + longest <= triedBefore || back + longest == longestBefore};
}

void OfferRepeats(ArrivalTable& t, const MatchTable& m, const uint8_t* data, uint32_t pos, uint32_t size)
{
    const Arrival* a = ArrivalsAt(t, pos);
    const uint32_t count = t.counts[pos - t.begin];
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t offset = a[i].lastOffset;
        // Most last offsets do not repeat even two bytes here.
        if (offset > pos || size - pos < 2 || data[pos] != data[pos - offset] ||
            data[pos + 1] != data[pos + 1 - offset])
            continue;
        const uint32_t longest =
            CommonLength(data + pos, data + pos - offset, std::min(size - pos, PARSE_LENGTH_MAX));
        const uint32_t tried = std::min(longest, REPEAT_LENGTH_TRIED);
        const Arrival from = a[i];
        const RepeatsCovered covered = CoveredBefore(m, data, from, pos, longest);
        for (uint32_t len = std::max(2u, covered.upTo + 1); len <= tried; ++len)
            ArrivalOffer(t, pos + len, Way(from.cost + RepeatCost(len), offset, len, TOKEN_REPEAT, i));
        if (longest > tried && !covered.full)
            ArrivalOffer(t, pos + longest,
                         Way(from.cost + RepeatCost(longest), offset, longest, TOKEN_REPEAT, i));
    }
}

// New-offset matches leave the same state whichever way they start from, so
// only the cheapest way at pos starts them.
void OfferMatches(ArrivalTable& t, const MatchTable& m, uint32_t pos, uint32_t lowWidth)
{
    const Arrival best = ArrivalsAt(t, pos)[0];
    uint32_t shorter = 1;
    const uint32_t at = pos - m.begin;
    for (uint32_t c = m.first[at]; c < m.first[at + 1]; ++c) {
        const MatchCandidate cand = m.matches[c];
        if (cand.offset == best.lastOffset) {
            shorter = cand.length;
            continue;
        }
        if (cand.offset > SHORT_OFFSET_MAX) {
            // Beyond the short match's reach only the gamma length varies
            // with the length, and the shortest codable length is fixed.
            const uint32_t bonus = BlockLengthBonus(cand.offset);
            const uint32_t offsetCost = best.cost + MatchCost(cand.offset, bonus + 2, lowWidth) - GammaBits(2);
            for (uint32_t len = std::max(shorter + 1, bonus + 2); len <= cand.length; ++len)
                ArrivalOffer(t, pos + len, Way(offsetCost + GammaBits(len - bonus), cand.offset, len, TOKEN_MATCH, 0));
            shorter = cand.length;
            continue;
        }
        for (uint32_t len = shorter + 1; len <= cand.length; ++len) {
            if (!MatchCodable(cand.offset, len)) continue;
            ArrivalOffer(t, pos + len,
                         Way(best.cost + MatchCost(cand.offset, len, lowWidth), cand.offset, len, TOKEN_MATCH, 0));
        }
        shorter = cand.length;
    }
    for (uint32_t c = m.alternativeFirst[at]; c < m.alternativeFirst[at + 1]; ++c) {
        const MatchCandidate cand = m.alternatives[c];
        if (cand.offset == best.lastOffset || !MatchCodable(cand.offset, cand.length)) continue;
        ArrivalOffer(t, pos + cand.length,
                     Way(best.cost + MatchCost(cand.offset, cand.length, lowWidth), cand.offset, cand.length,
                         TOKEN_MATCH, 0));
    }
}

// The resumed matches of pos, from the cheapest way like every new-offset
// match. They go first: of two ways that cost the same, the parse keeps the
// first, and a resumed offset is the likelier to be repeated (220 bytes less
// over the reference corpus than offering them last).
void OfferResumed(ArrivalTable& t, const MatchTable& m, uint32_t pos, uint32_t lowWidth)
{
    const Arrival best = ArrivalsAt(t, pos)[0];
    const uint32_t at = pos - m.begin;
    for (uint32_t c = m.resumedFirst[at]; c < m.resumedFirst[at + 1]; ++c) {
        const MatchCandidate cand = m.resumed[c];
        if (cand.offset == best.lastOffset) continue;
        ArrivalOffer(t, pos + cand.length,
                     Way(best.cost + MatchCost(cand.offset, cand.length, lowWidth), cand.offset, cand.length,
                         TOKEN_MATCH, 0));
    }
}

TokenList Backtrack(ArrivalTable& t, size_t end)
{
    TokenList tokens;
    size_t pos = end;
    uint32_t index = 0;
    while (pos > t.begin) {
        const Arrival& a = ArrivalsAt(t, pos)[index];
        const TokenKind kind = StepKind(a);
        tokens.push_back({StepLength(a), kind == TOKEN_MATCH ? a.lastOffset : 0, kind});
        pos -= StepLength(a);
        index = StepFrom(a);
    }
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
}

}  // namespace

void ArrivalsFree::operator()(Arrival* slots) const
{
    delete[] slots;
}

void ParseScratchReserve(ParseScratch& scratch, size_t size, uint32_t arrivals)
{
    const size_t count = (size + 1) * arrivals;
    if (scratch.count >= count) return;
    scratch.slots.reset();
    scratch.slots.reset(new Arrival[count]);
    scratch.count = count;
    // Written once, ahead of where the parse reads: nearly every page of it is
    // a fresh page.
    AdviseHugePages(scratch.slots.get(), count * sizeof(Arrival));
}

TokenList ParseOptimal(const uint8_t* data, size_t size, const MatchTable& matches,
                       const OptimalParseSettings& settings, const ProgressFn& progress)
{
    const uint32_t begin = matches.begin;
    const uint32_t end = uint32_t(size);
    const uint32_t n = end - begin;
    assert(settings.arrivals >= 1 && settings.arrivals <= 255);
    assert(settings.byteCosts && settings.byteCosts->size() >= n);
    assert(settings.lowWidths && settings.lowWidths->size() > n / OFFSET_WIDTH_STRETCH);
    ParseScratch& scratch = *settings.scratch;
    ParseScratchReserve(scratch, n, settings.arrivals);
    AssignHuge<uint8_t>(scratch.counts, size_t(n) + 1, 0);
    AssignHuge<uint32_t>(scratch.entryCost, size_t(n) + 1, UINT32_MAX);
    ArrivalTable t{begin, settings.arrivals, scratch.slots.get(), scratch.counts, scratch.entryCost};
    const std::vector<uint8_t>& byteCosts = *settings.byteCosts;
    const std::vector<uint8_t>& lowWidths = *settings.lowWidths;
    t.counts[0] = 1;
    t.slots[0] = Way(0, settings.lastOffset, 0, TOKEN_BYTE, 0);

    uint32_t pos = begin;
    while (pos < end) {
        const uint32_t at = pos - begin;
        if (progress && at % PROGRESS_STEP == 0) progress(at, n);
        const uint32_t lowWidth = lowWidths[at / OFFSET_WIDTH_STRETCH];
        if (TakenWhole(matches, pos)) {
            // A long match is taken whole: the finder gave the positions it
            // covers no candidates.
            const MatchCandidate longest = matches.matches[matches.first[at + 1] - 1];
            const Arrival best = ArrivalsAt(t, pos)[0];
            const bool repeat = longest.offset == best.lastOffset;
            const uint32_t cost = repeat ? RepeatCost(longest.length) : MatchCost(longest.offset, longest.length, lowWidth);
            ArrivalOffer(t, pos + longest.length,
                         Way(best.cost + cost, longest.offset, longest.length, repeat ? TOKEN_REPEAT : TOKEN_MATCH, 0));
            pos += longest.length;
            continue;
        }
        const Arrival* a = ArrivalsAt(t, pos);
        const uint32_t count = t.counts[at];
        assert(count > 0);
        for (uint32_t i = 0; i < count; ++i)
            ArrivalOffer(t, pos + 1, Way(a[i].cost + byteCosts[at], a[i].lastOffset, 1, TOKEN_BYTE, i));
        if (end - pos >= BLOCK_RAW_RUN_SIZE)
            ArrivalOffer(t, pos + BLOCK_RAW_RUN_SIZE,
                         Way(a[0].cost + COST_RAW_RUN, a[0].lastOffset, BLOCK_RAW_RUN_SIZE, TOKEN_RAW, 0));
        OfferRepeats(t, matches, data, pos, end);
        OfferResumed(t, matches, pos, lowWidth);
        OfferMatches(t, matches, pos, lowWidth);
        ++pos;
    }
    return Backtrack(t, end);
}

void MergeRawRuns(TokenList& tokens)
{
    size_t out = 0;
    for (size_t i = 0; i < tokens.size(); ++i) {
        if (out > 0 && tokens[i].kind == TOKEN_RAW && tokens[out - 1].kind == TOKEN_RAW)
            tokens[out - 1].length += tokens[i].length;
        else
            tokens[out++] = tokens[i];
    }
    tokens.resize(out);
}
