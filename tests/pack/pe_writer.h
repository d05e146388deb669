// Hand-made PE32 and PE32+ files for tests of how an installer's pack is found: the
// headers written field by field from the PE format, not from our readers,
// and a signature's certificate table appended as a signer appends it.
#pragma once

#include <stdint.h>

#include <vector>

#include "pack/block_format.h"

// Offsets in the file made by PeImage.
constexpr uint32_t PE_TEST_HEADER = 0x40;                   // "PE\0\0"
constexpr uint32_t PE_TEST_OPTIONAL = PE_TEST_HEADER + 24;  // after the 20-byte file header
constexpr uint32_t PE_TEST_SECURITY_ENTRY = PE_TEST_OPTIONAL + 96 + 4 * 8;
constexpr uint32_t PE_TEST_PLUS_SECURITY_ENTRY = PE_TEST_OPTIONAL + 112 + 4 * 8;
constexpr uint32_t PE_TEST_SIZE = 0x200;

// A PE32 image (PE32+ when plus) with no sections: DOS header, signature,
// file header, a full optional header with 16 data directories, all of it
// 512 bytes.
inline std::vector<uint8_t> PeImage(bool plus = false)
{
    std::vector<uint8_t> pe(PE_TEST_SIZE, 0);
    pe[0] = 'M';
    pe[1] = 'Z';
    StoreU32(&pe[0x3C], PE_TEST_HEADER);
    pe[PE_TEST_HEADER] = 'P';
    pe[PE_TEST_HEADER + 1] = 'E';
    pe[PE_TEST_HEADER + 4] = plus ? 0x64 : 0x4C;  // machine: x86-64 or i386
    pe[PE_TEST_HEADER + 5] = plus ? 0x86 : 0x01;
    pe[PE_TEST_HEADER + 20] = plus ? 0xF0 : 0xE0;  // size of the optional header: 112 or 96, + 16 directories
    pe[PE_TEST_OPTIONAL] = 0x0B;                   // magic: PE32 (0x10B) or PE32+ (0x20B)
    pe[PE_TEST_OPTIONAL + 1] = plus ? 0x02 : 0x01;
    StoreU32(&pe[PE_TEST_OPTIONAL + 60], PE_TEST_SIZE);      // size of the headers
    StoreU32(&pe[PE_TEST_OPTIONAL + (plus ? 108 : 92)], 16);  // number of data directories
    return pe;
}

// Sets the security directory: the certificate table's file offset and size.
inline void PeSecurityEntrySet(std::vector<uint8_t>& file, uint32_t offset, uint32_t size)
{
    const uint32_t entry = file[PE_TEST_OPTIONAL + 1] == 0x02 ? PE_TEST_PLUS_SECURITY_ENTRY : PE_TEST_SECURITY_ENTRY;
    StoreU32(&file[entry], offset);
    StoreU32(&file[entry + 4], size);
}

// Signs as a signer does: zeros up to an 8-byte boundary, then a certificate
// table of tableSize bytes (not a real one: nothing here checks it), and the
// security directory pointing at it.
inline std::vector<uint8_t> PeSigned(std::vector<uint8_t> file, uint32_t tableSize)
{
    file.resize((file.size() + 7) / 8 * 8, 0);
    const uint32_t offset = uint32_t(file.size());
    for (uint32_t i = 0; i < tableSize; ++i) file.push_back(uint8_t(0xC0 + i % 7));
    PeSecurityEntrySet(file, offset, tableSize);
    return file;
}
