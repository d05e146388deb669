// Arbitrary bytes into BlockDecompress. The first three bytes give the
// destination's capacity (up to 256 KiB), the rest is the block. Block and
// destination each sit in a buffer of exactly their size, so the sanitizers
// see any access outside them.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "pack/block_decoder.h"

namespace {

constexpr size_t CAPACITY_BYTES = 3;
constexpr uint32_t CAPACITY_MASK = (256u << 10) - 1;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < CAPACITY_BYTES) {
        return 0;
    }
    const uint32_t capacity = (uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16) & CAPACITY_MASK;
    const std::vector<uint8_t> block(data + CAPACITY_BYTES, data + size);
    std::vector<uint8_t> destination(capacity);
    const uint32_t result = BlockDecompress(block.data(), uint32_t(block.size()), destination.data(), capacity);
    if (result > capacity) {
        abort();
    }
    // The result never depends on anything but the block and the buffer.
    std::vector<uint8_t> again(capacity);
    if (BlockDecompress(block.data(), uint32_t(block.size()), again.data(), capacity) != result ||
        (result != 0 && again != destination)) {
        abort();
    }
    return 0;
}
