#include "packer/pack_file.h"

#include <stdio.h>

#include <algorithm>

#include "pack/block_decoder.h"
#include "pack/block_format.h"
#include "pack/file_end.h"
#include "pack/install_layout.h"
#include "packer/block_encoder.h"

std::string TargetHostPath(const char* target)
{
    std::string path = target;
    for (char& c : path)
        if (c == '\\') c = '/';
    return path;
}

namespace {

void AppendU32(std::vector<uint8_t>& out, uint32_t v)
{
    const size_t at = out.size();
    out.resize(at + 4);
    StoreU32(&out[at], v);
}

}  // namespace

std::vector<uint8_t> EntryEncode(const uint8_t* data, size_t size, int level, const ProgressFn& progress)
{
    std::vector<uint8_t> entry;
    entry.reserve(PACK_ENTRY_HEADER_SIZE + size);
    AppendU32(entry, uint32_t(size));
    std::vector<uint8_t> block;
    if (size > 0) block = BlockCompress(data, size, level, progress);
    // Stored size equal to the unpacked size means "as is", so a block of
    // that length could not be told apart: it is never written.
    if (size == 0 || block.size() >= size) {
        AppendU32(entry, uint32_t(size));
        entry.insert(entry.end(), data, data + size);
    } else {
        AppendU32(entry, uint32_t(block.size()));
        entry.insert(entry.end(), block.begin(), block.end());
    }
    return entry;
}

bool IsPeImage(const std::vector<uint8_t>& file)
{
    if (file.size() < PE_HEADER_POINTER_OFFSET + 4) return false;
    if (file[0] != 'M' || file[1] != 'Z') return false;
    const uint32_t pe = LoadU32(&file[PE_HEADER_POINTER_OFFSET]);
    if (pe > file.size() || file.size() - pe < 4) return false;
    return LoadU32(&file[pe]) == PE_SIGNATURE;
}

uint64_t StubImageEnd(const std::vector<uint8_t>& file)
{
    if (!IsPeImage(file)) return 0;
    const size_t header = LoadU32(&file[PE_HEADER_POINTER_OFFSET]);
    if (file.size() - header < PE_OPTIONAL_HEADER_OFFSET) return 0;
    auto u16 = [&](size_t at) { return uint32_t(file[at]) | uint32_t(file[at + 1]) << 8; };
    const size_t optional = header + PE_OPTIONAL_HEADER_OFFSET;
    const uint32_t optionalSize = u16(header + PE_OPTIONAL_SIZE_OFFSET);
    const uint64_t sections = uint64_t(optional) + optionalSize;
    const uint32_t sectionCount = u16(header + PE_SECTION_COUNT_OFFSET);
    uint64_t end = sections + uint64_t(sectionCount) * PE_SECTION_HEADER_SIZE;
    if (end > file.size()) return 0;
    if (optionalSize >= PE_HEADERS_SIZE_OFFSET + 4)
        end = std::max<uint64_t>(end, LoadU32(&file[optional + PE_HEADERS_SIZE_OFFSET]));
    for (uint32_t i = 0; i < sectionCount; ++i) {
        const uint8_t* section = &file[sections + i * PE_SECTION_HEADER_SIZE];
        const uint32_t rawSize = LoadU32(section + PE_SECTION_RAW_SIZE_OFFSET);
        if (rawSize != 0)
            end = std::max<uint64_t>(end, uint64_t(LoadU32(section + PE_SECTION_RAW_POINTER_OFFSET)) + rawSize);
    }
    // An unstripped image keeps its symbols, then the string table whose
    // first u32 is its own size, after the sections.
    const uint32_t symbols = LoadU32(&file[header + PE_SYMBOL_TABLE_OFFSET]);
    if (symbols != 0) {
        const uint64_t strings = symbols + uint64_t(LoadU32(&file[header + PE_SYMBOL_COUNT_OFFSET])) * PE_COFF_SYMBOL_SIZE;
        end = std::max(end, strings);
        if (strings + 4 <= file.size()) end = std::max(end, strings + LoadU32(&file[strings]));
    }
    return end;
}

std::vector<uint8_t> InstallerAssemble(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& pack)
{
    const size_t unpadded = stub.size() + pack.size() + PACK_TRAILER_SIZE;
    const size_t padding = (PE_CERTIFICATE_ALIGNMENT - unpadded % PE_CERTIFICATE_ALIGNMENT) % PE_CERTIFICATE_ALIGNMENT;
    std::vector<uint8_t> out;
    out.reserve(unpadded + padding);
    out.insert(out.end(), stub.begin(), stub.end());
    out.insert(out.end(), padding, 0);
    out.insert(out.end(), pack.begin(), pack.end());
    AppendU32(out, uint32_t(pack.size()));
    if (const size_t field = PeChecksumOffset(out)) StoreU32(&out[field], PeChecksum(out, field));
    return out;
}

size_t PeChecksumOffset(const std::vector<uint8_t>& file)
{
    if (!IsPeImage(file)) return 0;
    const size_t header = LoadU32(&file[PE_HEADER_POINTER_OFFSET]);
    if (file.size() - header < PE_OPTIONAL_HEADER_OFFSET) return 0;
    const uint32_t optionalSize = uint32_t(file[header + PE_OPTIONAL_SIZE_OFFSET]) |
                                  uint32_t(file[header + PE_OPTIONAL_SIZE_OFFSET + 1]) << 8;
    const size_t field = header + PE_OPTIONAL_HEADER_OFFSET + PE_CHECKSUM_OFFSET;
    if (optionalSize < PE_CHECKSUM_OFFSET + 4 || file.size() - header < field - header + 4) return 0;
    return field;
}

