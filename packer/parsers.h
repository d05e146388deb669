// The two ways the encoder splits its input into tokens.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "packer/block_costs.h"
#include "packer/match_finder.h"

// The fast parse's memory, kept from one segment to the next: hash chains
// over the last window positions, whatever the input's size.
struct FastChains {
    const uint8_t* data = nullptr;
    uint32_t size = 0;
    uint32_t window = 0;  // a power of two
    uint32_t hashBits = 0;
    std::vector<uint32_t> head;
    std::vector<uint32_t> previous;  // at each position's place in the window
};

void FastChainsStart(FastChains& chains, const uint8_t* data, size_t size, uint32_t window);

// Fast: hash chains and a one-step lazy choice by bits saved, for the
// segment begin .. end - 1, the segment before it parsed already.
TokenList ParseFast(FastChains& chains, uint32_t begin, uint32_t end, uint32_t lastOffset);

// Stretches of bytes that would cost more on their own than as raw runs
// become raw runs; tokens start at begin. True when any did.
bool TakeRawRuns(TokenList& tokens, const uint8_t* data, size_t begin);

// The optimal parse's largest table, kept from one pass to the next. The
// system clears each of its pages when it is first written, so passes that
// share one table pay for that once; reserve it for the largest pass first.
struct Arrival;
struct ArrivalsFree {
    void operator()(Arrival* slots) const;
};
struct ParseScratch {
    std::unique_ptr<Arrival[], ArrivalsFree> slots;
    size_t count = 0;
    // Ways kept at each position, and the cost a way must undercut there;
    // kept for the next segment's parse too.
    std::vector<uint8_t> counts;
    std::vector<uint32_t> entryCost;
};

// Makes room for a parse of size bytes that keeps up to arrivals ways a position.
void ParseScratchReserve(ParseScratch& scratch, size_t size, uint32_t arrivals);

struct OptimalParseSettings {
    const std::vector<uint8_t>* lowWidths;  // offset low width of each OFFSET_WIDTH_STRETCH bytes
    const std::vector<uint8_t>* byteCosts;  // bits of a TOKEN_BYTE at each position
    uint32_t arrivals;                  // ways of reaching a position kept, by last offset
    ParseScratch* scratch;              // grown as needed
    uint32_t lastOffset;                // the decoder's last offset where the segment begins
};

// Cheapest parse by exact bit costs of the segment that matches lists, up to
// end: a forward shortest path in which every position keeps the cheapest
// few ways of reaching it that differ in their last offset, the only state a
// code depends on. byteCosts and lowWidths start at the segment.
TokenList ParseOptimal(const uint8_t* data, size_t end, const MatchTable& matches,
                       const OptimalParseSettings& settings, const ProgressFn& progress);

// Adjacent raw-run tokens become one, so that the runs share one entry code.
void MergeRawRuns(TokenList& tokens);
