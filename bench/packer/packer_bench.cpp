// Compressed sizes and compression speed on the reference corpus, in one
// run: qzpack at level 1 and at its best level, zlib at level 9 (raw
// deflate) and, for reference, LZMA2 at its highest preset (raw, no xz
// container). Every block is decoded again and compared.
//
//   build/native/bench/packer/packer_bench [LIST]
#include <lzma.h>
#include <stdio.h>
#include <zlib.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "pack/block_decoder.h"
#include "packer/block_encoder.h"

namespace {

struct Row {
    std::string name;
    size_t size;
    size_t fast;
    size_t best;
    size_t zlib;
    size_t lzma;
};

struct Timing {
    double fastSeconds = 0;
    double bestSeconds = 0;
};

std::vector<std::string> ReadList(const std::string& path)
{
    std::ifstream f(path);
    std::vector<std::string> files;
    std::string line;
    while (std::getline(f, line))
        if (!line.empty() && line[0] != '#') files.push_back(line);
    return files;
}

size_t DeflateSize(const std::vector<uint8_t>& data)
{
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::vector<uint8_t> out(deflateBound(&z, uLong(data.size())));
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = uInt(data.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    const size_t n = z.total_out;
    deflateEnd(&z);
    return n;
}

size_t LzmaSize(const std::vector<uint8_t>& data)
{
    lzma_options_lzma options;
    lzma_lzma_preset(&options, 9 | LZMA_PRESET_EXTREME);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA2, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    std::vector<uint8_t> out(data.size() + data.size() / 2 + 4096);
    size_t n = 0;
    if (lzma_raw_buffer_encode(filters, nullptr, data.data(), data.size(), out.data(), &n, out.size()) != LZMA_OK)
        return 0;
    return n;
}

bool DecodesBack(const std::vector<uint8_t>& block, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> out(data.size());
    const uint32_t n = BlockDecompress(block.data(), uint32_t(block.size()), out.data(), uint32_t(out.size()));
    return n == data.size() && out == data;
}

size_t Compress(const std::vector<uint8_t>& data, int level, double& seconds, bool& ok)
{
    const auto start = std::chrono::steady_clock::now();
    const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), level);
    seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ok = ok && DecodesBack(block, data);
    return block.size();
}

void PrintRow(const Row& r)
{
    printf("%-22s %9zu %9zu %9zu %9zu %9zu  %6.3f\n", r.name.c_str(), r.size, r.fast, r.best, r.zlib, r.lzma,
           r.zlib ? double(r.best) / double(r.zlib) : 0.0);
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> files = ReadList(argc > 1 ? argv[1] : QZ_BENCH_CORPUS_LIST);
    if (files.empty()) {
        fprintf(stderr, "packer_bench: no files listed\n");
        return 1;
    }
    printf("%-22s %9s %9s %9s %9s %9s  %6s\n", "file", "size", "level 1", "best", "zlib -9", "lzma 9e",
           "best/zlib");
    std::vector<Row> rows;
    Row total{"total", 0, 0, 0, 0, 0};
    Timing timing;
    bool ok = true;
    for (const std::string& path : files) {
        std::ifstream f(path, std::ios::binary);
        const std::vector<uint8_t> data((std::istreambuf_iterator<char>(f)), {});
        if (data.empty()) {
            fprintf(stderr, "packer_bench: %s: missing or empty\n", path.c_str());
            return 1;
        }
        Row r{path.substr(path.find_last_of('/') + 1), data.size(), 0, 0, 0, 0};
        r.fast = Compress(data, LEVEL_FAST, timing.fastSeconds, ok);
        r.best = Compress(data, LEVEL_BEST, timing.bestSeconds, ok);
        r.zlib = DeflateSize(data);
        r.lzma = LzmaSize(data);
        PrintRow(r);
        total.size += r.size;
        total.fast += r.fast;
        total.best += r.best;
        total.zlib += r.zlib;
        total.lzma += r.lzma;
    }
    PrintRow(total);
    printf("ratio to input:        %9s %8.2f%% %8.2f%% %8.2f%% %8.2f%%\n", "",
           100.0 * double(total.fast) / double(total.size), 100.0 * double(total.best) / double(total.size),
           100.0 * double(total.zlib) / double(total.size), 100.0 * double(total.lzma) / double(total.size));
    printf("compression speed: level 1 %.2f MB/s, best %.2f MB/s (MB = 10^6 bytes)\n",
           double(total.size) / 1e6 / timing.fastSeconds, double(total.size) / 1e6 / timing.bestSeconds);
    if (!ok) {
        printf("FAILED: a block did not decode back to its file\n");
        return 1;
    }
    return 0;
}
