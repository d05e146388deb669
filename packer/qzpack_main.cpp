// qzpack: builds installers and packs, and lists, verifies and unpacks them.
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "pack/block_format.h"
#include "pack/install_layout.h"
#include "packer/block_encoder.h"
#include "packer/file_io.h"
#include "packer/file_roles.h"
#include "packer/output_file.h"
#include "packer/pack_file.h"
#include "packer/pe_version.h"
#include "packer/stub_locate.h"

namespace fs = std::filesystem;

namespace {

constexpr int EXIT_OK = 0;
constexpr int EXIT_BAD_INPUT = 1;
constexpr int EXIT_USAGE = 2;
constexpr uint64_t PROGRESS_MIN_SIZE = 4u << 20;

// What build calls its files, in install order, and how many there are in words.
const char* const BUILD_ROLES[INSTALL_TARGET_COUNT] = {"README", "DLL1", "DLL2", "CONFIG"};
const std::string TARGET_COUNT_WORD = "four";
static_assert(INSTALL_TARGET_COUNT == 4, "TARGET_COUNT_WORD spells INSTALL_TARGET_COUNT");

static_assert(LEVEL_DEFAULT == LEVEL_BEST, "the help calls the best level the default");
const std::string LEVEL_HELP = "  --level N      " + std::to_string(LEVEL_FAST) + " (fast) to " +
                               std::to_string(LEVEL_BEST) + " (smallest, the default)\n";
const char* const FORCE_HELP = "  --force        replace an output that is read-only (its permissions kept)\n";
const char* const OPTIONS_HELP =
    "An option's value may also follow '=' (--level=5) or a one-letter option\n"
    "directly (-osetup.exe); each option may be given once. An output is never\n"
    "one of the files read, by whatever name.\n";

struct Command {
    const char* name;
    std::string summary;  // its line in 'qzpack --help'
    std::string help;
    std::vector<std::string> valueOptions;  // options that take a value
    std::vector<std::string> flagOptions;   // options that take none
    size_t minFiles;
    size_t maxFiles;
    int (*run)(struct Invocation&);
};

struct Invocation {
    const Command* command;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, std::string>> options;  // a flag's value is empty
    const char* argv0;
};

// ----- reporting

int Fail(const std::string& file, const std::string& what)
{
    fprintf(stderr, "qzpack: %s: %s\n", file.c_str(), what.c_str());
    return EXIT_BAD_INPUT;
}

int UsageError(const Command* c, const std::string& what)
{
    const std::string name = c ? std::string(" ") + c->name : std::string();
    fprintf(stderr, "qzpack%s: %s (see 'qzpack%s --help')\n", name.c_str(), what.c_str(), name.c_str());
    return EXIT_USAGE;
}

std::string Ratio(uint64_t stored, uint64_t size)
{
    if (size == 0) return "-";
    char text[32];
    snprintf(text, sizeof text, "%.1f%%", 100.0 * double(stored) / double(size));
    return text;
}

// A progress line that rewrites itself, only for large inputs on a terminal.
ProgressFn ProgressLine(const std::string& name, size_t size)
{
    if (size < PROGRESS_MIN_SIZE || !StderrIsTerminal()) return {};
    return [name](uint64_t done, uint64_t total) {
        fprintf(stderr, "\rqzpack: compressing %s: %3d%%", name.c_str(), total ? int(done * 100 / total) : 100);
        fflush(stderr);
    };
}

void ProgressEnd(const ProgressFn& progress)
{
    if (progress) fprintf(stderr, "\r\033[K");
}

// ----- options

const std::string* OptionValue(const Invocation& inv, const std::string& name)
{
    for (const auto& o : inv.options)
        if (o.first == name) return &o.second;
    return nullptr;
}

bool FlagGiven(const Invocation& inv, const std::string& name)
{
    return OptionValue(inv, name) != nullptr;
}

// The --level value, LEVEL_DEFAULT without one; false, reported, for no level.
bool LevelOption(const Invocation& inv, int& level)
{
    level = LEVEL_DEFAULT;
    const std::string* text = OptionValue(inv, "--level");
    if (!text) return true;
    char* end = nullptr;
    const long v = strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || v < LEVEL_FAST || v > LEVEL_BEST) {
        UsageError(inv.command, "--level takes a number from " + std::to_string(LEVEL_FAST) + " to " +
                                    std::to_string(LEVEL_BEST));
        return false;
    }
    level = int(v);
    return true;
}

