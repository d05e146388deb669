// The benchmarks' reference corpora, loaded and compressed both ways, plus the
// three decoders timed on them: ours, zlib's raw inflate (no header, no
// checksum: its fastest form) and memcpy as the ceiling.
#pragma once

#include <stdint.h>
#include <zlib.h>

#include <string>
#include <vector>

struct CorpusFile {
    std::string path;
    std::string name;               // the file's name, ":N" added when only N bytes are taken
    std::vector<uint8_t> data;      // the file itself
    std::vector<uint8_t> block;     // our block, the packer at its best level
    std::vector<uint8_t> deflated;  // raw deflate, zlib level 9
};

struct Corpus {
    std::string name;  // the list's file name
    std::vector<CorpusFile> files;
};

// Reads a corpus list (one absolute path a line, optionally followed by a
// byte count N meaning only the first N bytes; '#' starts a comment) and the
// files it names, path, name and data filled. Prints what is wrong and gives
// no files when the list or any file cannot be read.
std::vector<CorpusFile> ReadCorpusList(const std::string& listPath);

// ReadCorpusList, then compresses every file both ways and checks that both
// decoders give each file back. A corpus without files on any failure.
Corpus LoadCorpus(const std::string& listPath);

// The lists the decode benchmarks time, side by side in one run.
std::vector<std::string> DecodeBenchLists();

size_t CorpusBytes(const std::vector<CorpusFile>& corpus);

// A stream for InflateCorpus; inflateEnd releases it.
bool RawInflateInit(z_stream& stream);

// One pass over the corpus; each returns the bytes it produced.
size_t DecodeCorpusBlocks(const std::vector<CorpusFile>& corpus, std::vector<uint8_t>& scratch);
size_t InflateCorpus(const std::vector<CorpusFile>& corpus, z_stream& stream, std::vector<uint8_t>& scratch);
size_t CopyCorpus(const std::vector<CorpusFile>& corpus, std::vector<uint8_t>& scratch);
