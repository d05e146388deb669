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

// Binary trees of all earlier positions, one per 3-byte hash, ordered by the
// suffix that starts at each position and rooted at the most recent one; so a
// search meets, for each length, the most recent position that reaches it.
struct SuffixTrees {
    const uint8_t* data;
    uint32_t size;
    std::vector<uint32_t> head;
    std::vector<uint32_t> children;  // 2 per position: smaller, larger
};

// Found by one search: the matches that reach a new length, each longer than
// the one before, and a few others.
struct SearchResult {
    std::vector<MatchCandidate>& matches;
    std::vector<MatchCandidate>& alternatives;
};

// Inserts pos and, when out is given, appends the matches met on the way
// (only lengths above minLength reach a new length). The tree keeps
// at most limit bytes of each suffix in view; a node that matches that far is
// replaced by pos, which keeps runs of one byte from deepening the tree.
void TreeInsert(SuffixTrees& t, uint32_t pos, uint32_t limit, uint32_t depth, uint32_t minLength,
                SearchResult* out)
{
    const uint8_t* cur = t.data + pos;
    const uint32_t h = Hash3(cur, HASH3_BITS);
    uint32_t node = t.head[h];
    t.head[h] = pos;
    uint32_t* smaller = &t.children[2 * size_t(pos)];
    uint32_t* larger = &t.children[2 * size_t(pos) + 1];
    uint32_t smallerLength = 0;
    uint32_t largerLength = 0;
    uint32_t best = minLength;
    uint32_t alternativesLeft = ALTERNATIVES_MAX;
    while (node != MATCH_NIL && depth-- > 0) {
        const uint8_t* cand = t.data + node;
        uint32_t len = smallerLength < largerLength ? smallerLength : largerLength;
        len += CommonLength(cand + len, cur + len, limit - len);
        if (len > best) {
            best = len;
            if (out) out->matches.push_back({len, pos - node});
        } else if (out && len >= ALTERNATIVE_LENGTH_MIN && alternativesLeft > 0) {
            out->alternatives.push_back({len, pos - node});
            --alternativesLeft;
        }
        uint32_t* pair = &t.children[2 * size_t(node)];
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
                         const std::vector<uint32_t>& previousPair, size_t matchesStart)
{
    const size_t alternativesStart = table.alternativeFirst[pos];
    uint32_t added = 0;
    for (uint32_t node = previousPair[pos];
         node != MATCH_NIL && pos - node <= SHORT_OFFSET_MAX && added < NEAR_ALTERNATIVES_MAX; node = previousPair[node]) {
        const uint32_t offset = pos - node;
        if (Listed(table.matches, matchesStart, offset) || Listed(table.alternatives, alternativesStart, offset))
            continue;
        const uint32_t length = CommonLength(data + pos, data + node, limit);
        if (!MatchCodable(offset, length)) continue;
        table.alternatives.push_back({length, offset});
        ++added;
    }
}

// A match found for a position before the one being searched.
struct PlacedCandidate {
    uint32_t pos;
    MatchCandidate match;
};

// Follows offset back from a match that starts at pos: each stretch of bytes
// that matched at the same offset, up to a few differing bytes before, is
// listed as a match of its own.
void AddResumed(std::vector<PlacedCandidate>& found, const uint8_t* data, uint32_t pos, uint32_t offset)
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
        found.push_back({pos, {length, offset}});
    }
}

