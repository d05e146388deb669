// Inputs for the packer's tests: seeded, so every run sees the same bytes.
#pragma once

#include <stdint.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "pack/block_format.h"
#include "tests/pack/pe_writer.h"

// Real PE files to compress, from the build's QZ_PE_SAMPLE_DIR setting.
constexpr const char* PE_SAMPLE_DIR = QZ_PE_SAMPLE_DIR;

inline std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed, uint32_t lowest = 0, uint32_t span = 256)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> bytes(n);
    for (uint8_t& b : bytes) b = uint8_t(lowest + random() % span);
    return bytes;
}

inline std::vector<uint8_t> TextBytes(size_t n, uint32_t seed)
{
    static const char* const WORDS[] = {"the ", "installer ", "writes ", "four ", "files ", "below ",
                                        "a ",   "chosen ",    "folder, ", "and ", "records ", "it.\n"};
    std::mt19937 random(seed);
    std::string text;
    while (text.size() < n) text += WORDS[random() % 12];
    text.resize(n);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The file's bytes; none when it cannot be read.
inline std::vector<uint8_t> FileBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<uint8_t> ReadSample(const std::string& name)
{
    return FileBytes(PE_SAMPLE_DIR + name);
}

inline void Append(std::vector<uint8_t>& to, const std::vector<uint8_t>& more)
{
    to.insert(to.end(), more.begin(), more.end());
}