// ----- shared steps

bool ReadInput(const std::string& path, std::vector<uint8_t>& data)
{
    std::string error;
    if (FileReadAll(path, data, error)) return true;
    Fail(path, error);
    return false;
}

// False, reported, when the files together are more than the installer can
// hold in memory; judged from their sizes, before any is read. A file whose
// size cannot be had is left to the read to report.
bool PayloadFits(const std::vector<std::string>& paths)
{
    uint64_t total = 0;
    for (const std::string& path : paths) {
        total += FileSizeOf(path);
        if (total <= INSTALL_PAYLOAD_MAX) continue;
        const std::string what = paths.size() > 1 ? "the files come to " + std::to_string(total) + " bytes with this one"
                                                  : std::to_string(total) + " bytes";
        Fail(path, what + ", more than the installer can hold in memory (at most " + INSTALL_PAYLOAD_MAX_TEXT + ", " +
                       std::to_string(INSTALL_PAYLOAD_MAX) + " bytes)");
        return false;
    }
    return true;
}

bool WriteOutput(const std::string& path, const std::vector<uint8_t>& data)
{
    std::string error;
    if (OutputWrite(path, data, error)) return true;
    Fail(path, error);
    return false;
}

// A file the command reads, and what it is to the command: "the installer
// stub", "the input for zivora.dll (entry 1)".
struct InputRole {
    std::string path;
    std::string role;
};

// Refuses an output that is one of the command's inputs, whatever names
// reach them, or one that is read-only without --force; names both roles.
bool OutputAllowed(const Invocation& inv, const std::string& output, const std::string& outputRole,
                   const std::vector<InputRole>& inputs)
{
    FileIdentity out, in;
    if (OutputIsStandard(output) || !FileIdentityOf(output, out)) return true;
    for (const InputRole& i : inputs) {
        if (!FileIdentityOf(i.path, in) || !FileIdentitySame(out, in)) continue;
        Fail(output, outputRole + " is the same file as " + i.path + ", " + i.role +
                         "; refused, so that it is not lost: nothing was written");
        return false;
    }
    std::string error;
    if (OutputMayReplace(output, FlagGiven(inv, "--force"), error)) return true;
    Fail(output, outputRole + " " + error);
    return false;
}

// An installer or a bare pack as read, and its pack split into entries.
struct OpenedPack {
    std::vector<uint8_t> file;
    PackPlace place;
    PackLayout layout;

    const uint8_t* Data() const { return file.data() + place.offset; }
};

// The pack opened, when it is one an installer could use: an installer's
// pack needs the four entries the installer unpacks, a bare pack at least
// one. Entries the pack cuts short are left to the caller to report. Gives
// why it cannot be opened, or nothing.
std::string OpenPack(const std::string& path, OpenedPack& pack)
{
    std::string error;
    if (!FileReadAll(path, pack.file, error) || !PackLocate(pack.file, pack.place, error)) return error;
    pack.layout = PackParse(pack.Data(), pack.place.size);
    const size_t needed = pack.place.isInstaller ? INSTALL_TARGET_COUNT : 1;
    const size_t count = pack.layout.entries.size();
    if (!pack.layout.error.empty() || count >= needed) return {};
    if (count == 0) return "carries no pack entries";
    return "its pack holds " + std::to_string(count) + " entries; an installer needs " +
           std::to_string(INSTALL_TARGET_COUNT);
}

// The pack opened and every entry decoded; else why not, naming the first
// bad entry.
std::string OpenPackDecoded(const std::string& path, OpenedPack& pack, std::vector<DecodedEntry>& decoded)
{
    const std::string error = OpenPack(path, pack);
    if (!error.empty()) return error;
    for (size_t i = 0; i < pack.layout.entries.size(); ++i) {
        decoded.push_back(EntryDecode(pack.Data(), pack.layout.entries[i]));
        if (!decoded.back().error.empty()) return "entry " + std::to_string(i) + ": " + decoded.back().error;
    }
    return pack.layout.error;
}

// Each of build's files with its target, put through format (role, target).
std::string BuildTargetList(const char* format, const char* separator)
{
    std::string list;
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        char item[128];
        snprintf(item, sizeof item, format, BUILD_ROLES[i], INSTALL_TARGETS[i]);
        list += (i ? separator : "") + std::string(item);
    }
    return list;
}

