// Writing qzpack's outputs without harming what the name stands for.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// The name that stands for standard output.
constexpr const char* OUTPUT_STANDARD = "-";

bool OutputIsStandard(const std::string& path);

// Writes data to path: "-" is standard output; a path naming something other
// than a regular file (a character device, a FIFO) is written through and
// never replaced; a regular file, or a new one, is written to a temporary
// file and renamed over it once complete (through a symbolic link, to the
// file it points at). On failure error says why, and no partial file and no
// temporary file are left.
bool OutputWrite(const std::string& path, const std::vector<uint8_t>& data, std::string& error);
