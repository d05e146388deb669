// Decode throughput (MB/s of output) on the reference corpus: our blocks (the
// packer at its best level), zlib's inflate of the same files at level 9, and
// memcpy as the ceiling.
// Repetitions run interleaved so that the shared machine's noise falls on all
// three alike; the closing line gives the ratio of the medians, ours / zlib.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"

namespace {

std::vector<CorpusFile> Corpus;  // loaded once by main

std::vector<uint8_t> Scratch()
{
    size_t largest = 0;
    for (const CorpusFile& file : Corpus) {
        largest = std::max(largest, file.data.size());
    }
    return std::vector<uint8_t>(largest);
}

void BM_BlockDecompress(benchmark::State& state)
{
    std::vector<uint8_t> scratch = Scratch();
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeCorpusBlocks(Corpus, scratch));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(CorpusBytes(Corpus)));
}

void BM_ZlibInflate(benchmark::State& state)
{
    std::vector<uint8_t> scratch = Scratch();
    z_stream stream = {};
    inflateInit(&stream);
    for (auto _ : state) {
        benchmark::DoNotOptimize(InflateCorpus(Corpus, stream, scratch));
    }
    inflateEnd(&stream);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(CorpusBytes(Corpus)));
}

void BM_Memcpy(benchmark::State& state)
{
    std::vector<uint8_t> scratch = Scratch();
    for (auto _ : state) {
        benchmark::DoNotOptimize(CopyCorpus(Corpus, scratch));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(CorpusBytes(Corpus)));
}

BENCHMARK(BM_BlockDecompress)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

// Keeps the median rate of each benchmark for the closing ratio.
class RateReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("bytes_per_second");
            const bool single = run.run_type == Run::RT_Iteration && run.repetitions <= 1;
            if (rate != run.counters.end() && (single || run.aggregate_name == "median")) {
                medians[run.run_name.function_name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

void PrintCorpus()
{
    size_t blocks = 0;
    size_t deflated = 0;
    for (const CorpusFile& file : Corpus) {
        blocks += file.block.size();
        deflated += file.deflated.size();
    }
    const double total = double(CorpusBytes(Corpus));
    printf("corpus: %zu files, %.0f bytes; blocks %.2f %%, zlib -9 %.2f %%\n", Corpus.size(), total,
           100.0 * double(blocks) / total, 100.0 * double(deflated) / total);
}

}  // namespace

int main(int argc, char** argv)
{
    // Defaults that make the ratio meaningful on a noisy machine; flags given
    // on the command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    char repetitions[] = "--benchmark_repetitions=9";
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    char aggregates[] = "--benchmark_report_aggregates_only=true";
    args.insert(args.begin() + 1, {repetitions, interleave, aggregates});
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());

    const char* list = getenv("QZ_BENCH_CORPUS");
    Corpus = LoadCorpus(list != nullptr ? list : QZ_BENCH_CORPUS_LIST);
    if (Corpus.empty()) {
        return 1;
    }
    PrintCorpus();
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.medians["BM_BlockDecompress"];
    const double zlib = reporter.medians["BM_ZlibInflate"];
    const double copy = reporter.medians["BM_Memcpy"];
    if (zlib > 0 && copy > 0) {
        printf("MB/s: QZ %.1f, zlib %.1f, memcpy %.1f\n", ours / 1e6, zlib / 1e6, copy / 1e6);
        printf("ratio QZ/zlib: %.3f\n", ours / zlib);
    }
    return 0;
}
