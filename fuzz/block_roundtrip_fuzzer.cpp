// Arbitrary bytes through BlockCompress at every level and back through
// BlockDecompress: each block must give back exactly the input, in a
// destination of exactly the input's size.
#include <stdint.h>
#include <stdlib.h>

#include <vector>

#include "pack/block_decoder.h"
#include "packer/block_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::vector<uint8_t> input(data, data + size);
    for (int level = LEVEL_FAST; level <= LEVEL_BEST; ++level) {
        const std::vector<uint8_t> block = BlockCompress(input.data(), input.size(), level);
        std::vector<uint8_t> output(size);
        const uint32_t written = BlockDecompress(block.data(), uint32_t(block.size()), output.data(), uint32_t(size));
        if (written != size || output != input) {
            abort();
        }
    }
    return 0;
}
