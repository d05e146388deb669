#include "bench/bench_corpus.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <sstream>

#include "pack/block_decoder.h"
#include "packer/block_encoder.h"

namespace {

// Raw deflate: negative window bits leave out zlib's header and checksum.
constexpr int RAW_WINDOW_BITS = -15;
constexpr int DEFLATE_LEVEL = 9;
constexpr int DEFLATE_MEMORY_LEVEL = 8;

// Called through a volatile pointer, so that the compiler cannot drop the
// copies whose results nothing reads.
void* (*volatile CopyBytes)(void*, const void*, size_t) = memcpy;

bool ReadFile(const std::string& path, std::vector<uint8_t>& data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool RawDeflate(CorpusFile& file)
{
    z_stream stream = {};
    if (deflateInit2(&stream, DEFLATE_LEVEL, Z_DEFLATED, RAW_WINDOW_BITS, DEFLATE_MEMORY_LEVEL,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return false;
    }
    file.deflated.resize(deflateBound(&stream, uLong(file.data.size())));
    stream.next_in = file.data.data();
    stream.avail_in = uInt(file.data.size());
    stream.next_out = file.deflated.data();
    stream.avail_out = uInt(file.deflated.size());
    const bool done = deflate(&stream, Z_FINISH) == Z_STREAM_END;
    file.deflated.resize(stream.total_out);
    deflateEnd(&stream);
    return done;
}

bool CompressBothWays(CorpusFile& file)
{
    const uint32_t size = uint32_t(file.data.size());
    file.block = BlockCompress(file.data.data(), size, LEVEL_BEST);
    if (!RawDeflate(file)) {
        return false;
    }
    std::vector<uint8_t> back(size);
    const uint32_t decoded = BlockDecompress(file.block.data(), uint32_t(file.block.size()), back.data(), size);
    if (decoded != size || back != file.data) {
        return false;
    }
    std::fill(back.begin(), back.end(), 0);
    z_stream stream = {};
    if (!RawInflateInit(stream)) {
        return false;
    }
    const std::vector<CorpusFile> one(1, file);
    const size_t inflated = InflateCorpus(one, stream, back);
    inflateEnd(&stream);
    return inflated == size && back == file.data;
}

// "path" or "path N".
bool ReadListedFile(const std::string& line, CorpusFile& file)
{
    std::istringstream fields(line);
    size_t prefix = 0;
    if (!(fields >> file.path) || !ReadFile(file.path, file.data)) {
        return false;
    }
    file.name = file.path.substr(file.path.find_last_of('/') + 1);
    if (fields >> prefix) {
        if (prefix > file.data.size()) {
            return false;
        }
        file.data.resize(prefix);
        file.name += ":" + std::to_string(prefix);
    }
    return fields.eof() && !file.data.empty();
}

}  // namespace

std::vector<CorpusFile> ReadCorpusList(const std::string& listPath)
{
    std::ifstream list(listPath);
    if (!list) {
        fprintf(stderr, "cannot read the corpus list %s\n", listPath.c_str());
        return {};
    }
    std::vector<CorpusFile> files;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        CorpusFile file;
        if (!ReadListedFile(line, file)) {
            fprintf(stderr, "cannot read %s, or it is empty\n", line.c_str());
            return {};
        }
        files.push_back(std::move(file));
    }
    return files;
}

Corpus LoadCorpus(const std::string& listPath)
{
    Corpus corpus;
    corpus.name = listPath.substr(listPath.find_last_of('/') + 1);
    corpus.files = ReadCorpusList(listPath);
    for (CorpusFile& file : corpus.files) {
        if (!CompressBothWays(file)) {
            fprintf(stderr, "cannot round-trip %s\n", file.name.c_str());
            corpus.files.clear();
            break;
        }
    }
    return corpus;
}

std::vector<std::string> DecodeBenchLists()
{
    return {QZ_BENCH_DIR "/corpus.txt", QZ_BENCH_DIR "/corpus-17.txt"};
}

bool RawInflateInit(z_stream& stream)
{
    stream = z_stream{};
    return inflateInit2(&stream, RAW_WINDOW_BITS) == Z_OK;
}

size_t CorpusBytes(const std::vector<CorpusFile>& corpus)
{
    size_t total = 0;
    for (const CorpusFile& file : corpus) {
        total += file.data.size();
    }
    return total;
}

size_t DecodeCorpusBlocks(const std::vector<CorpusFile>& corpus, std::vector<uint8_t>& scratch)
{
    size_t total = 0;
    for (const CorpusFile& file : corpus) {
        total += BlockDecompress(file.block.data(), uint32_t(file.block.size()), scratch.data(), uint32_t(scratch.size()));
    }
    return total;
}

size_t InflateCorpus(const std::vector<CorpusFile>& corpus, z_stream& stream, std::vector<uint8_t>& scratch)
{
    size_t total = 0;
    for (const CorpusFile& file : corpus) {
        inflateReset(&stream);
        stream.next_in = const_cast<Bytef*>(file.deflated.data());
        stream.avail_in = uInt(file.deflated.size());
        stream.next_out = scratch.data();
        stream.avail_out = uInt(scratch.size());
        inflate(&stream, Z_FINISH);
        total += scratch.size() - stream.avail_out;
    }
    return total;
}

size_t CopyCorpus(const std::vector<CorpusFile>& corpus, std::vector<uint8_t>& scratch)
{
    size_t total = 0;
    for (const CorpusFile& file : corpus) {
        CopyBytes(scratch.data(), file.data.data(), file.data.size());
        total += file.data.size();
    }
    return total;
}
