#include "packer/pe_version.h"

#include "pack/block_format.h"
#include "pack/file_end.h"

#include <algorithm>

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
constexpr const char STRINGS_KEY[] = "StringFileInfo";
constexpr size_t VERSION_NODE_HEADER_SIZE = 6;
constexpr size_t EXPORT_NAME_MAX = 260;

// The image and where its tables lie, once located.
struct PeImage {
    const std::vector<uint8_t>& bytes;
    PeHeaderFacts facts{};
    size_t sections = 0;  // file offset of the section table
    uint32_t sectionCount = 0;
    size_t directories = 0;  // file offset of the data directories
    uint32_t directoryCount = 0;  // as many as the optional header has room for
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

// Finds the file header's facts, the section table and the data
// directories. The signature's place is read from the DOS header, never
// assumed.
bool PeHeadersRead(PeImage& pe)
{
    if (!Fits(pe, 0, PE_HEADER_POINTER_OFFSET + 4) || pe.bytes[0] != 'M' || pe.bytes[1] != 'Z') return false;
    const uint32_t signature = U32(pe, PE_HEADER_POINTER_OFFSET);
    if (!Fits(pe, signature, PE_OPTIONAL_HEADER_OFFSET) || U32(pe, signature) != PE_SIGNATURE) return false;
    pe.facts.machine = U16(pe, signature + PE_MACHINE_OFFSET);
    pe.facts.characteristics = U16(pe, signature + PE_CHARACTERISTICS_OFFSET);
    pe.sectionCount = U16(pe, signature + PE_SECTION_COUNT_OFFSET);
    const uint16_t optionalSize = U16(pe, signature + PE_OPTIONAL_SIZE_OFFSET);
    const uint64_t optional = uint64_t(signature) + PE_OPTIONAL_HEADER_OFFSET;
    pe.sections = size_t(optional + optionalSize);
    if (!Fits(pe, optional, optionalSize) || !Fits(pe, pe.sections, uint64_t(pe.sectionCount) * PE_SECTION_HEADER_SIZE))
        return false;
    if (optionalSize < 2) return false;
    pe.facts.magic = U16(pe, optional);
    if (pe.facts.magic != PE32_MAGIC && pe.facts.magic != PE32_PLUS_MAGIC) return false;
    if (optionalSize >= PE_SUBSYSTEM_OFFSET + 2) pe.facts.subsystem = U16(pe, optional + PE_SUBSYSTEM_OFFSET);
    const size_t countAt =
        pe.facts.magic == PE32_MAGIC ? PE32_DIRECTORY_COUNT_OFFSET : PE32_PLUS_DIRECTORY_COUNT_OFFSET;
    if (optionalSize < countAt + 4) return true;
    pe.directories = size_t(optional + countAt + 4);
    const uint32_t room = uint32_t((optionalSize - countAt - 4) / PE_DIRECTORY_SIZE);
    pe.directoryCount = std::min(U32(pe, optional + countAt), room);
    return true;
}

// The address of data directory index; 0 when the image has none there.
uint32_t DirectoryRva(const PeImage& pe, uint32_t index)
{
    return index < pe.directoryCount ? U32(pe, pe.directories + index * PE_DIRECTORY_SIZE) : 0;
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

// The version resource's data: its file offset and size.
bool VersionInfoFind(PeImage& pe, size_t& info, uint32_t& infoSize)
{
    if (!PeHeadersRead(pe)) return false;
    pe.resourceRva = DirectoryRva(pe, PE_RESOURCE_DIRECTORY);
    if (pe.resourceRva == 0) return false;
    // Type, then name, then language: two subdirectories, then the data entry.
    uint32_t names, languages, data;
    if (!ResourceEntry(pe, 0, RESOURCE_TYPE_VERSION, names) || !(names & RESOURCE_SUBDIRECTORY)) return false;
    if (!ResourceEntry(pe, names & ~RESOURCE_SUBDIRECTORY, 0, languages) || !(languages & RESOURCE_SUBDIRECTORY))
        return false;
    if (!ResourceEntry(pe, languages & ~RESOURCE_SUBDIRECTORY, 0, data) || (data & RESOURCE_SUBDIRECTORY)) return false;
    size_t dataEntry;
    if (!RvaToOffset(pe, uint64_t(pe.resourceRva) + data, RESOURCE_DATA_ENTRY_SIZE, dataEntry)) return false;
    infoSize = U32(pe, dataEntry + 4);
    return RvaToOffset(pe, U32(pe, dataEntry), infoSize, info);
}

// One node of the version resource's tree: its length, the length of its
// value, its type (1: text, whose value length counts UTF-16 units), a
// UTF-16 key, then the value and the children, each on a 4-byte boundary
// from the resource's start.
struct VersionNode {
    size_t key;
    size_t value;
    size_t children;
    size_t end;
};

size_t Align4(size_t base, size_t at)
{
    return base + (at - base + 3) / 4 * 4;
}

bool VersionNodeRead(const PeImage& pe, size_t base, size_t at, size_t limit, VersionNode& node)
{
    if (at >= limit || limit - at < VERSION_NODE_HEADER_SIZE) return false;
    const size_t length = U16(pe, at);
    if (length < VERSION_NODE_HEADER_SIZE || length > limit - at) return false;
    node.end = at + length;
    node.key = at + VERSION_NODE_HEADER_SIZE;
    size_t pos = node.key;
    while (pos + 2 <= node.end && U16(pe, pos) != 0) pos += 2;
    if (pos + 2 > node.end) return false;
    node.value = std::min(Align4(base, pos + 2), node.end);
    const size_t valueLength = size_t(U16(pe, at + 2)) * (U16(pe, at + 4) == 1 ? 2 : 1);
    node.children = std::min(Align4(base, node.value + valueLength), node.end);
    return true;
}

bool KeyIs(const PeImage& pe, const VersionNode& node, const char* key)
{
    for (size_t i = 0;; ++i) {
        const size_t at = node.key + 2 * i;
        if (at + 2 > node.end || U16(pe, at) != uint8_t(key[i])) return false;
        if (key[i] == '\0') return true;
    }
}

// The child of parent whose key is key, from the first one.
bool VersionChild(const PeImage& pe, size_t base, const VersionNode& parent, const char* key, size_t& from,
                  VersionNode& child)
{
    for (size_t at = std::max(from, parent.children); VersionNodeRead(pe, base, at, parent.end, child);
         at = Align4(base, child.end)) {
        from = Align4(base, child.end);
        if (KeyIs(pe, child, key)) return true;
    }
    return false;
}

void VersionParts(uint32_t high, uint32_t low, uint16_t parts[4])
{
    parts[0] = uint16_t(high >> 16);
    parts[1] = uint16_t(high);
    parts[2] = uint16_t(low >> 16);
    parts[3] = uint16_t(low);
}

}  // namespace

bool PeHeaderFactsRead(const std::vector<uint8_t>& image, PeHeaderFacts& facts)
{
    PeImage pe{image};
    if (!PeHeadersRead(pe)) return false;
    facts = pe.facts;
    return true;
}

std::string PeExportName(const std::vector<uint8_t>& image)
{
    PeImage pe{image};
    if (!PeHeadersRead(pe)) return {};
    size_t directory, name;
    const uint32_t rva = DirectoryRva(pe, PE_EXPORT_DIRECTORY);
    if (rva == 0 || !RvaToOffset(pe, rva, PE_EXPORT_NAME_OFFSET + 4, directory)) return {};
    if (!RvaToOffset(pe, U32(pe, directory + PE_EXPORT_NAME_OFFSET), 1, name)) return {};
    std::string text;
    for (size_t at = name; Fits(pe, at, 1) && image[at] != 0; ++at) {
        if (image[at] < ' ' || image[at] > '~' || text.size() == EXPORT_NAME_MAX) return {};
        text += char(image[at]);
    }
    return text;
}

bool PeVersionRead(const std::vector<uint8_t>& image, PeVersion& version)
{
    PeImage pe{image};
    size_t info;
    uint32_t infoSize;
    if (!VersionInfoFind(pe, info, infoSize)) return false;
    if (infoSize < FIXED_INFO_OFFSET + FIXED_INFO_SIZE) return false;
    VersionNode root;
    if (!VersionNodeRead(pe, info, info, info + infoSize, root) || !KeyIs(pe, root, VERSION_KEY)) return false;
    if (U16(pe, info + 2) < FIXED_INFO_SIZE) return false;
    const size_t fixed = info + FIXED_INFO_OFFSET;
    if (U32(pe, fixed) != FIXED_INFO_SIGNATURE) return false;
    VersionParts(U32(pe, fixed + 8), U32(pe, fixed + 12), version.file);
    VersionParts(U32(pe, fixed + 16), U32(pe, fixed + 20), version.product);
    return true;
}

bool PeVersionString(const std::vector<uint8_t>& image, const std::string& key, std::string& value)
{
    PeImage pe{image};
    size_t info;
    uint32_t infoSize;
    VersionNode root, strings, table, entry;
    if (!VersionInfoFind(pe, info, infoSize)) return false;
    if (!VersionNodeRead(pe, info, info, info + infoSize, root) || !KeyIs(pe, root, VERSION_KEY)) return false;
    for (size_t nextStrings = 0; VersionChild(pe, info, root, STRINGS_KEY, nextStrings, strings);) {
        for (size_t nextTable = 0; VersionNodeRead(pe, info, std::max(nextTable, strings.children), strings.end, table);
             nextTable = Align4(info, table.end)) {
            size_t nextEntry = 0;
            if (!VersionChild(pe, info, table, key.c_str(), nextEntry, entry)) continue;
            value.clear();
            for (size_t at = entry.value; at + 2 <= entry.end && U16(pe, at) != 0; at += 2)
                value += U16(pe, at) < 0x80 ? char(U16(pe, at)) : '?';
            return true;
        }
    }
    return false;
}

std::string PeVersionText(const uint16_t parts[4])
{
    return std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." + std::to_string(parts[2]) + "." +
           std::to_string(parts[3]);
}
