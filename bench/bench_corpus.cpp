#include "bench/bench_corpus.h"

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>

#include "pack/block_decoder.h"
#include "packer/block_encoder.h"

namespace {

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

bool CompressBothWays(CorpusFile& file)
{
    const uint32_t size = uint32_t(file.data.size());
    file.block = BlockCompress(file.data.data(), size, LEVEL_BEST);
    uLongf deflatedSize = compressBound(size);
    file.deflated.resize(deflatedSize);
    if (compress2(file.deflated.data(), &deflatedSize, file.data.data(), size, 9) != Z_OK) {
        return false;
    }
    file.deflated.resize(deflatedSize);

    std::vector<uint8_t> back(size);
    const uint32_t decoded = BlockDecompress(file.block.data(), uint32_t(file.block.size()), back.data(), size);
    if (decoded != size || back != file.data) {
        return false;
    }
    uLongf inflatedSize = size;
    std::fill(back.begin(), back.end(), 0);
    return uncompress(back.data(), &inflatedSize, file.deflated.data(), file.deflated.size()) == Z_OK &&
           inflatedSize == size && back == file.data;
}

}  // namespace

std::vector<CorpusFile> LoadCorpus(const std::string& listPath)
{
    std::ifstream list(listPath);
    if (!list) {
        fprintf(stderr, "cannot read the corpus list %s\n", listPath.c_str());
        return {};
    }
    std::vector<CorpusFile> corpus;
    std::string line;
    while (std::getline(list, line)) {
        if (line.empty() || line[0] == '#') {
            continue;
        }
        CorpusFile file;
        file.path = line;
        if (!ReadFile(line, file.data) || !CompressBothWays(file)) {
            fprintf(stderr, "cannot read or round-trip %s\n", line.c_str());
            return {};
        }
        corpus.push_back(std::move(file));
    }
    return corpus;
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
