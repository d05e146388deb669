// Decode timing for the 32-bit build, run under Wine: the same corpora and
// the same three decoders as the native benchmark, timed in interleaved
// rounds; prints, per corpus, each one's median rate and the ratio ours / zlib.
// Lists given as arguments replace the two reference corpora.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"

namespace {

constexpr int ROUNDS = 15;
constexpr int PASSES_PER_ROUND = 4;

template <typename Pass>
double SecondsFor(Pass pass)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < PASSES_PER_ROUND; ++i) {
        pass();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

void TimeCorpus(const Corpus& corpus)
{
    size_t largest = 0;
    for (const CorpusFile& file : corpus.files) {
        largest = std::max(largest, file.data.size());
    }
    std::vector<uint8_t> scratch(largest);
    z_stream stream;
    RawInflateInit(stream);
    std::vector<double> ours, zlib, copy;
    size_t sink = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        ours.push_back(SecondsFor([&] { sink += DecodeCorpusBlocks(corpus.files, scratch); }));
        zlib.push_back(SecondsFor([&] { sink += InflateCorpus(corpus.files, stream, scratch); }));
        copy.push_back(SecondsFor([&] { sink += CopyCorpus(corpus.files, scratch); }));
    }
    inflateEnd(&stream);
    const size_t bytes = CorpusBytes(corpus.files);
    const double megabytes = double(bytes) * PASSES_PER_ROUND / 1e6;
    printf("%s: %zu files, %zu bytes (checked %zu)\n", corpus.name.c_str(), corpus.files.size(), bytes, sink);
    printf("%-16s MB/s: QZ %.1f, zlib %.1f, memcpy %.1f; ratio QZ/zlib: %.3f\n", corpus.name.c_str(),
           megabytes / Median(ours), megabytes / Median(zlib), megabytes / Median(copy), Median(zlib) / Median(ours));
}

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> lists = argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : DecodeBenchLists();
    for (const std::string& path : lists) {
        const Corpus corpus = LoadCorpus(path);
        if (corpus.files.empty()) {
            return 1;
        }
        TimeCorpus(corpus);
    }
    return 0;
}
