#include "packer/pe_version.h"

#include "pack/block_format.h"
#include "pack/file_end.h"

namespace {

constexpr uint32_t RESOURCE_TYPE_VERSION = 16;
constexpr uint32_t RESOURCE_SUBDIRECTORY = 0x80000000u;
constexpr size_t RESOURCE_DIRECTORY_SIZE = 16;
constexpr size_t RESOURCE_ENTRY_SIZE = 8;
constexpr size_t RESOURCE_DATA_ENTRY_SIZE = 16;
constexpr uint32_t FIXED_INFO_SIGNATURE = 0xFEEF04BDu;
constexpr size_t FIXED_INFO_SIZE = 52;
// wLength, wValueLength, wType, then the key L"VS_VERSION_INFO" with its
// terminator, padded to a 4-byte boundary: the fixed part starts at 40.
constexpr size_t FIXED_INFO_OFFSET = 40;
constexpr const char VERSION_KEY[] = "VS_VERSION_INFO";

// The image and where its resource section lies, once located.
struct PeImage {
    const std::vector<uint8_t>& bytes;
    size_t sections = 0;  // file offset of the section table
    uint32_t sectionCount = 0;
    uint32_t resourceRva = 0;
};

// Every read of the untrusted file goes through this check.
bool Fits(const PeImage& pe, uint64_t offset, uint64_t length)
{
    return offset <= pe.bytes.size() && length <= pe.bytes.size() - offset;
}

uint16_t U16(const PeImage& pe, size_t offset)
{
    return uint16_t(pe.bytes[offset] | pe.bytes[offset + 1] << 8);
}

uint32_t U32(const PeImage& pe, size_t offset)
{
    return LoadU32(&pe.bytes[offset]);
}

// File offset of length bytes at a relative virtual address, when they lie
// in one section's data in the file.
bool RvaToOffset(const PeImage& pe, uint64_t rva, uint64_t length, size_t& offset)
{
    for (uint32_t i = 0; i < pe.sectionCount; ++i) {
        const size_t header = pe.sections + i * PE_SECTION_HEADER_SIZE;
        const uint32_t address = U32(pe, header + PE_SECTION_ADDRESS_OFFSET);
        const uint32_t rawSize = U32(pe, header + PE_SECTION_RAW_SIZE_OFFSET);
        const uint32_t rawOffset = U32(pe, header + PE_SECTION_RAW_POINTER_OFFSET);
        if (rva < address || rva - address > rawSize || length > rawSize - (rva - address)) continue;
        const uint64_t at = uint64_t(rawOffset) + (rva - address);
        if (!Fits(pe, at, length)) return false;
        offset = size_t(at);
        return true;
    }
    return false;
}

// Finds the section table and the resource directory's address.
bool PeHeadersRead(PeImage& pe)
{
    if (!Fits(pe, 0, PE_HEADER_POINTER_OFFSET + 4) || pe.bytes[0] != 'M' || pe.bytes[1] != 'Z') return false;
    const uint32_t signature = U32(pe, PE_HEADER_POINTER_OFFSET);
    if (!Fits(pe, signature, PE_OPTIONAL_HEADER_OFFSET) || U32(pe, signature) != PE_SIGNATURE) return false;
    pe.sectionCount = U16(pe, signature + PE_SECTION_COUNT_OFFSET);
    const uint16_t optionalSize = U16(pe, signature + PE_OPTIONAL_SIZE_OFFSET);
    const uint64_t optional = uint64_t(signature) + PE_OPTIONAL_HEADER_OFFSET;
    pe.sections = size_t(optional + optionalSize);
    if (!Fits(pe, optional, optionalSize) || !Fits(pe, pe.sections, uint64_t(pe.sectionCount) * PE_SECTION_HEADER_SIZE))
        return false;
    if (optionalSize < 2) return false;
    const uint16_t magic = U16(pe, optional);
    if (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) return false;
    const size_t countAt = magic == PE32_MAGIC ? PE32_DIRECTORY_COUNT_OFFSET : PE32_PLUS_DIRECTORY_COUNT_OFFSET;
    const size_t directories = countAt + 4;
    if (optionalSize < directories + (PE_RESOURCE_DIRECTORY + 1) * PE_DIRECTORY_SIZE) return false;
    if (U32(pe, optional + countAt) <= PE_RESOURCE_DIRECTORY) return false;
    pe.resourceRva = U32(pe, optional + directories + PE_RESOURCE_DIRECTORY * PE_DIRECTORY_SIZE);
    return pe.resourceRva != 0;
}

// One step down the resource tree: the entry whose id is wanted (any entry
// when wanted is 0), as an offset from the start of the resource section.
bool ResourceEntry(const PeImage& pe, uint32_t directory, uint32_t wanted, uint32_t& target)
{
    size_t at;
    if (!RvaToOffset(pe, uint64_t(pe.resourceRva) + directory, RESOURCE_DIRECTORY_SIZE, at)) return false;
    const uint32_t named = U16(pe, at + 12);
    const uint32_t count = named + U16(pe, at + 14);
    size_t entries;
    if (!RvaToOffset(pe, uint64_t(pe.resourceRva) + directory + RESOURCE_DIRECTORY_SIZE,
                     uint64_t(count) * RESOURCE_ENTRY_SIZE, entries))
        return false;
    // Named entries come first; an id is only looked for among the others.
    for (uint32_t i = wanted ? named : 0; i < count; ++i) {
        const size_t entry = entries + i * RESOURCE_ENTRY_SIZE;
        if (wanted && U32(pe, entry) != wanted) continue;
        target = U32(pe, entry + 4);
        return true;
    }
    return false;
}

bool IsVersionKey(const PeImage& pe, size_t key)
{
    for (size_t i = 0; i < sizeof VERSION_KEY; ++i)
        if (U16(pe, key + 2 * i) != uint8_t(VERSION_KEY[i])) return false;
    return true;
}

void VersionParts(uint32_t high, uint32_t low, uint16_t parts[4])
{
    parts[0] = uint16_t(high >> 16);
    parts[1] = uint16_t(high);
    parts[2] = uint16_t(low >> 16);
    parts[3] = uint16_t(low);
}

}  // namespace

