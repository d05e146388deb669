// Whole-file reads and writes for the packer tool, and the one place where
// paths meet the system.
//
// Paths are UTF-8 strings everywhere in the packer. On Windows they reach the
// system through the wide-character entry points (the runtime's wide argv,
// files through _wfopen and the ...W calls, console text through
// WriteConsoleW), not through a UTF-8 code page set by the manifest
// (activeCodePage): that is honoured only from Windows 10 1903 on, leaves
// older systems with the ANSI code page that cannot name a CJK folder on a
// Western system, and does not lift the 260-character limit without a
// system-wide registry switch. Wide calls work on every Windows, and long
// paths are given the \\?\ form that every Windows takes. On other systems a
// path is passed on byte for byte.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <filesystem>
#include <string>
#include <vector>

// The command line's arguments in UTF-8: on Windows read again from the wide
// command line, since argv holds the ANSI code page's lossy copy.
std::vector<std::string> ArgumentsUtf8(int argc, char** argv);

// Messages are written in UTF-8. What stdout and stderr write to a Windows
// console is shown as such, whatever the console's code page: called first
// thing, before anything is written.
void ConsoleUseUtf8();

// A UTF-8 path as std::filesystem takes it, and back: for joining and
// splitting names (std::filesystem's own narrow conversions on Windows use
// the ANSI code page one way and UTF-8 the other).
std::filesystem::path PathFromUtf8(const std::string& path);
std::string PathToUtf8(const std::filesystem::path& path);

// The path as the system's calls take it: on Windows a long one made absolute
// in the \\?\ form, which lifts the 260-character limit.
std::filesystem::path PathForSystem(const std::string& path);
std::filesystem::path PathForSystem(const std::filesystem::path& path);

// The size of a regular file, from the file system without reading it; 0
// for anything else, or when it cannot be had (the read then says why).
uint64_t FileSizeOf(const std::string& path);

// fopen for a UTF-8 path.
FILE* FileOpen(const std::string& path, const char* mode);

// Makes the folder and those above it that are missing; on failure sets
// error to why.
bool FolderCreate(const std::string& path, std::string& error);

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
