#include "packer/match_finder.h"

#include <assert.h>

#include <algorithm>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "packer/block_costs.h"

namespace {

constexpr uint32_t HASH3_BITS = 18;
constexpr uint32_t ALTERNATIVES_MAX = 16;
constexpr uint32_t ALTERNATIVE_LENGTH_MIN = 3;
// Resumed matches: how many differing bytes may lie between two stretches
// at one offset, how many stretches are followed back from a candidate, and
// how far back one stretch is measured. Measured on the reference corpus
// with eleven ways: one stretch after one differing byte, from the
// candidates' offsets, saved 0.11 %; gaps of up to 4 bytes 0.17 %; 4
// stretches 0.21 %, or the alternatives' offsets 0.22 %; both 0.25 %, or
// 0.24 % with 2 stretches, which take a third less of the search's time.
constexpr uint32_t RESUME_GAP_MAX = 4;
constexpr uint32_t RESUME_STRETCHES = 2;
constexpr uint32_t RESUME_LENGTH_MAX = 256;
// Near alternatives per position: measured on the reference corpus, 4 saved
// more than 2 or 8 (0.08 % of the output), at little cost in time.
constexpr uint32_t NEAR_ALTERNATIVES_MAX = 4;
// After this many positions in a row without a match that has a code (and
// BARREN_LENGTH bytes), the
// finder searches (and puts in its trees) only every second position, after
// twice as many every third, and so on up to every BARREN_STEP_MAX-th. On
// bytes that do not compress the trees' searches took most of the time,
// each a few cache misses in a large window, for matches too short to
// code; a copy of such bytes later in the input is still found, a few bytes
// in.
constexpr uint32_t BARREN_AFTER = 256;
// Shorter matches do not end such a stretch: 2-byte ones turn up in any
// bytes now and then.
constexpr uint32_t BARREN_LENGTH = 3;
constexpr uint32_t BARREN_STEP_MAX = 8;

// The ring that previousPair keeps: more than the short match's reach.
constexpr uint32_t PAIR_RING = 256;
static_assert(PAIR_RING > SHORT_OFFSET_MAX, "the ring must hold every position the short match reaches");

// The lists of one segment hold at most this many entries a position on
// average (matches: one more for every position), so that their memory is
// fixed: 1.5 to 1.7 candidates, 5 to 6 alternatives and 1.6 resumed
// matches a position were measured on the DLLs of the reference corpus.
// Where an input needs more, a position's longest candidate replaces its
// last one (a longer match serves the shorter lengths too, from farther
// back), and the extra alternatives and resumed matches are left out.
constexpr uint32_t MATCHES_PER_POSITION = 3;
constexpr uint32_t ALTERNATIVES_PER_POSITION = 8;
constexpr uint32_t RESUMED_PER_POSITION = 2;

// Found by one search: the matches that reach a new length, each longer than
// the one before, and a few others. Those of the position searched start at
// matchesStart.
struct SearchResult {
    std::vector<MatchCandidate>& matches;
    std::vector<MatchCandidate>& alternatives;
    size_t matchesStart;
    size_t matchesCap;
    size_t alternativesCap;
};

// Adds a longer candidate for the position, within the list's room.
void MatchAdd(std::vector<MatchCandidate>& matches, size_t start, size_t cap, MatchCandidate c)
{
    if (matches.size() < cap || matches.size() == start)
        matches.push_back(c);
    else
        matches.back() = c;
}

// The binary trees of the earlier positions in the window, one per 3-byte
// hash, ordered by the suffix that starts at each position and rooted at the
// most recent one; so a search meets, for each length, the most recent
// position that reaches it. Inserts pos and, when out is given, appends the
// matches met on the way, cut to shown bytes (only lengths above minLength
// reach a new length). The tree keeps at most limit bytes of each suffix in
// view; a node that matches that far is replaced by pos, which keeps runs of
// one byte from deepening the tree. A node out of the window ends the
// search: its place already belongs to a later position.
void TreeInsert(MatchFinder& t, uint32_t pos, uint32_t limit, uint32_t shown, uint32_t minLength,
                SearchResult* out)
{
    const uint8_t* cur = t.data + pos;
    const uint32_t h = Hash3(cur, HASH3_BITS);
    const uint32_t mask = t.window - 1;
    uint32_t node = t.head[h];
    t.head[h] = pos;
    uint32_t* smaller = &t.children[2 * size_t(pos & mask)];
    uint32_t* larger = &t.children[2 * size_t(pos & mask) + 1];
    uint32_t smallerLength = 0;
    uint32_t largerLength = 0;
    uint32_t best = minLength;
    uint32_t alternativesLeft = ALTERNATIVES_MAX;
    uint32_t depth = t.searchDepth;
    while (node != MATCH_NIL && pos - node < t.window && depth-- > 0) {
        const uint8_t* cand = t.data + node;
        uint32_t len = smallerLength < largerLength ? smallerLength : largerLength;
        len += CommonLength(cand + len, cur + len, limit - len);
        const uint32_t seen = len < shown ? len : shown;
        if (seen > best) {
            best = seen;
            if (out) MatchAdd(out->matches, out->matchesStart, out->matchesCap, {seen, pos - node});
        } else if (out && seen >= ALTERNATIVE_LENGTH_MIN && alternativesLeft > 0 &&
                   out->alternatives.size() < out->alternativesCap) {
            out->alternatives.push_back({seen, pos - node});
            --alternativesLeft;
        }
        uint32_t* pair = &t.children[2 * size_t(node & mask)];
        if (len == limit) {
            *smaller = pair[0];
            *larger = pair[1];
            return;
        }
        if (cand[len] < cur[len]) {
            *smaller = node;
            smaller = &pair[1];
            node = *smaller;
            smallerLength = len;
        } else {
            *larger = node;
            larger = &pair[0];
            node = *larger;
            largerLength = len;
        }
    }
    *smaller = MATCH_NIL;
    *larger = MATCH_NIL;
}

bool Listed(const std::vector<MatchCandidate>& list, size_t from, uint32_t offset)
{
    for (size_t i = from; i < list.size(); ++i)
        if (list[i].offset == offset) return true;
    return false;
}

// Every offset of the short match's reach at which the next two bytes recur,
// beyond the nearest: each is a last offset that a later repeat match may
// use, and the short match sets it for 12 bits.
void AddNearAlternatives(MatchTable& table, const uint8_t* data, uint32_t pos, uint32_t limit,
                         const std::vector<uint32_t>& previousPair, size_t matchesStart, size_t cap)
{
    const size_t alternativesStart = table.alternativeFirst[pos - table.begin];
    uint32_t added = 0;
    for (uint32_t node = previousPair[pos % PAIR_RING];
         node != MATCH_NIL && pos - node <= SHORT_OFFSET_MAX && added < NEAR_ALTERNATIVES_MAX;
         node = previousPair[node % PAIR_RING]) {
        const uint32_t offset = pos - node;
        if (Listed(table.matches, matchesStart, offset) || Listed(table.alternatives, alternativesStart, offset))
            continue;
        const uint32_t length = CommonLength(data + pos, data + node, limit);
        if (!MatchCodable(offset, length)) continue;
        if (table.alternatives.size() >= cap) return;
        table.alternatives.push_back({length, offset});
        ++added;
    }
}

// Follows offset back from a match that starts at pos: each stretch of bytes
// that matched at the same offset, up to a few differing bytes before, is
// listed as a match of its own, if it starts at begin or later.
void AddResumed(std::vector<PlacedCandidate>& found, size_t cap, const uint8_t* data, uint32_t begin, uint32_t pos,
                uint32_t offset)
{
    for (uint32_t stretch = 0; stretch < RESUME_STRETCHES; ++stretch) {
        if (pos <= offset || data[pos - 1] == data[pos - 1 - offset]) return;  // no gap: the match goes on
        uint32_t end = pos - 1;
        while (end > offset && pos - end < RESUME_GAP_MAX && data[end - 1] != data[end - 1 - offset]) --end;
        if (end <= offset) return;
        const uint32_t length =
            CommonLengthBefore(data + end, data + end - offset, std::min(end - offset, RESUME_LENGTH_MAX));
        if (length < 2 || !MatchCodable(offset, length)) return;
        pos = end - length;
        if (pos < begin || found.size() >= cap) return;
        found.push_back({pos, {length, offset}});
    }
}

// Lists the resumed matches by position, each position's in the order found.
void PlaceResumed(MatchTable& table, const std::vector<PlacedCandidate>& found, uint32_t n)
{
    // Counts become the end of each position's list, then, filled from the
    // back, its start.
    std::vector<uint32_t>& first = table.resumedFirst;
    AssignHuge<uint32_t>(first, size_t(n) + 1, 0);
    for (const PlacedCandidate& f : found) ++first[f.pos - table.begin];
    for (uint32_t pos = 1; pos < n; ++pos) first[pos] += first[pos - 1];
    first[n] = uint32_t(found.size());
    table.resumed.resize(found.size());
    for (size_t i = found.size(); i-- > 0;) table.resumed[--first[found[i].pos - table.begin]] = found[i].match;
}

}  // namespace

