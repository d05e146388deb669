// Where an installer file ends for its pack. A signer appends a certificate
// table after everything else, so the trailer is no longer the file's last
// four bytes: it is the four bytes before that table. The installer and the
// packer both find the pack through this one rule.
//
//   +---------------------------+  offset 0
//   | executable image          |  its headers hold the security directory:
//   | ...                       |  file offset and size of the table
//   +---------------------------+
//   | pack, L bytes; L: u32     |  as in pack/block_format.h, ending at E
//   +---------------------------+  E = PackFileEnd(...)
//   | certificate table         |  only in a signed file; ends at S
//   +---------------------------+  S = file size
//
// Portable: no platform calls, so it is tested natively on hand-made files.
// The PE header fields below serve the installer, qzpack and
// cmake/compact-pe-headers.pl alike; the script reads each "constexpr
// uint32_t PE..." line, so every value stays a plain number.
#pragma once

#include <stdint.h>

// The installer reads this many bytes from the file's start and looks for
// the headers there; the packer looks at no more, so both agree on any file.
constexpr uint32_t PE_HEADS_READ_SIZE = 512;

constexpr uint32_t PE_DOS_HEADER_SIZE = 64;
constexpr uint32_t PE_HEADER_POINTER_OFFSET = 0x3C;  // in the DOS header: where the signature is
// The signature, then the file header, whose fields count from the signature.
constexpr uint32_t PE_SIGNATURE = 0x00004550;  // "PE\0\0" read as a little-endian u32
constexpr uint32_t PE_MACHINE_OFFSET = 4;  // u16, the processor the image is for:
constexpr uint32_t PE_MACHINE_I386 = 0x14C;
constexpr uint32_t PE_MACHINE_AMD64 = 0x8664;
constexpr uint32_t PE_MACHINE_ARM = 0x1C4;
constexpr uint32_t PE_MACHINE_ARM64 = 0xAA64;
constexpr uint32_t PE_SECTION_COUNT_OFFSET = 6;
constexpr uint32_t PE_TIMESTAMP_OFFSET = 8;  // seconds since 1970, UTC
constexpr uint32_t PE_SYMBOL_TABLE_OFFSET = 12;
constexpr uint32_t PE_SYMBOL_COUNT_OFFSET = 16;
constexpr uint32_t PE_OPTIONAL_SIZE_OFFSET = 20;
constexpr uint32_t PE_OPTIONAL_HEADER_OFFSET = 24;
constexpr uint32_t PE_CHARACTERISTICS_OFFSET = 22;  // u16 flags, of which:
constexpr uint32_t PE_CHARACTERISTIC_DLL = 0x2000;
constexpr uint32_t PE_COFF_SYMBOL_SIZE = 18;
// The optional header's two forms differ before the data directories, which
// follow their count: PE32 (32-bit images, the installer) and PE32+ (64-bit
// images, which a maker may hand the packer as a stub).
constexpr uint32_t PE32_MAGIC = 0x10B;
constexpr uint32_t PE32_PLUS_MAGIC = 0x20B;
constexpr uint32_t PE_FILE_ALIGNMENT_OFFSET = 36;
constexpr uint32_t PE_HEADERS_SIZE_OFFSET = 60;
constexpr uint32_t PE_CHECKSUM_OFFSET = 64;
constexpr uint32_t PE_SUBSYSTEM_OFFSET = 68;  // u16, in both forms:
constexpr uint32_t PE_SUBSYSTEM_GUI = 2;
constexpr uint32_t PE_SUBSYSTEM_CONSOLE = 3;
constexpr uint32_t PE32_DIRECTORY_COUNT_OFFSET = 92;
constexpr uint32_t PE32_PLUS_DIRECTORY_COUNT_OFFSET = 108;
constexpr uint32_t PE_DIRECTORY_SIZE = 8;  // an address and a size; by index:
constexpr uint32_t PE_EXPORT_DIRECTORY = 0;
constexpr uint32_t PE_IMPORT_DIRECTORY = 1;
constexpr uint32_t PE_RESOURCE_DIRECTORY = 2;
constexpr uint32_t PE_SECURITY_DIRECTORY = 4;
constexpr uint32_t PE_RELOCATION_DIRECTORY = 5;
constexpr uint32_t PE_DEBUG_DIRECTORY = 6;
constexpr uint32_t PE_IMPORT_DESCRIPTOR_SIZE = 20;  // the import directory's entries
constexpr uint32_t PE_EXPORT_NAME_OFFSET = 12;  // in the export directory: the address of the image's own name
// The section table follows the optional header.
constexpr uint32_t PE_SECTION_HEADER_SIZE = 40;
constexpr uint32_t PE_SECTION_VIRTUAL_SIZE_OFFSET = 8;
constexpr uint32_t PE_SECTION_ADDRESS_OFFSET = 12;
constexpr uint32_t PE_SECTION_RAW_SIZE_OFFSET = 16;
constexpr uint32_t PE_SECTION_RAW_POINTER_OFFSET = 20;
constexpr uint32_t PE_SECTION_FLAGS_OFFSET = 36;
constexpr uint32_t PE_SECTION_WRITABLE = 0x80000000;  // a flag: the section is mapped writable
// The certificate table starts on this boundary; the signer pads with zeros
// to reach it.
constexpr uint32_t PE_CERTIFICATE_ALIGNMENT = 8;

// The end of the file for the pack: the start of a certificate table that
// ends exactly at fileSize, or fileSize itself. head holds the file's first
// headSize bytes (at most PE_HEADS_READ_SIZE are looked at). Headers that
// cannot be read, a table outside the file or not ending at its end, all
// mean "no certificate table".
uint32_t PackFileEnd(const uint8_t* head, uint32_t headSize, uint32_t fileSize);