// Lists the resumed matches by position, each position's in the order found.
void PlaceResumed(MatchTable& table, const std::vector<PlacedCandidate>& found, uint32_t n)
{
    // Counts become the end of each position's list, then, filled from the
    // back, its start.
    std::vector<uint32_t>& first = table.resumedFirst;
    first = HugeVector<uint32_t>(size_t(n) + 1, 0);
    for (const PlacedCandidate& f : found) ++first[f.pos];
    for (uint32_t pos = 1; pos < n; ++pos) first[pos] += first[pos - 1];
    first[n] = uint32_t(found.size());
    table.resumed.resize(found.size());
    for (size_t i = found.size(); i-- > 0;) table.resumed[--first[found[i].pos]] = found[i].match;
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

MatchTable FindMatches(const uint8_t* data, size_t size, uint32_t niceLength, uint32_t searchDepth,
                       const ProgressFn& progress)
{
    assert(size <= UINT32_MAX - 1 && niceLength >= 3 && niceLength <= PARSE_LENGTH_MAX);
    const uint32_t n = uint32_t(size);
    MatchTable table;
    table.niceLength = niceLength;
    table.first = HugeVector<uint32_t>(size_t(n) + 1, 0);
    table.alternativeFirst = HugeVector<uint32_t>(size_t(n) + 1, 0);
    // Reserved beyond what most inputs need (1.5 to 1.7 candidates and 5 to 6
    // alternatives a position on the DLLs measured): pages never written cost
    // nothing, while growing by doubling copied the lists and took a tenth of
    // the search's time.
    table.matches.reserve(size_t(n) * 3);
    table.alternatives.reserve(size_t(n) * 8);
    AdviseHugePages(table.matches.data(), table.matches.capacity() * sizeof(MatchCandidate));
    AdviseHugePages(table.alternatives.data(), table.alternatives.capacity() * sizeof(MatchCandidate));
    SuffixTrees trees{data, n, std::vector<uint32_t>(size_t(1) << HASH3_BITS, MATCH_NIL),
                      HugeVector<uint32_t>(2 * size_t(n), MATCH_NIL)};
    // The nearest earlier position of each 2-byte pair: length-2 matches pay
    // only at small offsets, where the trees (keyed on 3 bytes) do not look.
    std::vector<uint32_t> lastPair(65536, MATCH_NIL);
    std::vector<uint32_t> previousPair = HugeVector<uint32_t>(n, MATCH_NIL);

    // Reserved beyond the 1.6 a position or fewer measured on the reference
    // corpus, like the candidate lists.
    std::vector<PlacedCandidate> resumed;
    resumed.reserve(size_t(n) * 2);
    AdviseHugePages(resumed.data(), resumed.capacity() * sizeof(PlacedCandidate));
    uint32_t skipUntil = 0;
    for (uint32_t pos = 0; pos < n; ++pos) {
        table.first[pos] = uint32_t(table.matches.size());
        table.alternativeFirst[pos] = uint32_t(table.alternatives.size());
        if (progress && pos % PROGRESS_STEP == 0) progress(pos, n);
        const uint32_t left = n - pos;
        if (left < 2) continue;
        const uint32_t pair = uint32_t(data[pos]) | uint32_t(data[pos + 1]) << 8;
        const uint32_t pairPos = lastPair[pair];
        lastPair[pair] = pos;
        previousPair[pos] = pairPos;
        if (left < 3) {
            if (pos >= skipUntil && pairPos != MATCH_NIL && MatchCodable(pos - pairPos, 2))
                table.matches.push_back({2, pos - pairPos});
            continue;
        }
        const uint32_t limit = left < niceLength ? left : niceLength;
        if (pos < skipUntil) {
            TreeInsert(trees, pos, limit, searchDepth, 0, nullptr);
            continue;
        }
        const size_t start = table.matches.size();
        if (pairPos != MATCH_NIL && MatchCodable(pos - pairPos, 2)) table.matches.push_back({2, pos - pairPos});
        SearchResult found{table.matches, table.alternatives};
        TreeInsert(trees, pos, limit, searchDepth, 2, &found);
        // The 2-byte candidate is redundant when the first tree match is at
        // the same offset: that one serves length 2 as well.
        if (table.matches.size() > start + 1 && table.matches[start].length == 2 &&
            table.matches[start + 1].offset == table.matches[start].offset)
            table.matches.erase(table.matches.begin() + long(start));
        if (table.matches.size() > start && table.matches.back().length < niceLength)
            AddNearAlternatives(table, data, pos, limit, previousPair, start);
        for (size_t c = start; c < table.matches.size(); ++c) AddResumed(resumed, data, pos, table.matches[c].offset);
        for (size_t c = table.alternativeFirst[pos]; c < table.alternatives.size(); ++c)
            AddResumed(resumed, data, pos, table.alternatives[c].offset);
        if (table.matches.size() > start && table.matches.back().length >= niceLength) {
            MatchCandidate& longest = table.matches.back();
            const uint32_t reach = std::min(left, PARSE_LENGTH_MAX);
            longest.length += CommonLength(data + pos + longest.length,
                                           data + pos + longest.length - longest.offset,
                                           reach - longest.length);
            skipUntil = pos + longest.length;
        }
    }
    PlaceResumed(table, resumed, n);
    table.first[n] = uint32_t(table.matches.size());
    table.alternativeFirst[n] = uint32_t(table.alternatives.size());
    return table;
}