void AdviseHugePages(const void* p, size_t bytes)
{
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t HUGE_PAGE = uintptr_t(2) << 20;
    const uintptr_t begin = (uintptr_t(p) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const uintptr_t end = (uintptr_t(p) + bytes) & ~(HUGE_PAGE - 1);
    if (end > begin) madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)p;
    (void)bytes;
#endif
}

void MatchFinderStart(MatchFinder& f, const uint8_t* data, size_t size, uint32_t niceLength, uint32_t searchDepth,
                      uint32_t window)
{
    assert(size <= UINT32_MAX - 1 && niceLength >= 3 && niceLength <= PARSE_LENGTH_MAX);
    assert(window >= 2 && (window & (window - 1)) == 0);
    f.data = data;
    f.size = uint32_t(size);
    f.window = window;
    f.niceLength = niceLength;
    f.searchDepth = searchDepth;
    f.head.assign(size_t(1) << HASH3_BITS, MATCH_NIL);
    // Every slot is written when its position is inserted, before any
    // search can read it.
    const size_t slots = std::min<size_t>(window, size);
    f.children = std::vector<uint32_t>();
    f.children.reserve(2 * slots);
    AdviseHugePages(f.children.data(), 2 * slots * sizeof(uint32_t));
    f.children.resize(2 * slots);
    f.lastPair.assign(65536, MATCH_NIL);
    f.previousPair.assign(PAIR_RING, MATCH_NIL);
}

