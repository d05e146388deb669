// The version resource of a Windows executable, read without Windows: the
// numbers of its fixed part, which is what `qzpack --version` reports for
// the stub it would build with.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// Each version is four 16-bit parts, most significant first.
struct PeVersion {
    uint16_t file[4];
    uint16_t product[4];
};

// Reads the first version resource of a PE image (any name, any language).
// False when the image has none, or when any header, table or offset on
// the way does not lie inside the file; the file is never trusted further.
bool PeVersionRead(const std::vector<uint8_t>& image, PeVersion& version);

// "1.2.3.4"
std::string PeVersionText(const uint16_t parts[4]);
