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

// fopen for a UTF-8 path.
FILE* FileOpen(const std::string& path, const char* mode);

// Makes the folder and those above it that are missing; on failure sets
// error to why.
bool FolderCreate(const std::string& path, std::string& error);

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
