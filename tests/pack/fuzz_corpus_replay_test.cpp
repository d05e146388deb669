// Replays the fuzzer's seed corpus as an ordinary test, through the fuzz
// target itself (which aborts on a broken invariant), and checks that every
// seed is still a valid block that fills its capacity.
#include <gtest/gtest.h>
#include <stddef.h>
#include <stdint.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "pack/block_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

TEST(FuzzCorpus, SeedsStayValidBlocksAndPassTheTarget)
{
    size_t seeds = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QZ_FUZZ_CORPUS_DIR)) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_GE(input.size(), 3u) << entry.path();
        EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);

        const uint32_t capacity = uint32_t(input[0]) | uint32_t(input[1]) << 8 | uint32_t(input[2]) << 16;
        std::vector<uint8_t> destination(capacity);
        const uint32_t result = BlockDecompress(input.data() + 3, uint32_t(input.size() - 3), destination.data(), capacity);
        EXPECT_EQ(result, capacity) << entry.path();
        ++seeds;
    }
    EXPECT_GE(seeds, 5u);
}

}  // namespace