// ----- build

const std::string BUILD_HELP =
    "usage: qzpack build -o OUTPUT.exe [--stub INSTALLER.exe] [--level N] [--no-role-check]\n"
    "                    [--force]" + BuildTargetList(" %s", "") +
    "\n\n"
    "Makes an installer: the stub, zero bytes up to a size that is a multiple of 8,\n"
    "then a pack of the " + TARGET_COUNT_WORD + " files, then the pack's length; a signature added later\n"
    "follows directly. The files go in the installer's install order:\n" +
    BuildTargetList("  %-8s-> %s\n", "") +
    "Each file must fit its place: the DLLs 32-bit x86 Windows DLLs (not linked\n"
    "under the other one's name), CONFIG a Windows program, README no Windows\n"
    "executable; nothing is written otherwise.\n"
    "\n"
    "  -o FILE        the installer to write ('-': standard output)\n"
    "  --stub FILE    the installer executable to append to; by default the first\n"
    "                 installer.exe found in PREFIX/share/qzpack (qzpack being\n"
    "                 PREFIX/bin/qzpack), beside qzpack, then in the build tree\n"
    "                 qzpack was built in ('qzpack --version' names the one found);\n"
    "                 it must be the installer stub, a 32-bit GUI program whose\n"
    "                 version resource describes it as the installer\n" +
    LEVEL_HELP +
    "  --no-role-check  build even when a file does not fit its place\n" + FORCE_HELP + "\n" + OPTIONS_HELP;

// The installer stub, read and checked: the installer program itself, and
// nothing appended to it.
bool StubRead(const std::string& stubPath, std::vector<uint8_t>& stub)
{
    if (!ReadInput(stubPath, stub)) return false;
    if (const std::string why = StubMismatch(stub); !why.empty()) {
        Fail(stubPath, why + "; refused as the installer stub");
        return false;
    }
    const uint64_t imageEnd = StubImageEnd(stub);
    if (imageEnd == 0) {
        Fail(stubPath, "its PE headers are incomplete; refused as the installer stub");
        return false;
    }
    // A finished installer given as the stub would carry its old pack
    // inside the new one.
    if (imageEnd == stub.size()) return true;
    Fail(stubPath, "its image ends at byte " + std::to_string(imageEnd) + " but the file has " +
                       std::to_string(stub.size()) + " bytes; refused as the installer stub" +
                       (imageEnd < stub.size() ? " (is it a built installer?)" : " (cut short?)"));
    return false;
}

// Reports each file that does not fit its place; true when all do.
bool BuildRolesFit(const std::vector<std::string>& paths, const std::vector<std::vector<uint8_t>>& data)
{
    bool fit = true;
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        const std::string why = TargetMismatch(i, FileLooksOf(data[i]), PathToUtf8(PathFromUtf8(paths[i]).filename()));
        if (why.empty()) continue;
        fprintf(stderr, "qzpack: %s is given as %s (entry %d), but %s; the files go in install order: %s\n",
                paths[i].c_str(), INSTALL_TARGETS[i], i, why.c_str(), TargetOrderText().c_str());
        fit = false;
    }
    if (!fit) fprintf(stderr, "qzpack: nothing was written; --no-role-check builds all the same\n");
    return fit;
}

void BuildReport(FILE* report, const std::string& output, const std::vector<EntryView>& entries, size_t stubSize,
                 size_t packSize, size_t installerSize)
{
    fprintf(report, "%-5s %-28s %10s %10s %7s  %s\n", "entry", "installed as", "size", "stored", "ratio", "method");
    uint64_t total = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        const EntryView& e = entries[i];
        total += e.unpackedSize;
        fprintf(report, "%-5zu %-28s %10u %10u %7s  %s\n", i, INSTALL_TARGETS[i], e.unpackedSize, e.storedSize,
                Ratio(e.storedSize, e.unpackedSize).c_str(), EntryKindOf(e) == ENTRY_STORED ? "stored" : "block");
    }
    // Each entry's size fields are stored too: the column adds up to the pack.
    const size_t headers = entries.size() * PACK_ENTRY_HEADER_SIZE;
    char label[64];
    snprintf(label, sizeof label, "entry headers (%zu x %u bytes)", entries.size(), PACK_ENTRY_HEADER_SIZE);
    fprintf(report, "%-5s %-28s %10s %10zu\n", "", label, "", headers);
    fprintf(report, "%-5s %-28s %10llu %10zu %7s\n", "total", "", (unsigned long long)total, packSize,
            Ratio(packSize, total).c_str());
    fprintf(report, "%s: %zu bytes (stub %zu, padding %zu, pack %zu, trailer %u)\n", output.c_str(), installerSize,
            stubSize, installerSize - stubSize - packSize - PACK_TRAILER_SIZE, packSize, PACK_TRAILER_SIZE);
}