uint32_t PeChecksum(const std::vector<uint8_t>& file, size_t field)
{
    // Wide enough for the words of any file the installer can read, so the
    // carries are folded once at the end, which gives the same 16 bits.
    uint64_t sum = 0;
    auto byte = [&](size_t at) -> uint32_t { return at >= file.size() || at - field < 4 ? 0 : file[at]; };
    for (size_t at = 0; at < file.size(); at += 2) sum += byte(at) | byte(at + 1) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint32_t(sum + file.size());
}

std::string PeChecksumError(const std::vector<uint8_t>& file)
{
    const size_t field = PeChecksumOffset(file);
    if (field == 0) return {};
    const uint32_t stored = LoadU32(&file[field]), computed = PeChecksum(file, field);
    if (stored == computed) return {};
    char text[160];
    snprintf(text, sizeof text, "its header checksum is 0x%08X, but the file's is 0x%08X: changed after it was built, "
             "or built by an older qzpack", stored, computed);
    return text;
}

PackLayout PackParse(const uint8_t* pack, size_t size)
{
    PackLayout layout;
    size_t pos = 0;
    while (pos < size) {
        const size_t index = layout.entries.size();
        if (size - pos < PACK_ENTRY_HEADER_SIZE) {
            layout.error = "entry " + std::to_string(index) + " has an incomplete header (" +
                           std::to_string(size - pos) + " of 8 bytes)";
            return layout;
        }
        const EntryView e{LoadU32(pack + pos), LoadU32(pack + pos + 4), pos + PACK_ENTRY_HEADER_SIZE};
        if (size - e.offset < e.storedSize) {
            layout.error = "entry " + std::to_string(index) + " is truncated (" + std::to_string(size - e.offset) +
                           " of " + std::to_string(e.storedSize) + " stored bytes)";
            return layout;
        }
        layout.entries.push_back(e);
        pos = e.offset + e.storedSize;
    }
    return layout;
}

bool PackLocate(const std::vector<uint8_t>& file, PackPlace& place, std::string& error)
{
    place = PackPlace();
    place.isInstaller = IsPeImage(file);
    if (!place.isInstaller) {
        place.size = file.size();
        return true;
    }
    if (file.size() > UINT32_MAX) {
        error = "larger than the installer can read";
        return false;
    }
    const size_t end = PackFileEnd(file.data(), uint32_t(file.size()), uint32_t(file.size()));
    place.certificateSize = file.size() - end;
    if (end < PACK_TRAILER_SIZE) {
        error = "no room for a trailer";
        return false;
    }
    const size_t room = end - PACK_TRAILER_SIZE;
    const uint32_t length = LoadU32(&file[room]);
    // A cut-short download ends inside its pack, so its last four bytes
    // are pack data: a length that does not fit.
    if (length > INSTALL_SIZE_MAX || length > room) {
        error = "the file ends before its pack: is it a complete download? (its last 4 bytes give a pack of " +
                std::to_string(length) + " bytes, but only " + std::to_string(room) + " bytes precede them)";
        return false;
    }
    if (length == 0) {
        error = "carries no pack (its trailer gives 0 bytes)";
        return false;
    }
    place.offset = room - length;
    place.size = length;
    return true;
}

EntryKind EntryKindOf(const EntryView& e)
{
    return e.storedSize == e.unpackedSize ? ENTRY_STORED : ENTRY_BLOCK;
}

DecodedEntry BlockDecode(const uint8_t* block, size_t size)
{
    DecodedEntry out{{}, CHECKSUM_FAILED, {}};
    if (size < BLOCK_HEADER_SIZE || block[0] != BLOCK_MAGIC_0 || block[1] != BLOCK_MAGIC_1) {
        out.error = "not a block (no \"QZ\" header)";
        return out;
    }
    if (size > UINT32_MAX) {
        out.error = "block too large";
        return out;
    }
    const uint32_t unpacked = LoadU32(block + BLOCK_UNPACKED_SIZE_OFFSET);
    if (unpacked > INSTALL_SIZE_MAX) {
        out.error = "unpacked size " + std::to_string(unpacked) + " is too large";
        return out;
    }
    out.bytes.resize(unpacked);
    // An empty vector may have no storage, and no destination fails the block.
    uint8_t none = 0;
    if (!BlockSound(block, uint32_t(size), unpacked ? out.bytes.data() : &none, unpacked)) {
        out.bytes.clear();
        out.error = "block does not decode or fails its checksum";
        return out;
    }
    out.checksum = LoadU32(block + BLOCK_CHECKSUM_OFFSET) != 0 ? CHECKSUM_PASSED : CHECKSUM_ABSENT;
    return out;
}

DecodedEntry EntryDecode(const uint8_t* pack, const EntryView& e)
{
    const uint8_t* stored = pack + e.offset;
    if (EntryKindOf(e) == ENTRY_STORED) return {std::vector<uint8_t>(stored, stored + e.storedSize), CHECKSUM_NOT_APPLICABLE, {}};
    if (e.storedSize >= BLOCK_HEADER_SIZE && LoadU32(stored + BLOCK_UNPACKED_SIZE_OFFSET) != e.unpackedSize &&
        stored[0] == BLOCK_MAGIC_0 && stored[1] == BLOCK_MAGIC_1)
        return {{}, CHECKSUM_FAILED, "block unpacks to a size other than the entry's"};
    return BlockDecode(stored, e.storedSize);
}
