// The block compressor: one input, one block that the block decoder expands
// back to exactly that input.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "packer/match_finder.h"

constexpr int LEVEL_FAST = 1;
constexpr int LEVEL_BEST = 9;
constexpr int LEVEL_DEFAULT = LEVEL_BEST;

// What bounds the compressor's memory, whatever the input's size: it parses
// the input one segment after another, each with its own match lists and
// parse tables, and finds matches only among the positions of the last
// window bytes (the fast level: of the last fastWindow bytes). Every size is
// a power of two. A file up to one segment long is parsed whole; longer
// ones lose the parse's choices across the segments' edges, and matches
// from beyond the window.
struct CompressBounds {
    uint32_t segment;
    uint32_t window;
    uint32_t fastWindow;
};
constexpr CompressBounds COMPRESS_BOUNDS = {1u << 20, 1u << 24, 1u << 20};

// Levels below LEVEL_BEST and above LEVEL_FAST search more as they rise;
// every level gives the same decoded bytes. The output depends only on the
// input, the level and the bounds. Inputs are limited to UINT32_MAX - 1 bytes.
std::vector<uint8_t> BlockCompress(const uint8_t* data, size_t size, int level, const ProgressFn& progress = {},
                                   const CompressBounds& bounds = COMPRESS_BOUNDS);
