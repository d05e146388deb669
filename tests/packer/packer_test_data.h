// Inputs for the packer's tests: seeded, so every run sees the same bytes.
#pragma once

#include <stdint.h>

#include <fstream>
#include <iterator>
#include <random>
#include <string.h>
#include <string>
#include <vector>

#include "app/installer_identity.h"
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

inline void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// Where PeWithVersion puts things: one section, .rsrc, right after the
// headers, and in it the three levels of resource directory, the data
// entry and the version resource.
constexpr size_t SECTION_AT = PE_TEST_OPTIONAL + 224;
constexpr size_t RSRC_AT = PE_TEST_SIZE;
constexpr uint32_t RSRC_RVA = 0x1000;
constexpr size_t TYPE_ENTRY = RSRC_AT + 16;
constexpr size_t DATA_ENTRY = RSRC_AT + 72;
constexpr size_t VERSION_AT = RSRC_AT + 88;

// A node of a version resource: length, value length, type, UTF-16 key,
// then the value and the children, each on a 4-byte boundary.
inline std::vector<uint8_t> VersionNode(const char* key, uint16_t type, const std::vector<uint8_t>& value,
                                        uint16_t valueLength, const std::vector<std::vector<uint8_t>>& children)
{
    std::vector<uint8_t> n(6, 0);
    for (size_t i = 0; i <= strlen(key); ++i) n.insert(n.end(), {uint8_t(key[i]), 0});
    n.resize((n.size() + 3) / 4 * 4, 0);
    Append(n, value);
    for (const std::vector<uint8_t>& child : children) {
        n.resize((n.size() + 3) / 4 * 4, 0);
        Append(n, child);
    }
    Put16(n, 0, uint16_t(n.size()));
    Put16(n, 2, valueLength);
    Put16(n, 4, type);
    return n;
}

// A PE32 image with one .rsrc section holding one version resource whose
// file version is 1.2.3.4 and product version 5.6.7.8, laid out by hand;
// with a description, a string table gives it as "FileDescription".
inline std::vector<uint8_t> PeWithVersion(const char* description = nullptr)
{
    std::vector<uint8_t> fixed(52, 0);
    const uint32_t fields[] = {0xFEEF04BD, 0x10000, 0x00010002, 0x00030004, 0x00050006, 0x00070008};
    for (size_t i = 0; i < 6; ++i) StoreU32(&fixed[4 * i], fields[i]);
    std::vector<std::vector<uint8_t>> children;
    if (description) {
        std::vector<uint8_t> text;
        for (size_t i = 0; i <= strlen(description); ++i) text.insert(text.end(), {uint8_t(description[i]), 0});
        const std::vector<uint8_t> entry =
            VersionNode("FileDescription", 1, text, uint16_t(strlen(description) + 1), {});
        children.push_back(
            VersionNode("StringFileInfo", 1, {}, 0, {VersionNode("040904b0", 1, {}, 0, {entry})}));
    }
    const std::vector<uint8_t> info = VersionNode("VS_VERSION_INFO", 0, fixed, 52, children);

    std::vector<uint8_t> b = PeImage();
    b.resize(VERSION_AT, 0);
    Append(b, info);
    Put16(b, PE_TEST_HEADER + 6, 1);                     // sections
    StoreU32(&b[PE_TEST_OPTIONAL + 96 + 16], RSRC_RVA);  // the resource directory
    StoreU32(&b[PE_TEST_OPTIONAL + 96 + 20], uint32_t(b.size() - RSRC_AT));
    memcpy(&b[SECTION_AT], ".rsrc", 5);
    StoreU32(&b[SECTION_AT + 8], uint32_t(b.size() - RSRC_AT));
    StoreU32(&b[SECTION_AT + 12], RSRC_RVA);
    StoreU32(&b[SECTION_AT + 16], uint32_t(b.size() - RSRC_AT));
    StoreU32(&b[SECTION_AT + 20], RSRC_AT);
    // Type 16, name 1, language 0x409, each directory with one id entry.
    const uint32_t levels[][2] = {{16, 0x80000000u | 24}, {1, 0x80000000u | 48}, {0x409, 72}};
    for (size_t i = 0; i < 3; ++i) {
        Put16(b, RSRC_AT + 24 * i + 14, 1);
        StoreU32(&b[RSRC_AT + 24 * i + 16], levels[i][0]);
        StoreU32(&b[RSRC_AT + 24 * i + 20], levels[i][1]);
    }
    StoreU32(&b[DATA_ENTRY], RSRC_RVA + 88);
    StoreU32(&b[DATA_ENTRY + 4], uint32_t(info.size()));
    return b;
}

// Sets the optional header's subsystem: 2 GUI, 3 console.
inline std::vector<uint8_t> PeSubsystemSet(std::vector<uint8_t> pe, uint16_t subsystem)
{
    Put16(pe, PE_TEST_OPTIONAL + 68, subsystem);
    return pe;
}

// An installer stub as far as qzpack can tell: a 32-bit GUI program whose
// version resource describes it as the installer (with another
// description, some other program), its section padded to a 512-byte
// file block as a linker pads it.
inline std::vector<uint8_t> StubImage(const char* description = INSTALLER_DESCRIPTION)
{
    std::vector<uint8_t> b = PeSubsystemSet(PeWithVersion(description), 2);
    b.resize((b.size() + 511) / 512 * 512, 0);
    StoreU32(&b[SECTION_AT + 16], uint32_t(b.size() - RSRC_AT));
    return b;
}

// A DLL (PE32+ when plus) whose export directory names it exportName;
// without a name it has no export directory.
inline std::vector<uint8_t> PeDll(const char* exportName, bool plus = false)
{
    std::vector<uint8_t> b = PeImage(plus);
    b[PE_TEST_HEADER + 23] |= 0x20;  // characteristics: a DLL
    if (!exportName) return b;
    const size_t directories = PE_TEST_OPTIONAL + (plus ? 112 : 96);
    const size_t section = directories + 16 * 8;
    b.resize(2 * PE_TEST_SIZE, 0);
    Put16(b, PE_TEST_HEADER + 6, 1);
    StoreU32(&b[directories], RSRC_RVA);  // the export directory, at the section's start
    StoreU32(&b[directories + 4], 40);
    memcpy(&b[section], ".edata", 6);
    StoreU32(&b[section + 8], PE_TEST_SIZE);
    StoreU32(&b[section + 12], RSRC_RVA);
    StoreU32(&b[section + 16], PE_TEST_SIZE);
    StoreU32(&b[section + 20], PE_TEST_SIZE);
    StoreU32(&b[PE_TEST_SIZE + 12], RSRC_RVA + 40);  // the name's address
    memcpy(&b[PE_TEST_SIZE + 40], exportName, strlen(exportName));
    return b;
}
