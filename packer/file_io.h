// Whole-file reads and writes for the packer tool.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

// Reads the whole file; on failure sets error to what went wrong.
bool FileReadAll(const std::string& path, std::vector<uint8_t>& data, std::string& error);

// Writes data to f and flushes it; errno says why when it fails.
bool FileWriteAll(FILE* f, const std::vector<uint8_t>& data);

// Writes data to a temporary file in path's folder and renames it over path
// once complete, so a failure never leaves a half-written file at path.
bool FileWriteAtomic(const std::string& path, const std::vector<uint8_t>& data, std::string& error);

// Folder of the running executable, or the empty string when unknown.
std::string ExecutableDirectory(const char* argv0);

// True when stderr is a terminal (where a progress line is welcome).
bool StderrIsTerminal();
