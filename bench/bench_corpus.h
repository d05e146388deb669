// The benchmark's reference corpus, loaded and compressed both ways, plus the
// three decoders timed on it: ours, zlib's inflate and memcpy as the ceiling.
#pragma once

#include <stdint.h>
#include <zlib.h>

#include <string>
#include <vector>

struct CorpusFile {
    std::string path;
    std::vector<uint8_t> data;      // the file itself
    std::vector<uint8_t> block;     // our block, the packer at its best level
    std::vector<uint8_t> deflated;  // zlib, level 9
};

// Reads the list (one absolute path a line, '#' starts a comment), loads and
// compresses every file, and checks that both decoders give each file back.
// Prints what is wrong and gives an empty corpus on any failure.
std::vector<CorpusFile> LoadCorpus(const std::string& listPath);

size_t CorpusBytes(const std::vector<CorpusFile>& corpus);

// One pass over the corpus; each returns the bytes it produced.
size_t DecodeCorpusBlocks(const std::vector<CorpusFile>& corpus, std::vector<uint8_t>& scratch);
size_t InflateCorpus(const std::vector<CorpusFile>& corpus, z_stream& stream, std::vector<uint8_t>& scratch);
size_t CopyCorpus(const std::vector<CorpusFile>& corpus, std::vector<uint8_t>& scratch);