int RunBuild(Invocation& inv)
{
    if (inv.files.size() != INSTALL_TARGET_COUNT)
        return UsageError(inv.command, "needs exactly " + TARGET_COUNT_WORD + " files, in install order: " +
                                           BuildTargetList("%s (%s)", ", ") + "; got " +
                                           std::to_string(inv.files.size()));
    const std::string* output = OptionValue(inv, "-o");
    if (!output) return UsageError(inv.command, "no output file (-o setup.exe)");
    int level;
    if (!LevelOption(inv, level)) return EXIT_USAGE;
    if (!PayloadFits(inv.files)) return EXIT_BAD_INPUT;
    const std::string* stubOption = OptionValue(inv, "--stub");
    const std::string stubPath = stubOption ? *stubOption : StubFind(StubCandidates(ExecutableDirectory(inv.argv0)));
    if (stubPath.empty())
        return Fail(STUB_NAME, "no installer stub found where qzpack looks (see 'qzpack build --help'); "
                               "give --stub INSTALLER.exe");
    std::vector<InputRole> inputs{{stubPath, "the installer stub"}};
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i)
        inputs.push_back({inv.files[i], "the input for " + std::string(INSTALL_TARGETS[i]) + " (entry " +
                                            std::to_string(i) + ")"});
    if (!OutputAllowed(inv, *output, "the output (-o)", inputs)) return EXIT_BAD_INPUT;

    std::vector<uint8_t> stub;
    if (!StubRead(stubPath, stub)) return EXIT_BAD_INPUT;
    std::vector<std::vector<uint8_t>> data(INSTALL_TARGET_COUNT);
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        if (!ReadInput(inv.files[i], data[i])) return EXIT_BAD_INPUT;
        if (data[i].size() >= UINT32_MAX) return Fail(inv.files[i], "too large for a pack entry");
    }
    if (!FlagGiven(inv, "--no-role-check") && !BuildRolesFit(inv.files, data)) return EXIT_BAD_INPUT;

    std::vector<uint8_t> pack;
    std::vector<EntryView> entries;
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        const std::string& path = inv.files[i];
        const ProgressFn progress = ProgressLine(path, data[i].size());
        const std::vector<uint8_t> entry = EntryEncode(data[i].data(), data[i].size(), level, progress);
        ProgressEnd(progress);
        const EntryView view{LoadU32(&entry[PACK_ENTRY_UNPACKED_SIZE_OFFSET]),
                             LoadU32(&entry[PACK_ENTRY_STORED_SIZE_OFFSET]), PACK_ENTRY_HEADER_SIZE};
        const DecodedEntry check = EntryDecode(entry.data(), view);
        if (!check.error.empty() || check.bytes != data[i]) return Fail(path, "internal error: entry does not unpack");
        if (pack.size() + entry.size() > INSTALL_SIZE_MAX)
            return Fail(path, "the pack would exceed " + std::to_string(INSTALL_SIZE_MAX) +
                                  " bytes, more than the installer can read");
        entries.push_back(view);
        pack.insert(pack.end(), entry.begin(), entry.end());
    }
    const std::vector<uint8_t> installer = InstallerAssemble(stub, pack);
    if (!WriteOutput(*output, installer)) return EXIT_BAD_INPUT;
    // The installer itself may be going to standard output.
    BuildReport(OutputIsStandard(*output) ? stderr : stdout, *output, entries, stub.size(), pack.size(),
                installer.size());
    return EXIT_OK;
}

// ----- list, verify, extract

const char* ChecksumText(ChecksumState s)
{
    switch (s) {
    case CHECKSUM_PASSED: return "passed";
    case CHECKSUM_ABSENT: return "none stored";
    case CHECKSUM_FAILED: return "FAILED";
    default: return "-";
    }
}

