// Where the installer puts what it carries, below the directory the user
// chose, and where it records that directory. The installer and qzpack both
// include this header; it is the one place for these names.
#pragma once

#include <stdint.h>

constexpr int INSTALL_TARGET_COUNT = 4;

// The targets in pack order, relative to the chosen directory.
constexpr const char* INSTALL_TARGETS[INSTALL_TARGET_COUNT] = {
    "zivoravarelle-readme.txt",
    "plugins\\zivora\\zivora.dll",
    "plugins\\zivoravarelle.dll",
    "zivora_config.exe",
};
// New bytes for a target (or for the installer's temporary pack) are written
// to its name with this added, beside it, and then moved over it; no
// target's name ends so.
constexpr char INSTALL_TEMPORARY_SUFFIX[] = ".qznew";

// The completion message names this target.
constexpr int INSTALL_README_TARGET = 0;

// Made just before the file of its target, the only one inside it.
constexpr char INSTALL_PLUGIN_DIRECTORY[] = "plugins\\zivora\\";
constexpr int INSTALL_PLUGIN_DIRECTORY_TARGET = 1;

// Under HKEY_LOCAL_MACHINE.
constexpr char INSTALL_REGISTRY_KEY[] = "SOFTWARE\\Morvend Software\\Zivora Varelle\\";
constexpr char INSTALL_REGISTRY_VALUE[] = "WinAmpDir";

// The largest entry and the largest pack: the installer is a 32-bit program
// that reads both sizes as signed 32-bit numbers.
constexpr uint32_t INSTALL_SIZE_MAX = 0x7FFFFFFF;

// The largest payload (the four files together) the installer can hold in
// memory: it keeps the pack, the entry it unpacks and that entry's stored
// block at once, three blocks of about the payload's size for one file that
// barely compresses. Measured with the installer under Wine (8.0, 32-bit
// programs emulated): such an entry installed with 79.3 MiB in those three
// blocks, and failed for lack of memory with 82.4 MiB; this limit keeps
// them to 75 MiB. qzpack refuses more, from the files' sizes; both tools
// name the limit.
// The number alone is a macro so that the installer's messages take it in
// by concatenation, with no code to build them.
#define INSTALL_PAYLOAD_MAX_MIB "25"
constexpr char INSTALL_PAYLOAD_MAX_TEXT[] = INSTALL_PAYLOAD_MAX_MIB " MiB";
constexpr uint32_t INSTALL_PAYLOAD_MAX = 25u << 20;

constexpr uint32_t LeadingNumber(const char* text, uint32_t value = 0)
{
    return *text >= '0' && *text <= '9' ? LeadingNumber(text + 1, value * 10 + uint32_t(*text - '0')) : value;
}
static_assert(LeadingNumber(INSTALL_PAYLOAD_MAX_TEXT) << 20 == INSTALL_PAYLOAD_MAX,
              "the text names the limit in MiB");
