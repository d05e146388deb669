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

// Where a PE file's image ends as its headers describe it: the headers, the
// sections' raw data and any COFF symbol table. 0 when the headers cannot be
// read. Anything after it (a pack, a signature) was added to the image.
uint64_t StubImageEnd(const std::vector<uint8_t>& file);

// The installer file: stub, zero padding, pack, trailer. The padding makes
// the file a multiple of the certificate table's alignment, so that a signer
// puts the table right after the trailer, where the installer looks. The
// stub's header checksum is made anew for the whole file.
std::vector<uint8_t> InstallerAssemble(const std::vector<uint8_t>& stub, const std::vector<uint8_t>& pack);

// The offset of a PE file's header checksum, or 0 when its headers hold none.
size_t PeChecksumOffset(const std::vector<uint8_t>& file);

// The header checksum of the whole file as Windows computes it: its 16-bit
// little-endian words (the last byte of an odd length alone) summed with
// the carries folded back in, the field at `field` counted as zero, plus
// the file's length.
uint32_t PeChecksum(const std::vector<uint8_t>& file, size_t field);

// Why a PE file's header checksum is not the file's, or nothing when it is
// or the headers hold none. Analysers, and Windows for drivers, take a wrong
// one for a damaged or altered file.
std::string PeChecksumError(const std::vector<uint8_t>& file);

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

// Where the pack lies in a file.
struct PackPlace {
    size_t offset = 0;
    size_t size = 0;
    bool isInstaller = false;      // a PE stub with a trailer, not a bare pack
    size_t certificateSize = 0;    // of the signature's table after the trailer; 0 unsigned
};

// The pack inside a file: an installer (PE stub with a trailer, in front of
// a certificate table when signed, found as the installer finds it) or a
// bare pack. Sets error and returns false when the trailer does not fit the
// file or gives an empty pack.
bool PackLocate(const std::vector<uint8_t>& file, PackPlace& place, std::string& error);

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