const std::string LIST_HELP =
    "usage: qzpack list FILE\n\n"
    "Shows each entry of an installer or a bare pack: index, where it is installed\n"
    "(as 'extract' names it), unpacked size, stored size, ratio, kind (stored or\n"
    "block), checksum state and what it looks like (text, DLL x86, program x86...),\n"
    "and the size of a signed installer's certificate table.\n";

// Where extract puts an entry, and the installer installs it: its target
// when the pack has the installer's four entries, else a numbered file.
std::string EntryName(size_t index, size_t count)
{
    if (count == INSTALL_TARGET_COUNT) return INSTALL_TARGETS[index];
    return "entry-" + std::to_string(index) + ".bin";
}

int RunList(Invocation& inv)
{
    const std::string& path = inv.files[0];
    OpenedPack pack;
    if (const std::string error = OpenPack(path, pack); !error.empty()) return Fail(path, error);
    const PackLayout& layout = pack.layout;
    printf("%-5s %-28s %10s %10s %7s  %-6s  %-11s  %s\n", "entry", "installed as", "size", "stored", "ratio", "kind",
           "checksum", "looks like");
    bool allGood = layout.error.empty();
    for (size_t i = 0; i < layout.entries.size(); ++i) {
        const EntryView& e = layout.entries[i];
        const DecodedEntry d = EntryDecode(pack.Data(), e);
        allGood = allGood && d.error.empty();
        printf("%-5zu %-28s %10u %10u %7s  %-6s  %-11s  %s\n", i, EntryName(i, layout.entries.size()).c_str(),
               e.unpackedSize, e.storedSize, Ratio(e.storedSize, e.unpackedSize).c_str(),
               EntryKindOf(e) == ENTRY_STORED ? "stored" : "block", ChecksumText(d.checksum),
               d.error.empty() ? FileLooksText(FileLooksOf(d.bytes)).c_str() : "-");
    }
    if (pack.place.certificateSize != 0)
        printf("signed: a certificate table of %zu bytes follows the pack\n", pack.place.certificateSize);
    if (!layout.error.empty()) return Fail(path, layout.error);
    return allGood ? EXIT_OK : EXIT_BAD_INPUT;
}

const char* const VERIFY_HELP =
    "usage: qzpack verify [--no-role-check] FILE\n\n"
    "Exit 0 when every entry of the installer or pack is complete and every block\n"
    "unpacks and passes its checksum, each of an installer's entries fits its\n"
    "place (as 'qzpack build' checks: DLLs, program, readme), and an installer's\n"
    "header checksum is the file's; otherwise names the first fault, or each\n"
    "entry out of place, exit 1.\n\n"
    "  --no-role-check  do not check the entries' places\n";

int RunVerify(Invocation& inv)
{
    const std::string& path = inv.files[0];
    OpenedPack pack;
    std::vector<DecodedEntry> decoded;
    if (const std::string error = OpenPackDecoded(path, pack, decoded); !error.empty()) return Fail(path, error);
    if (const std::string error = PeChecksumError(pack.file); !error.empty()) return Fail(path, error);
    bool fit = true;
    for (int i = 0; pack.place.isInstaller && !FlagGiven(inv, "--no-role-check") && i < INSTALL_TARGET_COUNT; ++i) {
        const std::string why = TargetMismatch(i, FileLooksOf(decoded[i].bytes));
        if (why.empty()) continue;
        Fail(path, "entry " + std::to_string(i) + ", installed as " + INSTALL_TARGETS[i] +
                       ", does not fit its place: " + why + "; the files go in install order: " + TargetOrderText());
        fit = false;
    }
    if (!fit) return EXIT_BAD_INPUT;
    printf("%s: %zu entries, all complete and intact\n", path.c_str(), decoded.size());
    return EXIT_OK;
}

const std::string EXTRACT_HELP =
    "usage: qzpack extract [--force] FILE [-d DIR]\n\n"
    "Unpacks the entries into DIR (default: the current folder): under the\n"
    "installer's target names when there are " + TARGET_COUNT_WORD + ", else as entry-N.bin.\n"
    "All or nothing: every entry is unpacked and written beside its place first,\n"
    "and only then are they moved into place; a failure up to then leaves the\n"
    "folder as it was (folders made for it are removed again). Should a move\n"
    "itself fail (a target locked by another program), the message names the\n"
    "entries that were moved and those that were not.\n\n" +
    std::string(FORCE_HELP);

