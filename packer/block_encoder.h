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

// Levels below LEVEL_BEST and above LEVEL_FAST search more as they rise;
// every level gives the same decoded bytes. The output depends only on the
// input and the level. Inputs are limited to UINT32_MAX - 1 bytes.
std::vector<uint8_t> BlockCompress(const uint8_t* data, size_t size, int level, const ProgressFn& progress = {});
