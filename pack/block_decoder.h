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

// Whether the block expands into exactly unpacked bytes at destination: the
// one rule by which the installer and qzpack take an entry's block as sound.
// BlockDecompress gives 0 for an empty block as for a failing one; here an
// empty block is sound only with the checksum of no bytes (0) and a stream
// that comes to its end code without a code that writes.
bool BlockSound(const uint8_t* source, uint32_t sourceLength, uint8_t* destination, uint32_t unpacked);

// Checksum of the first n bytes at data; 0 for fewer than 4 bytes.
uint32_t BlockChecksum(const uint8_t* data, uint32_t n);