// Makes dir and the folders above it that are missing, noting those it made.
bool FoldersMake(const fs::path& dir, std::vector<fs::path>& made, std::string& error)
{
    std::vector<fs::path> missing;
    std::error_code ec;
    for (fs::path p = dir; !p.empty() && !fs::exists(PathForSystem(p), ec); p = p.parent_path()) {
        missing.push_back(p);
        if (p == p.parent_path()) break;
    }
    for (auto p = missing.rbegin(); p != missing.rend(); ++p) {
        if (!fs::create_directory(PathForSystem(*p), ec) || ec) {
            error = "cannot create folder " + PathToUtf8(*p) + (ec ? ": " + ec.message() : "");
            return false;
        }
        made.push_back(*p);
    }
    return true;
}

// Takes back what an extract that failed had done: its temporary files
// and the folders it made (those it moved nothing into are empty).
void ExtractUndo(std::vector<PendingOutput>& outputs, std::vector<fs::path>& made)
{
    for (PendingOutput& o : outputs) OutputDiscard(o);
    std::error_code ec;
    for (auto p = made.rbegin(); p != made.rend(); ++p) fs::remove(PathForSystem(*p), ec);
}

// Stages every entry beside its place; true when all are.
bool ExtractStage(const std::vector<fs::path>& targets, const std::vector<DecodedEntry>& decoded,
                  std::vector<PendingOutput>& outputs, std::vector<fs::path>& made)
{
    for (size_t i = 0; i < targets.size(); ++i) {
        std::string error;
        if (!FoldersMake(targets[i].parent_path(), made, error)) {
            Fail(PathToUtf8(targets[i]), error + "; nothing was extracted");
            return false;
        }
        outputs.emplace_back();
        if (!OutputStage(PathToUtf8(targets[i]), decoded[i].bytes, outputs.back(), error)) {
            Fail(PathToUtf8(targets[i]), error + "; nothing was extracted");
            return false;
        }
    }
    return true;
}

int RunExtract(Invocation& inv)
{
    const std::string& path = inv.files[0];
    const std::string* dirOption = OptionValue(inv, "-d");
    const fs::path dir = PathFromUtf8(dirOption ? *dirOption : ".");
    OpenedPack pack;
    std::vector<DecodedEntry> decoded;
    // Everything is checked before anything is written.
    if (const std::string error = OpenPackDecoded(path, pack, decoded); !error.empty()) return Fail(path, error);
    std::vector<fs::path> targets;
    std::error_code ec;
    for (size_t i = 0; i < decoded.size(); ++i) {
        fs::path target = dir / TargetHostPath(EntryName(i, decoded.size()).c_str());
        target.make_preferred();  // shown with the system's own separators
        targets.push_back(target);
        const std::string role = "the output for entry " + std::to_string(i);
        if (!OutputAllowed(inv, PathToUtf8(target), role, {{path, "the file being extracted"}})) return EXIT_BAD_INPUT;
        if (fs::is_directory(PathForSystem(target), ec))
            return Fail(PathToUtf8(target), role + " is a folder; nothing was extracted");
    }
    std::vector<PendingOutput> outputs;
    std::vector<fs::path> made;
    InterruptsHold();
    if (!ExtractStage(targets, decoded, outputs, made) || InterruptHeld()) {
        ExtractUndo(outputs, made);
        InterruptsRelease();
        return EXIT_BAD_INPUT;
    }
    for (size_t i = 0; i < outputs.size(); ++i) {
        std::string error;
        if (OutputCommit(outputs[i], error)) continue;
        // Only a move can fail here, and those before it are done.
        const std::string last = std::to_string(outputs.size() - 1);
        Fail(PathToUtf8(targets[i]), error + "; entries " + std::to_string(i) + " to " + last + " were not extracted" +
                                      (i ? ", entries 0 to " + std::to_string(i - 1) + " were" : ""));
        std::vector<fs::path> keep;
        ExtractUndo(outputs, i ? keep : made);
        InterruptsRelease();
        return EXIT_BAD_INPUT;
    }
    InterruptsRelease();
    for (size_t i = 0; i < targets.size(); ++i)
        printf("%s (%zu bytes)\n", PathToUtf8(targets[i]).c_str(), decoded[i].bytes.size());
    return EXIT_OK;
}

