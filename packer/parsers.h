// The two ways the encoder splits its input into tokens.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <memory>
#include <vector>

#include "packer/block_costs.h"
#include "packer/match_finder.h"

// Fast: hash chains and a one-step lazy choice by bits saved.
TokenList ParseFast(const uint8_t* data, size_t size);

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
};

// Makes room for a parse of size bytes that keeps up to arrivals ways a position.
void ParseScratchReserve(ParseScratch& scratch, size_t size, uint32_t arrivals);

struct OptimalParseSettings {
    const std::vector<uint8_t>* lowWidths;  // offset low width of each OFFSET_WIDTH_STRETCH bytes
    const std::vector<uint8_t>* byteCosts;  // bits of a TOKEN_BYTE at each position
    uint32_t arrivals;                  // ways of reaching a position kept, by last offset
    ParseScratch* scratch;              // grown as needed
};

// Cheapest parse by exact bit costs: a forward shortest path in which every
// position keeps the cheapest few ways of reaching it that differ in their
// last offset, the only state a code depends on.
TokenList ParseOptimal(const uint8_t* data, size_t size, const MatchTable& matches,
                       const OptimalParseSettings& settings, const ProgressFn& progress);

// Adjacent raw-run tokens become one, so that the runs share one entry code.
void MergeRawRuns(TokenList& tokens);
