// Compressed sizes and compression speed on a reference corpus, in one run:
// qzpack at level 1 and at its best level, zlib at level 9 (raw deflate) and,
// for reference, LZMA2 at its highest preset (raw, no xz container). Every
// block is decoded again and compared. Files are summed per group (Wine PE
// files, MinGW DLLs, text) and in total.
//
//   build/native/bench/packer/packer_bench [LIST]
//
// LIST: one absolute path a line, optionally followed by a byte count N (only
// the first N bytes of the file); '#' starts a comment. By default the 17-file
// reference corpus.
#include <lzma.h>
#include <stdio.h>
#include <time.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "bench/bench_corpus.h"
#include "pack/block_decoder.h"
#include "packer/block_encoder.h"

namespace {

enum Group { GROUP_WINE_PE, GROUP_MINGW_DLL, GROUP_TEXT, GROUP_COUNT };
const char* const GROUP_NAMES[GROUP_COUNT] = {"Wine PE", "MinGW DLLs", "text"};

struct Row {
    std::string name;
    size_t size = 0;
    size_t fast = 0;
    size_t best = 0;
    size_t zlib = 0;
    size_t lzma = 0;
    double fastSeconds = 0;
    double bestSeconds = 0;
};

// PE files start with "MZ"; those of Wine live under a wine folder.
Group GroupOf(const std::string& path, const std::vector<uint8_t>& data)
{
    const bool pe = data.size() >= 2 && data[0] == 'M' && data[1] == 'Z';
    if (!pe) return GROUP_TEXT;
    return path.find("/wine/") != std::string::npos ? GROUP_WINE_PE : GROUP_MINGW_DLL;
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

// The thread's own CPU time: the benchmark shares its machine, and time spent
// waiting for a core is not the packer's.
double CpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

size_t Compress(const std::vector<uint8_t>& data, int level, double& seconds, bool& ok)
{
    const double start = CpuSeconds();
    const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), level);
    seconds += CpuSeconds() - start;
    ok = ok && DecodesBack(block, data);
    return block.size();
}

void AddTo(Row& sum, const Row& r)
{
    sum.size += r.size;
    sum.fast += r.fast;
    sum.best += r.best;
    sum.zlib += r.zlib;
    sum.lzma += r.lzma;
    sum.fastSeconds += r.fastSeconds;
    sum.bestSeconds += r.bestSeconds;
}

double MegabytesPerSecond(size_t bytes, double seconds)
{
    return seconds > 0 ? double(bytes) / 1e6 / seconds : 0.0;
}

void PrintHeader()
{
    printf("%-22s %9s %9s %9s %9s %9s  %9s %8s %8s\n", "file", "size", "level 1", "best", "zlib -9", "xz -9e",
           "best/zlib", "MB/s 1", "MB/s best");
}

void PrintRow(const Row& r)
{
    printf("%-22s %9zu %9zu %9zu %9zu %9zu  %9.4f %8.2f %8.2f\n", r.name.c_str(), r.size, r.fast, r.best, r.zlib,
           r.lzma, r.zlib ? double(r.best) / double(r.zlib) : 0.0, MegabytesPerSecond(r.size, r.fastSeconds),
           MegabytesPerSecond(r.size, r.bestSeconds));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<CorpusFile> files = ReadCorpusList(argc > 1 ? argv[1] : QZ_BENCH_CORPUS_LIST);
    if (files.empty()) {
        fprintf(stderr, "packer_bench: no files listed\n");
        return 1;
    }
    PrintHeader();
    Row groups[GROUP_COUNT];
    for (int g = 0; g < GROUP_COUNT; ++g) groups[g].name = GROUP_NAMES[g];
    Row total;
    total.name = "total";
    bool ok = true;
    for (const CorpusFile& file : files) {
        const std::vector<uint8_t>& data = file.data;
        Row r;
        r.name = file.name;
        r.size = data.size();
        r.fast = Compress(data, LEVEL_FAST, r.fastSeconds, ok);
        r.best = Compress(data, LEVEL_BEST, r.bestSeconds, ok);
        r.zlib = DeflateSize(data);
        r.lzma = LzmaSize(data);
        PrintRow(r);
        fflush(stdout);
        AddTo(groups[GroupOf(file.path, data)], r);
        AddTo(total, r);
    }
    printf("\n");
    PrintHeader();
    for (const Row& g : groups)
        if (g.size > 0) PrintRow(g);
    PrintRow(total);
    printf("ratio to input:        %9s %8.2f%% %8.2f%% %8.2f%% %8.2f%%\n", "",
           100.0 * double(total.fast) / double(total.size), 100.0 * double(total.best) / double(total.size),
           100.0 * double(total.zlib) / double(total.size), 100.0 * double(total.lzma) / double(total.size));
    printf("MB/s: 10^6 bytes of input per second of the thread's CPU time\n");
    if (!ok) {
        printf("FAILED: a block did not decode back to its file\n");
        return 1;
    }
    return 0;
}
