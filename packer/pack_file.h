// Packs and installers as the packer writes and checks them: entries, the
// trailer, the stub test, and the installer's four targets on the host.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

#include "packer/match_finder.h"

// A target name with the host's folder separator.
std::string TargetHostPath(const char* target);

// One entry as it goes into a pack: the 8-byte header and the stored bytes,
// a block, or the input as it is when the block would not be smaller.
std::vector<uint8_t> EntryEncode(const uint8_t* data, size_t size, int level, const ProgressFn& progress = {});

// True for an MZ executable whose header points at a "PE\0\0" signature.
bool IsPeImage(const std::vector<uint8_t>& file);

// The installer file: stub, pack, trailer.
std::vector<uint8_t> InstallerAssemble(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& pack);

struct EntryView {
    uint32_t unpackedSize;
    uint32_t storedSize;
    size_t offset;  // of the stored bytes in the pack
};

enum EntryKind : uint8_t { ENTRY_STORED, ENTRY_BLOCK };

// A pack split into its entries, or the reason it cannot be.
struct PackLayout {
    std::vector<EntryView> entries;
    std::string error;  // empty when every entry is complete
};

PackLayout PackParse(const uint8_t* pack, size_t size);

// The pack inside a file: an installer (PE stub with a trailer) or a bare
// pack. Sets error and returns false when the trailer does not fit the file.
bool PackLocate(const std::vector<uint8_t>& file, size_t& packOffset, size_t& packSize, bool& isInstaller,
                std::string& error);

EntryKind EntryKindOf(const EntryView& e);

enum ChecksumState : uint8_t { CHECKSUM_NOT_APPLICABLE, CHECKSUM_PASSED, CHECKSUM_ABSENT, CHECKSUM_FAILED };

// The unpacked bytes of one entry; on failure, error says why and the
// checksum state is CHECKSUM_FAILED.
struct DecodedEntry {
    std::vector<uint8_t> bytes;
    ChecksumState checksum;
    std::string error;
};

DecodedEntry EntryDecode(const uint8_t* pack, const EntryView& e);

// Unpacked bytes of one block on its own (a file of `qzpack compress`).
DecodedEntry BlockDecode(const uint8_t* block, size_t size);
