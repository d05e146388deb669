// What a file looks like to qzpack (text, a DLL for x86, a 64-bit
// program...), and whether it fits the place a maker gives it: one of the
// installer's four targets, or the installer stub. Nothing in the pack ties
// an entry to its target but its position, so this is the one check that a
// DLL given in the wrong place is not installed where the player loads the
// other one.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "packer/pe_version.h"

enum FileClass : uint8_t { FILE_EMPTY, FILE_TEXT, FILE_DATA, FILE_DOS_PROGRAM, FILE_DLL, FILE_PROGRAM };

struct FileLooks {
    FileClass kind;
    PeHeaderFacts pe;        // for FILE_DLL and FILE_PROGRAM
    std::string exportName;  // the name a DLL was linked as, when it gives one
};

FileLooks FileLooksOf(const std::vector<uint8_t>& bytes);

// Short, for a column: "text", "data", "empty", "DLL x86", "program x64",
// "program x86 console".
std::string FileLooksText(const FileLooks& looks);

// Why a file that looks so does not belong at the target of that index
// ("it is text, not a Windows DLL"), or empty when it may: it
// must be of the target's kind, and neither the name a DLL was linked as
// nor the name it was given (its file name, when known) may be another
// target's.
std::string TargetMismatch(int target, const FileLooks& looks, const std::string& givenName = {});

// The kind alone: a readme no executable, the DLLs 32-bit x86 DLLs, the
// config a program.
std::string TargetKindMismatch(int target, const FileLooks& looks);

// The installer's targets in install order, for messages: "readme,
// zivora.dll, zivoravarelle.dll, zivora_config.exe".
std::string TargetOrderText();

// Why a file is not an installer stub ("it is a DLL x86, not ..."), or
// empty when it is one: a 32-bit x86 Windows GUI program whose version
// resource describes it as the installer.
std::string StubMismatch(const std::vector<uint8_t>& bytes);