void FindMatchesIn(MatchFinder& f, uint32_t begin, uint32_t end, MatchTable& table, const ProgressFn& progress)
{
    assert(begin < end && end <= f.size);
    const uint8_t* const data = f.data;
    const uint32_t n = end - begin;
    const uint32_t niceLength = f.niceLength;
    table.begin = begin;
    table.niceLength = niceLength;
    AssignHuge<uint32_t>(table.first, size_t(n) + 1, 0);
    AssignHuge<uint32_t>(table.alternativeFirst, size_t(n) + 1, 0);
    // Reserved whole: pages never written cost nothing, while growing by
    // doubling copied the lists and took a tenth of the search's time.
    const size_t matchesCap = size_t(n) * MATCHES_PER_POSITION;
    const size_t alternativesCap = size_t(n) * ALTERNATIVES_PER_POSITION;
    const size_t resumedCap = size_t(n) * RESUMED_PER_POSITION;
    table.matches.clear();
    table.alternatives.clear();
    ReserveHuge(table.matches, matchesCap + n);
    ReserveHuge(table.alternatives, alternativesCap);
    std::vector<PlacedCandidate>& resumed = f.resumed;
    resumed.clear();
    ReserveHuge(resumed, resumedCap);
    uint32_t skipUntil = begin;
    uint32_t barren = 0;
    for (uint32_t pos = begin; pos < end; ++pos) {
        table.first[pos - begin] = uint32_t(table.matches.size());
        table.alternativeFirst[pos - begin] = uint32_t(table.alternatives.size());
        if (progress && (pos - begin) % PROGRESS_STEP == 0) progress(pos - begin, n);
        const uint32_t step = std::min(1 + barren / BARREN_AFTER, BARREN_STEP_MAX);
        if (step > 1 && pos % step != 0) {
            ++barren;
            continue;
        }
        const uint32_t left = f.size - pos;
        const uint32_t shown = end - pos;
        if (left < 2) continue;
        // The nearest earlier position of each 2-byte pair: length-2 matches
        // pay only at small offsets, where the trees (keyed on 3 bytes) do
        // not look.
        const uint32_t pair = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8;
        const uint32_t pairPos = f.lastPair[pair];
        f.lastPair[pair] = pos;
        f.previousPair[pos % PAIR_RING] = pairPos;
        const bool pairMatch = shown >= 2 && pairPos != MATCH_NIL && MatchCodable(pos - pairPos, 2);
        if (left < 3) {
            if (pos >= skipUntil && pairMatch) table.matches.push_back({2, pos - pairPos});  // the position's first
            continue;
        }
        const uint32_t limit = left < niceLength ? left : niceLength;
        const uint32_t reported = shown < limit ? shown : limit;
        if (pos < skipUntil) {
            TreeInsert(f, pos, limit, reported, 0, nullptr);
            continue;
        }
        const size_t start = table.matches.size();
        if (pairMatch) table.matches.push_back({2, pos - pairPos});
        SearchResult found{table.matches, table.alternatives, start, matchesCap, alternativesCap};
        TreeInsert(f, pos, limit, reported, 2, &found);
        ++barren;
        for (size_t c = start; c < table.matches.size(); ++c)
            if (table.matches[c].length >= BARREN_LENGTH && MatchCodable(table.matches[c].offset, table.matches[c].length))
                barren = 0;
        // The 2-byte candidate is redundant when the first tree match is at
        // the same offset: that one serves length 2 as well.
        if (table.matches.size() > start + 1 && table.matches[start].length == 2 &&
            table.matches[start + 1].offset == table.matches[start].offset)
            table.matches.erase(table.matches.begin() + long(start));
        if (table.matches.size() > start && table.matches.back().length < niceLength)
            AddNearAlternatives(table, data, pos, reported, f.previousPair, start, alternativesCap);
        for (size_t c = start; c < table.matches.size(); ++c)
            AddResumed(resumed, resumedCap, data, begin, pos, table.matches[c].offset);
        for (size_t c = table.alternativeFirst[pos - begin]; c < table.alternatives.size(); ++c)
            AddResumed(resumed, resumedCap, data, begin, pos, table.alternatives[c].offset);
        if (table.matches.size() > start && table.matches.back().length >= niceLength) {
            MatchCandidate& longest = table.matches.back();
            const uint32_t reach = std::min(shown, PARSE_LENGTH_MAX);
            longest.length += CommonLength(data + pos + longest.length,
                                           data + pos + longest.length - longest.offset,
                                           reach - longest.length);
            skipUntil = pos + longest.length;
        }
    }
    PlaceResumed(table, resumed, n);
    table.first[n] = uint32_t(table.matches.size());
    table.alternativeFirst[n] = uint32_t(table.alternatives.size());
}

MatchTable FindMatches(const uint8_t* data, size_t size, uint32_t niceLength, uint32_t searchDepth,
                       const ProgressFn& progress)
{
    MatchTable table;
    MatchFinder finder;
    uint32_t window = 2;
    while (window < size) window *= 2;
    MatchFinderStart(finder, data, size, niceLength, searchDepth, window);
    if (size > 0) FindMatchesIn(finder, 0, uint32_t(size), table, progress);
    if (size == 0) table.first = table.alternativeFirst = table.resumedFirst = {0};
    return table;
}
