// Match finding, one segment of the input after another. The block format
// has no window, so a match may reach back to the first byte; the finder
// keeps the last MatchFinder::window positions in view, which bounds its
// memory whatever the input's size.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <functional>
#include <vector>

// No position: the end of a hash chain, an empty tree.
constexpr uint32_t MATCH_NIL = UINT32_MAX;
// Positions between two progress reports of a search or a parse.
constexpr uint32_t PROGRESS_STEP = 1u << 16;

// The first three bytes at p, hashed to `bits` bits (multiplicative).
inline uint32_t Hash3(const uint8_t* p, uint32_t bits)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - bits);
}

struct MatchCandidate {
    uint32_t length;
    uint32_t offset;
};

// For every position, candidates with strictly increasing lengths; each is
// (as far as the search depth finds) the nearest offset that reaches its
// length, and serves every length above the candidate before it.
// Candidates of position p are matches[first[p - begin]] .. matches[first[p - begin + 1] - 1],
// begin being the first position of the segment the table lists; so are
// the other lists below.
// Alternatives are a few more offsets that reach no new length, met by the
// search or within the short match's reach: taken at their full length, they
// give a parser other last offsets to repeat later. Those of p are
// alternatives[alternativeFirst[p - begin]] and on.
// Resumed are matches that end a few bytes before a candidate at the same
// offset starts: a parse that takes one can take the later match as a
// repeat. The finder lists each position's nearest offsets, which are seldom
// the ones that resume after a differing byte or two (in machine code, a
// copied instruction sequence whose addresses differ). Those of p are
// resumed[resumedFirst[p - begin]] and on.
// A candidate of niceLength or more is extended to its full length (at most
// PARSE_LENGTH_MAX and the segment's end), and the positions it covers get
// no candidates: a parser takes such a match whole. No match reaches past
// the segment's end.
struct MatchTable {
    uint32_t begin = 0;
    std::vector<uint32_t> first;
    std::vector<MatchCandidate> matches;
    std::vector<uint32_t> alternativeFirst;
    std::vector<MatchCandidate> alternatives;
    std::vector<uint32_t> resumedFirst;
    std::vector<MatchCandidate> resumed;
    uint32_t niceLength = 0;
};

// Asks the system to back the whole 2 MiB pages within bytes at p with huge
// pages, where it can. The packer's tables are written once, in a few passes,
// so their page faults cost a good part of its time in 4 KiB pages. Call it
// before the memory is first written.
void AdviseHugePages(const void* p, size_t bytes);

// Room for n elements in v, in huge pages where the system grants them; the
// room is kept when v has it already, as from an earlier segment.
template <typename T>
void ReserveHuge(std::vector<T>& v, size_t n)
{
    if (v.capacity() >= n) return;
    std::vector<T>().swap(v);
    v.reserve(n);
    AdviseHugePages(v.data(), n * sizeof(T));
}

// n copies of value in v, in huge pages where the system grants them.
template <typename T>
void AssignHuge(std::vector<T>& v, size_t n, T value)
{
    ReserveHuge(v, n);
    v.assign(n, value);
}

// Reports done bytes out of total now and then; may be empty.
using ProgressFn = std::function<void(uint64_t done, uint64_t total)>;

// A match found for a position before the one being searched.
struct PlacedCandidate {
    uint32_t pos;
    MatchCandidate match;
};

// The finder's memory, kept from one segment to the next: binary trees of
// the positions in the window, and the nearest earlier positions of each
// 2-byte pair. Its size depends on the window, not on the input.
struct MatchFinder {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t window = 0;  // a power of two; the trees forget positions this far back
    uint32_t niceLength = 0;
    uint32_t searchDepth = 0;
    std::vector<uint32_t> head;
    std::vector<uint32_t> children;      // 2 per position, at its place in the window: smaller, larger
    std::vector<uint32_t> lastPair;      // by the pair's value
    std::vector<uint32_t> previousPair;  // a ring over the short match's reach
    std::vector<PlacedCandidate> resumed;
};

// Readies the finder for the input. window is a power of two.
void MatchFinderStart(MatchFinder& f, const uint8_t* data, size_t size, uint32_t niceLength, uint32_t searchDepth,
                      uint32_t window);

// Lists the candidates of positions begin .. end - 1 into table, whose
// storage is reused. Segments follow each other from position 0 without gaps.
void FindMatchesIn(MatchFinder& f, uint32_t begin, uint32_t end, MatchTable& table, const ProgressFn& progress);

// The whole input as one segment, in a window that holds it.
MatchTable FindMatches(const uint8_t* data, size_t size, uint32_t niceLength, uint32_t searchDepth,
                       const ProgressFn& progress);

// Number of equal bytes just before a and b (a[-1] and b[-1], then a[-2] and
// b[-2], ...), at most limit.
inline uint32_t CommonLengthBefore(const uint8_t* a, const uint8_t* b, uint32_t limit)
{
    uint32_t n = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (limit - n >= 8) {
        uint64_t x;
        uint64_t y;
        memcpy(&x, a - n - 8, 8);
        memcpy(&y, b - n - 8, 8);
        if (x != y) return n + uint32_t(__builtin_clzll(x ^ y)) / 8;
        n += 8;
    }
#endif
    while (n < limit && a[-1 - int64_t(n)] == b[-1 - int64_t(n)]) ++n;
    return n;
}

// Number of equal bytes at a and b, at most limit.
// Compares eight bytes at a time: the tree search spends most of its time here.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit)
{
    uint32_t n = 0;
    while (limit - n >= 8) {
        uint64_t x;
        uint64_t y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
            return n + uint32_t(__builtin_ctzll(x ^ y)) / 8;
#else
            break;
#endif
        }
        n += 8;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}
