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

// Writes data to a new temporary file beside path (its name with
// ".qzpack-PID.tmp" added), named in temporary; on failure removes it.
bool FileWriteTemporary(const std::string& path, const std::vector<uint8_t>& data, std::string& temporary,
                        std::string& error);

// Moves a temporary file over path, replacing what was there; on failure
// removes the temporary file.
bool FileMoveOver(const std::string& temporary, const std::string& path, std::string& error);

// A file, whatever name reaches it (a link, "./x", another path): device
// and inode, or on Windows volume serial number and file index.
struct FileIdentity {
    uint64_t volume;
    uint64_t index;
};

// False when path names nothing that can be looked at.
bool FileIdentityOf(const std::string& path, FileIdentity& identity);

bool FileIdentitySame(const FileIdentity& a, const FileIdentity& b);

// Ctrl-C and termination requests wait while outputs are half made:
// between InterruptsHold and InterruptsRelease they are held, InterruptHeld
// says whether one came (so that the temporary files go first), and
// InterruptsRelease then ends the process as the request would have.
void InterruptsHold();
bool InterruptHeld();
void InterruptsRelease();

// Folder of the running executable, or the empty string when unknown.
std::string ExecutableDirectory(const char* argv0);

// True when stderr is a terminal (where a progress line is welcome).
bool StderrIsTerminal();
