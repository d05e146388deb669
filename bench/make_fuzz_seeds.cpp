// Writes the fuzzer's seed corpus: valid blocks of pieces of the reference
// corpus and of a few synthetic inputs, each behind the three capacity bytes
// the fuzzer reads first. The blocks come from the packer at its best level,
// which switches literal formats and offset widths within a block, so the
// seeds reach more of the decoder than the fast level's would.
// Usage: make_fuzz_seeds OUTPUT_DIRECTORY
#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "packer/block_encoder.h"

namespace {

std::vector<uint8_t> Slice(const char* path, size_t from, size_t count)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    from = std::min(from, all.size());
    count = std::min(count, all.size() - from);
    return std::vector<uint8_t>(all.begin() + from, all.begin() + from + count);
}

bool WriteSeed(const std::string& path, const std::vector<uint8_t>& data)
{
    const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), LEVEL_BEST);
    const uint32_t capacity = uint32_t(data.size());
    std::ofstream out(path, std::ios::binary);
    const char prefix[3] = {char(capacity), char(capacity >> 8), char(capacity >> 16)};
    out.write(prefix, 3);
    out.write(reinterpret_cast<const char*>(block.data()), std::streamsize(block.size()));
    return bool(out);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: make_fuzz_seeds OUTPUT_DIRECTORY\n");
        return 2;
    }
    const std::string dir = argv[1];
    const char* license = "/usr/share/common-licenses/GPL-3";
    const char* dll = "/usr/lib/i386-linux-gnu/wine/i386-windows/version.dll";
    std::mt19937 random(1234);
    std::vector<uint8_t> noise(600);
    for (uint8_t& b : noise) {
        b = uint8_t(random());
    }
    struct Seed {
        const char* name;
        std::vector<uint8_t> data;
    };
    const Seed seeds[] = {
        {"empty", {}},
        {"one-byte", {'x'}},
        {"five-bytes", {'a', 'b', 'a', 'b', 'a'}},
        {"zeros", std::vector<uint8_t>(512, 0)},
        {"noise", noise},
        {"text-short", Slice(license, 0, 300)},
        {"text", Slice(license, 1000, 3000)},
        {"pe-header", Slice(dll, 0, 4096)},
        {"pe-code", Slice(dll, 8192, 6000)},
        {"pe-far", Slice(dll, 20000, 40000)},
    };
    for (const Seed& seed : seeds) {
        if (!WriteSeed(dir + "/" + seed.name, seed.data)) {
            fprintf(stderr, "cannot write %s\n", seed.name);
            return 1;
        }
    }
    return 0;
}