// ----- compress, decompress

const std::string COMPRESS_HELP =
    "usage: qzpack compress [--level N] IN OUT.qz\n\n"
    "Compresses IN into one block; OUT '-' is standard output.\n" +
    LEVEL_HELP + FORCE_HELP;

int RunCompress(Invocation& inv)
{
    int level;
    if (!LevelOption(inv, level)) return EXIT_USAGE;
    if (!OutputAllowed(inv, inv.files[1], "the output", {{inv.files[0], "the input"}})) return EXIT_BAD_INPUT;
    // One block is not an installer: it may be as large as its format
    // allows, and that is judged before anything is read.
    if (FileSizeOf(inv.files[0]) >= UINT32_MAX)
        return Fail(inv.files[0], "too large for one block (at most " + std::to_string(UINT32_MAX - 1) + " bytes)");
    std::vector<uint8_t> data;
    if (!ReadInput(inv.files[0], data)) return EXIT_BAD_INPUT;
    if (data.size() >= UINT32_MAX) return Fail(inv.files[0], "too large for one block");
    const ProgressFn progress = ProgressLine(inv.files[0], data.size());
    const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), level, progress);
    ProgressEnd(progress);
    const DecodedEntry check = BlockDecode(block.data(), block.size());
    if (!check.error.empty() || check.bytes != data) return Fail(inv.files[0], "internal error: block does not unpack");
    if (!WriteOutput(inv.files[1], block)) return EXIT_BAD_INPUT;
    fprintf(OutputIsStandard(inv.files[1]) ? stderr : stdout, "%s: %zu -> %zu bytes (%s)\n", inv.files[0].c_str(),
            data.size(), block.size(), Ratio(block.size(), data.size()).c_str());
    return EXIT_OK;
}

const std::string DECOMPRESS_HELP =
    "usage: qzpack decompress [--force] IN.qz OUT\n\n"
    "Expands one block; OUT '-' is standard output. Writes nothing and exits 1\n"
    "when it does not unpack.\n\n" +
    std::string(FORCE_HELP);

int RunDecompress(Invocation& inv)
{
    if (!OutputAllowed(inv, inv.files[1], "the output", {{inv.files[0], "the input"}})) return EXIT_BAD_INPUT;
    std::vector<uint8_t> block;
    if (!ReadInput(inv.files[0], block)) return EXIT_BAD_INPUT;
    const DecodedEntry d = BlockDecode(block.data(), block.size());
    if (!d.error.empty()) return Fail(inv.files[0], d.error);
    return WriteOutput(inv.files[1], d.bytes) ? EXIT_OK : EXIT_BAD_INPUT;
}

// ----- the command line

const Command COMMANDS[] = {
    {"build", "make an installer from the installer stub and " + TARGET_COUNT_WORD + " files", BUILD_HELP,
     {"-o", "--stub", "--level"}, {"--no-role-check", "--force"}, 0, SIZE_MAX, RunBuild},
    {"list", "show the entries of an installer or a pack", LIST_HELP, {}, {}, 1, 1, RunList},
    {"verify", "check that every entry of an installer or a pack unpacks and fits", VERIFY_HELP, {},
     {"--no-role-check"}, 1, 1, RunVerify},
    {"extract", "unpack the entries of an installer or a pack", EXTRACT_HELP, {"-d"}, {"--force"}, 1, 1, RunExtract},
    {"compress", "compress one file into one block", COMPRESS_HELP, {"--level"}, {"--force"}, 2, 2, RunCompress},
    {"decompress", "expand one block", DECOMPRESS_HELP, {}, {"--force"}, 2, 2, RunDecompress},
};

void PrintHelp()
{
    fputs("usage: qzpack COMMAND [OPTIONS] ...\n\ncommands:\n", stdout);
    for (const Command& c : COMMANDS) printf("  %-11s %s\n", c.name, c.summary.c_str());
    fputs("\n"
          "'qzpack --version' prints the version and the installer stub that 'build'\n"
          "would use.\n"
          "'qzpack COMMAND --help' describes a command. Exit codes: 0 success,\n"
          "1 bad or unreadable input, 2 wrong usage.\n",
          stdout);
    printf("\n%s", OPTIONS_HELP);
}

