// Block decoder and checksum: portable, no platform calls, no allocation.
#pragma once

#include <stdint.h>

// Expands the block of sourceLength bytes at source into destination, which
// holds capacity bytes. Returns the number of bytes written, or 0 when the
// block is missing, too short, not a block, malformed (it would read past its
// end, write past the smaller of capacity and its unpacked size, copy from
// before the output's start, ...) or fails its checksum. On a checksum
// mismatch the decoded bytes stay in destination. Never touches memory outside
// the two buffers.
uint32_t BlockDecompress(const uint8_t* source, uint32_t sourceLength, uint8_t* destination, uint32_t capacity);

// Whether the block of sourceLength bytes at source is a sound empty one,
// which BlockDecompress cannot say: it gives 0 for it as for a failing block.
// Sound when its header says no bytes and the checksum of no bytes (0), and
// its stream begins with the end code. No encoder writes an empty block (an
// empty entry is stored), so any other stream in one is damage.
bool BlockEmptySound(const uint8_t* source, uint32_t sourceLength);

// Checksum of the first n bytes at data; 0 for fewer than 4 bytes.
uint32_t BlockChecksum(const uint8_t* data, uint32_t n);
