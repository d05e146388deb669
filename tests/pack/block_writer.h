// Test-side block and pack assembly: a bit writer (most significant bit
// first into 32-bit little-endian words), one helper per code and one per
// pack entry, so that tests build every block and pack by hand, independent
// of any encoder.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/block_format.h"

struct BitWriter {
    std::vector<uint32_t> words;
    uint32_t used = 32;  // bits filled in words.back()
};

inline void PutBits(BitWriter& w, uint32_t value, uint32_t count)
{
    for (uint32_t i = count; i-- > 0;) {
        if (w.used == 32) {
            w.words.push_back(0);
            w.used = 0;
        }
        w.words.back() |= (value >> i & 1) << (31 - w.used);
        ++w.used;
    }
}

// value >= 2: the bits below the leading 1, each followed by a continuation
// bit. Wider than the decoder's numbers, so tests can write ones too long.
inline void PutGamma(BitWriter& w, uint64_t value)
{
    uint32_t top = 63;
    while ((value >> top) == 0) {
        --top;
    }
    for (uint32_t i = top; i-- > 0;) {
        PutBits(w, uint32_t(value >> i & 1), 1);
        PutBits(w, i != 0, 1);
    }
}

inline void PutLiteralFormat(BitWriter& w, uint32_t width, uint32_t base)
{
    PutBits(w, 0b001, 3);
    PutBits(w, 0, 4);
    PutBits(w, 0, 1);
    PutBits(w, width - 7, 1);
    if (width == 7) {
        PutBits(w, base, 8);
    }
}

inline void PutLiteral(BitWriter& w, uint32_t width, uint32_t value)
{
    PutBits(w, 1, 1);
    PutBits(w, value, width);
}

inline void PutRepeat(BitWriter& w, uint64_t length)
{
    PutBits(w, 0b01, 2);
    PutGamma(w, 2);
    PutGamma(w, length);
}

// codedLength is the length before the offset's bonus.
inline void PutMatch(BitWriter& w, uint32_t lowWidth, uint32_t offset, uint32_t codedLength)
{
    PutBits(w, 0b01, 2);
    PutGamma(w, (offset >> lowWidth) + 3);
    PutBits(w, offset & ((1u << lowWidth) - 1), lowWidth);
    PutGamma(w, codedLength);
}

inline void PutShortMatch(BitWriter& w, uint32_t offset, uint32_t length)
{
    PutBits(w, 0b000, 3);
    PutBits(w, offset, 7);
    PutBits(w, length - 2, 2);
}

inline void PutNearByte(BitWriter& w, uint32_t offset)
{
    PutBits(w, 0b001, 3);
    PutBits(w, offset + 1, 4);
}

inline void PutZeroByte(BitWriter& w)
{
    PutBits(w, 0b001, 3);
    PutBits(w, 1, 4);
}

// bytes.size() is a whole number of runs.
inline void PutRawRuns(BitWriter& w, const std::vector<uint8_t>& bytes)
{
    PutBits(w, 0b001, 3);
    PutBits(w, 0, 4);
    PutBits(w, 1, 1);
    for (size_t i = 0; i < bytes.size(); ++i) {
        PutBits(w, bytes[i], 8);
        if ((i + 1) % BLOCK_RAW_RUN_SIZE == 0) {
            PutBits(w, i + 1 != bytes.size(), 1);
        }
    }
}

// fieldBits (4, 5 or 6) is the width field's own size.
inline void PutOffsetWidth(BitWriter& w, uint32_t fieldBits, uint32_t lowWidth)
{
    PutBits(w, 0b000, 3);
    PutBits(w, 0, 7);
    PutBits(w, fieldBits - 3, 2);
    PutBits(w, lowWidth, fieldBits);
}

inline void PutEnd(BitWriter& w)
{
    PutBits(w, 0, 12);
}

// The 18-byte example block: "aaaa" with its checksum, made of a
// literal-format code, a literal, a short match and the end code.
inline const std::vector<uint8_t> EXAMPLE_BLOCK = {0x51, 0x5A, 0x04, 0x00, 0x00, 0x00, 0xA2, 0xA3, 0xA3,
                                                   0xA3, 0x14, 0x40, 0xD8, 0x20, 0x00, 0x00, 0x00, 0x00};

inline std::vector<uint8_t> BytesOf(const std::string& text)
{
    return std::vector<uint8_t>(text.begin(), text.end());
}

// An entry as its header announces it, whatever its stored bytes really are.
inline void AddEntry(std::vector<uint8_t>& pack, uint32_t unpacked, uint32_t stored, const std::vector<uint8_t>& bytes)
{
    uint8_t header[PACK_ENTRY_HEADER_SIZE];
    StoreU32(header + PACK_ENTRY_UNPACKED_SIZE_OFFSET, unpacked);
    StoreU32(header + PACK_ENTRY_STORED_SIZE_OFFSET, stored);
    pack.insert(pack.end(), header, header + PACK_ENTRY_HEADER_SIZE);
    pack.insert(pack.end(), bytes.begin(), bytes.end());
}

inline void AddStored(std::vector<uint8_t>& pack, const std::vector<uint8_t>& bytes)
{
    AddEntry(pack, uint32_t(bytes.size()), uint32_t(bytes.size()), bytes);
}

inline void AddBlock(std::vector<uint8_t>& pack, uint32_t unpacked, const std::vector<uint8_t>& block)
{
    AddEntry(pack, unpacked, uint32_t(block.size()), block);
}

inline std::vector<uint8_t> MakeBlock(const BitWriter& w, uint32_t unpackedSize, uint32_t checksum)
{
    std::vector<uint8_t> block(BLOCK_HEADER_SIZE + 4 * w.words.size());
    block[0] = BLOCK_MAGIC_0;
    block[1] = BLOCK_MAGIC_1;
    StoreU32(&block[BLOCK_UNPACKED_SIZE_OFFSET], unpackedSize);
    StoreU32(&block[BLOCK_CHECKSUM_OFFSET], checksum);
    for (size_t i = 0; i < w.words.size(); ++i) {
        StoreU32(&block[BLOCK_HEADER_SIZE + 4 * i], w.words[i]);
    }
    return block;
}

// Blocks that say they hold no bytes, each with whether it is sound: the one
// table behind both readers of empty entries, the installer's and the
// packer's.
struct EmptyBlockCase {
    const char* name;
    std::vector<uint8_t> block;
    bool sound;
};

inline std::vector<EmptyBlockCase> EmptyBlockCases()
{
    BitWriter end;
    PutEnd(end);
    // What BlockCompress writes for no bytes.
    BitWriter format;
    PutLiteralFormat(format, 8, 0);
    PutEnd(format);
    BitWriter writes;
    PutZeroByte(writes);
    PutEnd(writes);
    std::vector<uint8_t> badMagic = MakeBlock(end, 0, 0);
    badMagic[1] ^= 0x20;
    return {
        {"end code only", MakeBlock(end, 0, 0), true},
        {"a literal format, then the end code", MakeBlock(format, 0, 0), true},
        {"a checksum other than that of no bytes", MakeBlock(end, 0, 0x1234), false},
        {"a code that writes before the end", MakeBlock(writes, 0, 0), false},
        {"no stream behind the header", MakeBlock(BitWriter{}, 0, 0), false},
        {"not a block", badMagic, false},
    };
}
