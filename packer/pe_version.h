// What a Windows executable says of itself, read without Windows: the
// processor, kind and subsystem in its headers, the name its export
// directory gives it, and its version resource (the numbers of the fixed
// part, which `qzpack --version` reports for the stub, and the strings).
// These are what qzpack tells a stub, a DLL and a program apart by.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The headers' own account of the image (values as in pack/file_end.h).
struct PeHeaderFacts {
    uint16_t machine;          // PE_MACHINE_...
    uint16_t characteristics;  // PE_CHARACTERISTIC_DLL among them
    uint16_t magic;            // PE32_MAGIC or PE32_PLUS_MAGIC
    uint16_t subsystem;        // PE_SUBSYSTEM_...; 0 when the header is too short to say
};

// False when the file is not a PE image whose headers and section table lie
// inside it.
bool PeHeaderFactsRead(const std::vector<uint8_t>& image, PeHeaderFacts& facts);

// The name in the image's export directory ("zivora.dll"): the name it was
// linked as. Empty when it has none, or none that is plain printable text.
std::string PeExportName(const std::vector<uint8_t>& image);

// Each version is four 16-bit parts, most significant first.
struct PeVersion {
    uint16_t file[4];
    uint16_t product[4];
};

// Reads the first version resource of a PE image (any name, any language).
// False when the image has none, or when any header, table or offset on
// the way does not lie inside the file; the file is never trusted further.
bool PeVersionRead(const std::vector<uint8_t>& image, PeVersion& version);

// The value of key ("FileDescription") in the first string table of the
// version resource that holds it; characters outside ASCII come out as '?'.
// False when there is no such string.
bool PeVersionString(const std::vector<uint8_t>& image, const std::string& key, std::string& value);

// "1.2.3.4"
std::string PeVersionText(const uint16_t parts[4]);
