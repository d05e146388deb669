#include "packer/file_roles.h"

#include <ctype.h>
#include <stdio.h>

#include <algorithm>

#include "app/installer_identity.h"
#include "pack/file_end.h"
#include "pack/install_layout.h"

namespace {

// Enough of a file's start to tell text from binary data.
constexpr size_t TEXT_SNIFF_SIZE = 4096;
constexpr const char STUB_NEEDED[] = "the installer stub (a 32-bit x86 Windows GUI program)";
constexpr const char DLL_NEEDED[] = "a Windows DLL";
constexpr const char X86_DLL_NEEDED[] = "a 32-bit x86 Windows DLL";
// The readme may be named anything; the order names it by its role.
constexpr const char README_ROLE[] = "readme";

// Text in any 8-bit encoding has no control characters but tab, line and
// page breaks and escape; UTF-16 text starts with its byte order mark.
bool LooksLikeText(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() >= 2 && ((bytes[0] == 0xFF && bytes[1] == 0xFE) || (bytes[0] == 0xFE && bytes[1] == 0xFF)))
        return true;
    const size_t n = std::min(bytes.size(), TEXT_SNIFF_SIZE);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t c = bytes[i];
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1B) return false;
    }
    return true;
}

std::string MachineText(uint16_t machine)
{
    switch (machine) {
    case PE_MACHINE_I386: return "x86";
    case PE_MACHINE_AMD64: return "x64";
    case PE_MACHINE_ARM: return "ARM";
    case PE_MACHINE_ARM64: return "ARM64";
    default: {
        char text[24];
        snprintf(text, sizeof text, "machine 0x%04X", machine);
        return text;
    }
    }
}

// "DLL x86" with an article, for a sentence.
std::string LooksPhrase(const FileLooks& looks)
{
    switch (looks.kind) {
    case FILE_EMPTY: return "an empty file";
    case FILE_TEXT: return "text";
    case FILE_DATA: return "binary data";
    default: return "a " + FileLooksText(looks);
    }
}

bool IsX86Image(const FileLooks& looks)
{
    return looks.pe.machine == PE_MACHINE_I386 && looks.pe.magic == PE32_MAGIC;
}

// The file-name part of a target: "zivora.dll" for "plugins\zivora\zivora.dll".
std::string TargetFileName(int target)
{
    const std::string path = INSTALL_TARGETS[target];
    return path.substr(path.find_last_of('\\') + 1);
}

bool SameNameIgnoringCase(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return tolower((unsigned char)x) == tolower((unsigned char)y);
           });
}

// A file that calls itself by another target's name belongs there: the two
// plugin DLLs given in each other's places.
std::string NamedForAnother(int target, const std::string& name, const char* how)
{
    for (int other = 0; other < INSTALL_TARGET_COUNT; ++other) {
        if (other == target || !SameNameIgnoringCase(name, TargetFileName(other))) continue;
        return std::string("it is ") + how + " " + name + ", which goes in " + INSTALL_TARGETS[other] + " (entry " +
               std::to_string(other) + ")";
    }
    return {};
}

}  // namespace

FileLooks FileLooksOf(const std::vector<uint8_t>& bytes)
{
    FileLooks looks{FILE_DATA, {}, {}};
    if (bytes.empty()) {
        looks.kind = FILE_EMPTY;
    } else if (PeHeaderFactsRead(bytes, looks.pe)) {
        const bool dll = (looks.pe.characteristics & PE_CHARACTERISTIC_DLL) != 0;
        looks.kind = dll ? FILE_DLL : FILE_PROGRAM;
        if (dll) looks.exportName = PeExportName(bytes);
    } else if (bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z') {
        looks.kind = FILE_DOS_PROGRAM;
    } else if (LooksLikeText(bytes)) {
        looks.kind = FILE_TEXT;
    }
    return looks;
}

std::string FileLooksText(const FileLooks& looks)
{
    switch (looks.kind) {
    case FILE_EMPTY: return "empty";
    case FILE_TEXT: return "text";
    case FILE_DATA: return "data";
    case FILE_DOS_PROGRAM: return "MS-DOS program";
    case FILE_DLL: return "DLL " + MachineText(looks.pe.machine);
    case FILE_PROGRAM: break;
    }
    const char* subsystem = looks.pe.subsystem == PE_SUBSYSTEM_GUI       ? ""
                            : looks.pe.subsystem == PE_SUBSYSTEM_CONSOLE ? " console"
                                                                         : " (not GUI or console)";
    return "program " + MachineText(looks.pe.machine) + subsystem;
}

std::string TargetMismatch(int target, const FileLooks& looks, const std::string& givenName)
{
    if (const std::string why = TargetKindMismatch(target, looks); !why.empty()) return why;
    if (const std::string why = NamedForAnother(target, looks.exportName, "the DLL linked as"); !why.empty())
        return why;
    return NamedForAnother(target, givenName, "named");
}

std::string TargetKindMismatch(int target, const FileLooks& looks)
{
    const bool image = looks.kind == FILE_DLL || looks.kind == FILE_PROGRAM;
    if (target == INSTALL_README_TARGET)
        return image ? "it is " + LooksPhrase(looks) + ", a Windows executable image, not a readme" : "";
    if (target == INSTALL_TARGET_COUNT - 1)
        return looks.kind == FILE_PROGRAM ? "" : "it is " + LooksPhrase(looks) + ", not a Windows program";
    if (looks.kind != FILE_DLL) return "it is " + LooksPhrase(looks) + ", not " + DLL_NEEDED;
    if (!IsX86Image(looks))
        return "it is " + LooksPhrase(looks) + ", not " + X86_DLL_NEEDED + " (the player is a 32-bit program)";
    return {};
}

std::string TargetOrderText()
{
    std::string order;
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i)
        order += (i ? ", " : "") + (i == INSTALL_README_TARGET ? README_ROLE : TargetFileName(i));
    return order;
}

std::string StubMismatch(const std::vector<uint8_t>& bytes)
{
    const FileLooks looks = FileLooksOf(bytes);
    if (looks.kind != FILE_PROGRAM || !IsX86Image(looks) || looks.pe.subsystem != PE_SUBSYSTEM_GUI)
        return "it is " + LooksPhrase(looks) + ", not " + STUB_NEEDED;
    const std::string wanted = std::string("; the installer stub's reads \"") + INSTALLER_DESCRIPTION + "\"";
    std::string description;
    if (!PeVersionString(bytes, INSTALLER_DESCRIPTION_KEY, description))
        return "it is a " + FileLooksText(looks) + " with no \"" INSTALLER_DESCRIPTION_KEY "\" in a version resource" +
               wanted;
    if (description != INSTALLER_DESCRIPTION)
        return "it is a " + FileLooksText(looks) + " that describes itself as \"" + description + "\"" + wanted;
    return {};
}
