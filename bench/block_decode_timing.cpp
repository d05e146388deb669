// Decode timing for the 32-bit build, run under Wine: the same corpus and the
// same three decoders as the native benchmark, timed in interleaved rounds;
// prints each one's median rate and the ratio ours / zlib.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
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

}  // namespace

int main(int argc, char** argv)
{
    const std::vector<CorpusFile> corpus = LoadCorpus(argc > 1 ? argv[1] : QZ_BENCH_CORPUS_LIST);
    if (corpus.empty()) {
        return 1;
    }
    size_t largest = 0;
    for (const CorpusFile& file : corpus) {
        largest = std::max(largest, file.data.size());
    }
    std::vector<uint8_t> scratch(largest);
    z_stream stream = {};
    inflateInit(&stream);
    std::vector<double> ours, zlib, copy;
    size_t sink = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        ours.push_back(SecondsFor([&] { sink += DecodeCorpusBlocks(corpus, scratch); }));
        zlib.push_back(SecondsFor([&] { sink += InflateCorpus(corpus, stream, scratch); }));
        copy.push_back(SecondsFor([&] { sink += CopyCorpus(corpus, scratch); }));
    }
    inflateEnd(&stream);
    const double megabytes = double(CorpusBytes(corpus)) * PASSES_PER_ROUND / 1e6;
    printf("corpus: %zu files, %zu bytes (checked %zu)\n", corpus.size(), CorpusBytes(corpus), sink);
    printf("MB/s: QZ %.1f, zlib %.1f, memcpy %.1f\n", megabytes / Median(ours), megabytes / Median(zlib),
           megabytes / Median(copy));
    printf("ratio QZ/zlib: %.3f\n", Median(zlib) / Median(ours));
    return 0;
}
