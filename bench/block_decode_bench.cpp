// Decode throughput (MB/s of output) on both reference corpora: our blocks
// (the packer at its best level), zlib's raw inflate of the same files at
// level 9, and memcpy as the ceiling.
// Repetitions run interleaved so that the shared machine's noise falls on all
// of them alike; the closing lines give, per corpus, the medians and their
// ratio, ours / zlib. QZ_BENCH_CORPUS names one other list to time instead.
#include <benchmark/benchmark.h>
#include <stdio.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_corpus.h"

namespace {

std::vector<Corpus> Corpora;  // loaded once by main

std::vector<uint8_t> Scratch(const Corpus& corpus)
{
    size_t largest = 0;
    for (const CorpusFile& file : corpus.files) {
        largest = std::max(largest, file.data.size());
    }
    return std::vector<uint8_t>(largest);
}

void BlockDecompressRate(benchmark::State& state, const Corpus* corpus)
{
    std::vector<uint8_t> scratch = Scratch(*corpus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeCorpusBlocks(corpus->files, scratch));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(CorpusBytes(corpus->files)));
}

void ZlibInflateRate(benchmark::State& state, const Corpus* corpus)
{
    std::vector<uint8_t> scratch = Scratch(*corpus);
    z_stream stream;
    RawInflateInit(stream);
    for (auto _ : state) {
        benchmark::DoNotOptimize(InflateCorpus(corpus->files, stream, scratch));
    }
    inflateEnd(&stream);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(CorpusBytes(corpus->files)));
}

void MemcpyRate(benchmark::State& state, const Corpus* corpus)
{
    std::vector<uint8_t> scratch = Scratch(*corpus);
    for (auto _ : state) {
        benchmark::DoNotOptimize(CopyCorpus(corpus->files, scratch));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(CorpusBytes(corpus->files)));
}

const char* const QZ = "BM_BlockDecompress";
const char* const ZLIB = "BM_ZlibInflate";
const char* const MEMCPY = "BM_Memcpy";

std::string RunName(const char* decoder, const Corpus& corpus)
{
    return std::string(decoder) + "/" + corpus.name;
}

void RegisterRates(const Corpus& corpus)
{
    benchmark::RegisterBenchmark(RunName(QZ, corpus).c_str(), BlockDecompressRate, &corpus)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(RunName(ZLIB, corpus).c_str(), ZlibInflateRate, &corpus)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(RunName(MEMCPY, corpus).c_str(), MemcpyRate, &corpus)->Unit(benchmark::kMillisecond);
}

// Keeps the median rate of each benchmark for the closing lines.
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

void PrintCorpus(const Corpus& corpus)
{
    size_t blocks = 0;
    size_t deflated = 0;
    for (const CorpusFile& file : corpus.files) {
        blocks += file.block.size();
        deflated += file.deflated.size();
    }
    const double total = double(CorpusBytes(corpus.files));
    printf("%s: %zu files, %.0f bytes; blocks %.2f %%, raw deflate -9 %.2f %%\n", corpus.name.c_str(),
           corpus.files.size(), total, 100.0 * double(blocks) / total, 100.0 * double(deflated) / total);
}

void PrintRates(const Corpus& corpus, std::map<std::string, double>& medians)
{
    const double ours = medians[RunName(QZ, corpus)];
    const double zlib = medians[RunName(ZLIB, corpus)];
    const double copy = medians[RunName(MEMCPY, corpus)];
    if (zlib > 0 && copy > 0) {
        printf("%-16s MB/s: QZ %.1f, zlib %.1f, memcpy %.1f; ratio QZ/zlib: %.3f\n", corpus.name.c_str(), ours / 1e6,
               zlib / 1e6, copy / 1e6, ours / zlib);
    }
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
    const std::vector<std::string> lists = list != nullptr ? std::vector<std::string>{list} : DecodeBenchLists();
    for (const std::string& path : lists) {
        Corpora.push_back(LoadCorpus(path));
        if (Corpora.back().files.empty()) {
            return 1;
        }
    }
    for (const Corpus& corpus : Corpora) {
        PrintCorpus(corpus);
        RegisterRates(corpus);
    }
    RateReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const Corpus& corpus : Corpora) {
        PrintRates(corpus, reporter.medians);
    }
    return 0;
}