bool PeVersionRead(const std::vector<uint8_t>& image, PeVersion& version)
{
    PeImage pe{image};
    if (!PeHeadersRead(pe)) return false;
    // Type, then name, then language: two subdirectories, then the data entry.
    uint32_t names, languages, data;
    if (!ResourceEntry(pe, 0, RESOURCE_TYPE_VERSION, names) || !(names & RESOURCE_SUBDIRECTORY)) return false;
    if (!ResourceEntry(pe, names & ~RESOURCE_SUBDIRECTORY, 0, languages) || !(languages & RESOURCE_SUBDIRECTORY))
        return false;
    if (!ResourceEntry(pe, languages & ~RESOURCE_SUBDIRECTORY, 0, data) || (data & RESOURCE_SUBDIRECTORY)) return false;
    size_t dataEntry, info;
    if (!RvaToOffset(pe, uint64_t(pe.resourceRva) + data, RESOURCE_DATA_ENTRY_SIZE, dataEntry)) return false;
    const uint32_t infoRva = U32(pe, dataEntry);
    const uint32_t infoSize = U32(pe, dataEntry + 4);
    if (infoSize < FIXED_INFO_OFFSET + FIXED_INFO_SIZE || !RvaToOffset(pe, infoRva, infoSize, info)) return false;
    if (U16(pe, info + 2) < FIXED_INFO_SIZE || !IsVersionKey(pe, info + 6)) return false;
    const size_t fixed = info + FIXED_INFO_OFFSET;
    if (U32(pe, fixed) != FIXED_INFO_SIGNATURE) return false;
    VersionParts(U32(pe, fixed + 8), U32(pe, fixed + 12), version.file);
    VersionParts(U32(pe, fixed + 16), U32(pe, fixed + 20), version.product);
    return true;
}

std::string PeVersionText(const uint16_t parts[4])
{
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}
