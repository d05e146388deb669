// A small greedy block encoder (hash chains, one step of lazy matching),
// used to build the benchmark's and the fuzzer's inputs until the packer's
// encoder is available. Correct, not tuned: ratio is the packer's business.
#pragma once

#include <stdint.h>

#include <vector>

// The whole block for data[0..n): header with checksum, bit stream, padding.
std::vector<uint8_t> GreedyBlockCompress(const uint8_t* data, uint32_t n);