int PrintVersion(const char* argv0)
{
    printf("qzpack %s\n", QZPACK_VERSION);
    const std::vector<std::string> candidates = StubCandidates(ExecutableDirectory(argv0));
    const std::string stubPath = StubFind(candidates);
    if (stubPath.empty()) {
        printf("installer stub for build: none found; looked for\n");
        for (const std::string& c : candidates) printf("  %s\n", c.c_str());
        return EXIT_OK;
    }
    std::vector<uint8_t> stub;
    std::string about;  // why it cannot be read, else its versions
    PeVersion version;
    if (FileReadAll(stubPath, stub, about))
        about = PeVersionRead(stub, version) ? "file version " + PeVersionText(version.file) + ", product version " +
                                                   PeVersionText(version.product)
                                             : "no version resource";
    if (const std::string why = StubMismatch(stub); !stub.empty() && !why.empty())
        about += "; build refuses it: " + why;
    printf("installer stub for build: %s (%s)\n", stubPath.c_str(), about.c_str());
    return EXIT_OK;
}

const Command* CommandNamed(const std::string& name)
{
    for (const Command& c : COMMANDS)
        if (name == c.name) return &c;
    return nullptr;
}

bool Listed(const std::vector<std::string>& options, const std::string& option)
{
    for (const std::string& o : options)
        if (o == option) return true;
    return false;
}

// One option argument taken apart, GNU style: "--level=5", "--level 5",
// "-osetup.exe", "-o setup.exe", "--force". Gives the usage error, or
// nothing; next moves past a value taken from the following argument.
std::string OptionTake(Invocation& inv, int argc, char** argv, int& next)
{
    const Command& c = *inv.command;
    std::string arg = argv[next];
    std::string value;
    bool hasValue = false;
    if (const size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
        value = arg.substr(equals + 1);
        arg.resize(equals);
        hasValue = true;
    } else if (arg.size() > 2 && arg[1] != '-' && Listed(c.valueOptions, arg.substr(0, 2))) {
        value = arg.substr(2);
        arg.resize(2);
        hasValue = true;
    }
    const bool takesValue = Listed(c.valueOptions, arg);
    if (!takesValue && !Listed(c.flagOptions, arg)) return "unknown option '" + arg + "'";
    if (OptionValue(inv, arg)) return "option '" + arg + "' is given more than once";
    if (!takesValue && hasValue) return "option '" + arg + "' takes no value";
    if (takesValue && !hasValue) {
        if (next + 1 >= argc) return "option '" + arg + "' needs a value";
        value = argv[++next];
    }
    if (takesValue && value.empty()) return "option '" + arg + "' needs a value";
    inv.options.emplace_back(arg, value);
    return {};
}

}  // namespace

int main(int argc, char** argv)
{
    ConsoleUseUtf8();
    // Every argument in UTF-8, whatever the system's code page.
    std::vector<std::string> arguments = ArgumentsUtf8(argc, argv);
    std::vector<char*> argumentPointers;
    for (std::string& a : arguments) argumentPointers.push_back(&a[0]);
    argv = argumentPointers.data();
    if (argc < 2) return UsageError(nullptr, "no command");
    const std::string name = argv[1];
    if (name == "--help" || name == "-h" || name == "help") {
        PrintHelp();
        return EXIT_OK;
    }
    if (name == "--version") return PrintVersion(argv[0]);
    const Command* command = CommandNamed(name);
    if (!command) return UsageError(nullptr, "unknown command '" + name + "'");

    Invocation inv{command, {}, {}, argv[0]};
    bool optionsEnd = false;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
            inv.files.push_back(arg);
        } else if (arg == "--") {
            optionsEnd = true;
        } else if (arg == "--help" || arg == "-h") {
            fputs(command->help.c_str(), stdout);
            return EXIT_OK;
        } else if (const std::string error = OptionTake(inv, argc, argv, i); !error.empty()) {
            return UsageError(command, error);
        }
    }
    if (inv.files.size() < command->minFiles || inv.files.size() > command->maxFiles)
        return UsageError(command, "wrong number of files");
    try {
        return command->run(inv);
    } catch (const std::bad_alloc&) {
        // Nothing is written before the whole output is in memory.
        fprintf(stderr, "qzpack: out of memory\n");
        return EXIT_BAD_INPUT;
    }
}
