// The install procedure's two halves, run in-process on installer files that
// the tests build themselves: the copy of the payload out of an executable,
// and the unpacking of "tmp.pak" into a chosen directory.
#include "app/install.h"
#include "pack/block_decoder.h"
#include "pack/block_format.h"
#include "runtime/registry.h"
#include "runtime/strings.h"
#include "tests/pack/block_writer.h"
#include "tests/pack/pe_writer.h"
#include "tests/runtime/runtime_test_support.h"

#include <algorithm>

namespace {

using Bytes = std::vector<uint8_t>;

std::string Text(const Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

class Install : public RuntimeService {
protected:
    std::string moduleDirectory;
    std::string target; // the chosen directory, with its backslash
    const std::string executableName = "install-test-setup.exe";
    std::vector<std::string> contents = {
        "Read me first.\r\n",
        std::string(3000, 'z') + "zivora",
        "varelle plugin \x01\x02\x03" + std::string(70, '\0'),
        "config",
    };

    void SetUp() override
    {
        RuntimeService::SetUp();
        moduleDirectory = ModuleDirectoryPath();
        target = moduleDirectory + "install-test-target\\";
        RemoveTree();
        CreateDirectoryA(target.c_str(), nullptr);
        CreateDirectoryA((target + "plugins").c_str(), nullptr);
        Choose(target);
    }

    void TearDown() override
    {
        RemoveTree();
        DeleteFileA((moduleDirectory + executableName).c_str());
        DeleteFileA((moduleDirectory + "tmp.pak").c_str());
        RemoveDirectoryA((moduleDirectory + "tmp.pak").c_str());
        RuntimeService::TearDown();
    }

    void RemoveTree()
    {
        for (const char* name : INSTALL_TARGETS)
            DeleteFileA((target + name).c_str());
        RemoveDirectoryA((target + INSTALL_PLUGIN_DIRECTORY).c_str());
        RemoveDirectoryA((target + "plugins").c_str());
        RemoveDirectoryA(target.c_str());
    }

    static void Choose(const std::string& directory)
    {
        char* const start = StringBegin();
        StringAppend(directory.c_str());
        StringAssign(&InstallerState.ChosenDirectory, start);
    }

    Bytes Pack() const
    {
        Bytes pack;
        for (const std::string& c : contents)
            AddStored(pack, BytesOf(c));
        return pack;
    }

    // What stands for the executable image in front of the pack.
    static constexpr char FAKE_IMAGE[] = "MZ fake image";

    // An executable image, then the pack, then the trailer giving its length.
    static std::string InstallerFile(const Bytes& pack, uint32_t trailer, const std::string& image = FAKE_IMAGE)
    {
        uint8_t length[PACK_TRAILER_SIZE];
        StoreU32(length, trailer);
        return image + Text(pack) + std::string(length, length + PACK_TRAILER_SIZE);
    }

    void WriteInstaller(const Bytes& pack)
    {
        WriteWholeFile(moduleDirectory + executableName, InstallerFile(pack, uint32_t(pack.size())));
    }

    // Both halves of the install, on an installer carrying the pack.
    void Run(const Bytes& pack)
    {
        WriteInstaller(pack);
        PayloadCopyOut(executableName.c_str());
        PayloadUnpack();
    }

    std::string Report(int* complete = nullptr)
    {
        int ignored = 0;
        char* const start = StringBegin();
        const std::string text = InstallReportText(start, complete ? complete : &ignored);
        StringRelease(start);
        return text;
    }

    void ExpectInstalled(std::initializer_list<int> targets = {0, 1, 2, 3})
    {
        for (int i : targets)
            EXPECT_EQ(contents[size_t(i)], ReadWholeFile(target + INSTALL_TARGETS[i])) << INSTALL_TARGETS[i];
    }

    void ExpectNothingInstalled()
    {
        for (const char* name : INSTALL_TARGETS)
            EXPECT_FALSE(FileExists(target + name)) << name;
    }
};

// An existing target is replaced, not appended to nor left longer.
TEST_F(Install, WellFormedInstallerWritesAllFourTargetsByteIdenticalOverOldOnes)
{
    WriteWholeFile(target + INSTALL_TARGETS[3], std::string(10000, 'o'));
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_READ, InstallOutcome.Payload);
    EXPECT_EQ(Text(Pack()), ReadWholeFile(moduleDirectory + "tmp.pak"));
    PayloadUnpack();
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i)
        EXPECT_EQ(TARGET_WRITTEN, InstallOutcome.Target[i]) << i;
    ExpectInstalled();
    InstallOutcome.Registry = 2;
    EXPECT_EQ(std::string("Plugin intalled\nVisit my web for more games:\nhttps://zivora-varelle.example.org/\n"
                          "And read '") + INSTALL_TARGETS[0] + "' on WinAmp directory",
              Report());
}

// A trailer pointing outside the file; a file with no byte in front of its
// trailer, with no room for a payload whatever its last four bytes say.
TEST_F(Install, UnreadablePayloadInstallsNothingAndLeavesNoPack)
{
    struct Case {
        const char* what;
        std::string file;
    };
    const Bytes pack = Pack();
    const Case cases[] = {
        {"trailer larger than the file", InstallerFile(pack, uint32_t(pack.size() + 100))},
        {"trailer one byte past the file's start",
         InstallerFile(pack, uint32_t(pack.size() + StringLength(FAKE_IMAGE) + 1))},
        {"trailer far beyond the file", InstallerFile(pack, 0x7FFFFFF0u)},
        {"trailer zero", InstallerFile(pack, 0)},
        {"trailer negative", InstallerFile(pack, 0xFFFFFFF0u)},
        {"shorter than a trailer", "MZ"},
        {"only a trailer of 1", std::string("\x01\0\0\0", 4)},
        {"only a trailer of 0x7FFFFFFF", std::string("\xFF\xFF\xFF\x7F", 4)},
    };
    for (const Case& c : cases) {
        WriteWholeFile(moduleDirectory + executableName, c.file);
        PayloadCopyOut(executableName.c_str());
        EXPECT_EQ(PAYLOAD_DAMAGED, InstallOutcome.Payload) << c.what;
        EXPECT_FALSE(FileExists(moduleDirectory + "tmp.pak")) << c.what;
        PayloadUnpack();
        ExpectNothingInstalled();
        EXPECT_EQ("Plugin not installed\nThe installer file is damaged or incomplete.", Report()) << c.what;
    }
}

// A signer appends its certificate table after the trailer: the pack in
// front of it installs as if the file ended there.
TEST_F(Install, SignedInstallerFindsThePackInFrontOfItsCertificateTable)
{
    const Bytes pack = Pack();
    const Bytes file = BytesOf(InstallerFile(pack, uint32_t(pack.size()), Text(PeImage())));
    WriteWholeFile(moduleDirectory + executableName, Text(PeSigned(file, 40)));
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_READ, InstallOutcome.Payload);
    EXPECT_EQ(Text(pack), ReadWholeFile(moduleDirectory + "tmp.pak"));
}

TEST_F(Install, StalePackOfAnEarlierRunIsNeverInstalled)
{
    // The executable cannot be opened; a "tmp.pak" an earlier run left must
    // not be taken for its payload.
    WriteWholeFile(moduleDirectory + "tmp.pak", Text(Pack()));
    PayloadCopyOut("no-such-installer.exe");
    EXPECT_EQ(PAYLOAD_NOT_OPENED, InstallOutcome.Payload);
    PayloadUnpack();
    ExpectNothingInstalled();
}

// A sound installer that cannot open its own file must not send the user
// to download it again: the report says why it could not, from the path the
// system gave.
TEST_F(Install, OwnFileNotOpenedIsNotCalledDamaged)
{
    const std::string longest(MAX_PATH - 1, 'p');
    struct Case {
        const char* path;
        DWORD length;
        PayloadResult result;
        const char* report;
    };
    const Case cases[] = {
        {"C:\\??\\my setup (1).exe", 22, PAYLOAD_NAME_NOT_IN_CODE_PAGE,
         ": its path has characters that this system's code page lacks.\nMove or rename it and run it again."},
        {"C:\\Downloads\\\xe9t\xe9\\setup.exe", 25, PAYLOAD_NOT_OPENED, "."},
        {longest.c_str(), MAX_PATH - 1, PAYLOAD_NOT_OPENED, "."},
        {longest.c_str(), MAX_PATH, PAYLOAD_PATH_TOO_LONG, ": its path is too long.\nMove or rename it and run it again."},
    };
    for (const Case& c : cases) {
        InstallOutcome.Payload = ExecutableOpenFailure(c.path, c.length);
        EXPECT_EQ(c.result, InstallOutcome.Payload) << c.path;
        PayloadUnpack();
        EXPECT_EQ(std::string("Plugin not installed\nThe installer cannot open its own file") + c.report, Report());
    }
    ExpectNothingInstalled();
}

// Another program of the user changes "tmp.pak" between the two halves:
// nothing of it may be installed.
TEST_F(Install, PackChangedBetweenWriteAndReadInstallsNothing)
{
    const std::string pack = moduleDirectory + "tmp.pak";
    const std::string planted = moduleDirectory + "planted.pak";
    contents[3] = "planted by someone else";
    const Bytes other = Pack();
    contents[3] = "config";
    struct Case {
        const char* what;
        void (*change)(const std::string& pack, const std::string& planted, const Bytes& other);
        const char* report;
    };
    const Case cases[] = {
        // Same name, another file. (Deleting first and creating anew can give
        // the new file the old one's number under Wine, whose file numbers
        // are the host's inodes; NTFS never reuses a file's identity that way.)
        {"replaced by another file",
         [](const std::string& pack, const std::string& planted, const Bytes& other) {
             WriteWholeFile(planted, Text(other));
             ASSERT_TRUE(MoveFileExA(planted.c_str(), pack.c_str(), MOVEFILE_REPLACE_EXISTING));
         },
         "Plugin not installed\nThe installer file is damaged or incomplete."},
        // Same file, same length, other bytes: its identity cannot tell.
        {"rewritten in place",
         [](const std::string& pack, const std::string&, const Bytes& other) {
             HANDLE file = CreateFileA(pack.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
             ASSERT_NE(INVALID_HANDLE_VALUE, file);
             DWORD written = 0;
             WriteFile(file, other.data(), DWORD(other.size()), &written, nullptr);
             CloseHandle(file);
         },
         "Plugin not installed\nThe installer's temporary file was changed while it ran."},
    };
    for (const Case& c : cases) {
        WriteInstaller(Pack());
        PayloadCopyOut(executableName.c_str());
        ASSERT_EQ(PAYLOAD_READ, InstallOutcome.Payload) << c.what;
        c.change(pack, planted, other);
        PayloadUnpack();
        ExpectNothingInstalled();
        int complete = 1;
        EXPECT_EQ(c.report, Report(&complete)) << c.what;
        EXPECT_EQ(0, complete) << c.what;
    }
}

// Where "tmp.pak" cannot be created beside the executable (here a folder
// holds its name; on read-only media nothing can be created there), it goes
// to the temporary folder; only when both fail is nothing installed.
TEST_F(Install, PackGoesToTheTemporaryFolderWhenNotWritableBesideTheExecutable)
{
    const std::string temporary = moduleDirectory + "install-test-temp\\";
    CreateDirectoryA(temporary.c_str(), nullptr);
    ASSERT_TRUE(SetEnvironmentVariableA("TMP", temporary.c_str()));
    ASSERT_TRUE(CreateDirectoryA((moduleDirectory + "tmp.pak").c_str(), nullptr));
    WriteInstaller(Pack());

    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_READ, InstallOutcome.Payload);
    EXPECT_EQ(temporary + "tmp.pak", InstallOutcome.PackPath);
    EXPECT_EQ(Text(Pack()), ReadWholeFile(temporary + "tmp.pak"));
    PayloadUnpack();
    ExpectInstalled();
    DeleteFileA((temporary + "tmp.pak").c_str());

    ASSERT_TRUE(CreateDirectoryA((temporary + "tmp.pak").c_str(), nullptr));
    RemoveTree();
    CreateDirectoryA(target.c_str(), nullptr);
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_NOT_WRITTEN, InstallOutcome.Payload);
    PayloadUnpack();
    ExpectNothingInstalled();
    EXPECT_EQ("Plugin not installed\nCould not write " + moduleDirectory + "tmp.pak", Report());

    SetEnvironmentVariableA("TMP", nullptr);
    RemoveDirectoryA((temporary + "tmp.pak").c_str());
    RemoveDirectoryA(temporary.c_str());
}

// An entry larger than memory holds installs nothing, not even the entries
// before it, and the report names the limit rather than damage.
TEST_F(Install, EntryLargerThanMemoryInstallsNothingAndNamesTheLimit)
{
    CreateDirectoryA((target + INSTALL_PLUGIN_DIRECTORY).c_str(), nullptr);
    WriteWholeFile(target + INSTALL_TARGETS[1], "old plugin");
    Bytes pack;
    AddStored(pack, BytesOf(contents[0]));
    AddBlock(pack, 0x7FFFFFF0, EXAMPLE_BLOCK);
    AddStored(pack, BytesOf(contents[2]));
    AddStored(pack, BytesOf(contents[3]));
    Run(pack);
    EXPECT_EQ(PAYLOAD_TOO_LARGE, InstallOutcome.Payload);
    EXPECT_EQ("old plugin", ReadWholeFile(target + INSTALL_TARGETS[1]));
    for (int i : {0, 2, 3})
        EXPECT_FALSE(FileExists(target + INSTALL_TARGETS[i])) << INSTALL_TARGETS[i];
    InstallOutcome.Registry = 2;
    EXPECT_EQ(std::string("Plugin not installed (too large, over ") + INSTALL_PAYLOAD_MAX_TEXT + ")", Report());
}

// An empty block is no exception: unless sound, it installs nothing, and
// no empty file takes the old one's place.
TEST_F(Install, EmptyEntryInstallsOnlyWhenItsBlockIsSound)
{
    CreateDirectoryA((target + INSTALL_PLUGIN_DIRECTORY).c_str(), nullptr);
    for (const EmptyBlockCase& c : EmptyBlockCases()) {
        WriteWholeFile(target + INSTALL_TARGETS[1], "old plugin");
        DeleteFileA((target + INSTALL_TARGETS[3]).c_str());
        Bytes pack;
        AddStored(pack, BytesOf(contents[0]));
        AddBlock(pack, 0, c.block);
        AddStored(pack, BytesOf(contents[2]));
        AddStored(pack, BytesOf(contents[3]));
        Run(pack);
        EXPECT_EQ(c.sound ? TARGET_WRITTEN : TARGET_DAMAGED, InstallOutcome.Target[1]) << c.name;
        EXPECT_EQ(c.sound ? "" : "old plugin", ReadWholeFile(target + INSTALL_TARGETS[1])) << c.name;
        EXPECT_EQ(c.sound, FileExists(target + INSTALL_TARGETS[3])) << c.name;
    }
}

// The payload as qzpack makes it of real files: every entry a block with
// its checksum, here all literals, written by hand.
Bytes BlockOf(const std::string& text)
{
    BitWriter w;
    PutLiteralFormat(w, 8, 0);
    for (const char c : text)
        PutLiteral(w, 8, uint8_t(c));
    PutEnd(w);
    return MakeBlock(w, uint32_t(text.size()), BlockChecksum(BytesOf(text).data(), uint32_t(text.size())));
}

// Damaged copies of one installer, one row per kind of damage, each
// unpacked over older versions of the four targets. A damaged installer
// must leave every target as it was and say so, naming the first entry
// found at fault where the row knows it. Entries that trade places are
// sound, and nothing in the format ties an entry to its target: those
// install, but each target holds one new file whole.
TEST_F(Install, DamagedInstallerChangesNothingAndSaysSo)
{
    CreateDirectoryA((target + INSTALL_PLUGIN_DIRECTORY).c_str(), nullptr);
    std::vector<Bytes> entries(INSTALL_TARGET_COUNT);
    std::vector<uint32_t> stored;
    for (size_t i = 0; i < entries.size(); ++i) {
        const Bytes block = BlockOf(contents[i]);
        AddBlock(entries[i], uint32_t(contents[i].size()), block);
        stored.push_back(uint32_t(block.size()));
    }
    const auto installerOf = [&](std::initializer_list<size_t> order, const std::string& more = "") {
        Bytes pack;
        for (const size_t i : order)
            pack.insert(pack.end(), entries[i].begin(), entries[i].end());
        pack.insert(pack.end(), more.begin(), more.end());
        return InstallerFile(pack, uint32_t(pack.size()));
    };
    const std::string good = installerOf({0, 1, 2, 3});
    const size_t trailer = good.size() - PACK_TRAILER_SIZE;
    const uint32_t length = uint32_t(trailer - StringLength(FAKE_IMAGE));
    std::vector<size_t> at; // where each entry's header lies in the file
    for (size_t i = 0, offset = StringLength(FAKE_IMAGE); i < entries.size(); offset += entries[i++].size())
        at.push_back(offset);
    const auto setU32 = [](std::string f, size_t offset, uint32_t v) {
        StoreU32(reinterpret_cast<uint8_t*>(&f[offset]), v);
        return f;
    };
    const auto trailerOf = [&](uint32_t v) { return setU32(good, trailer, v); };
    const auto flipped = [&](size_t offset, int bit) {
        std::string f = good;
        f[offset] = char(f[offset] ^ (1 << bit));
        return f;
    };
    // Entry 2 with entry 1's block, its stored size made to fit.
    const Bytes entry2 = entries[2];
    entries[2].resize(PACK_ENTRY_HEADER_SIZE);
    StoreU32(&entries[2][PACK_ENTRY_STORED_SIZE_OFFSET], stored[1]);
    entries[2].insert(entries[2].end(), entries[1].begin() + PACK_ENTRY_HEADER_SIZE, entries[1].end());
    const std::string replaced = installerOf({0, 1, 2, 3});
    entries[2] = entry2;

    enum Expect { DAMAGED, INSTALLED };
    struct Row {
        const char* what;
        std::vector<std::string> copies;
        Expect expect;
        const char* entry; // the report's last line; "" for none, null for any
    };
    std::vector<Row> rows = {
        {"intact", {good}, INSTALLED, nullptr},
        {"entries swapped", {installerOf({0, 2, 1, 3}), installerOf({3, 1, 2, 0})}, INSTALLED, nullptr},
        {"the trailer one entry short", {trailerOf(length - uint32_t(entries[0].size()))}, DAMAGED,
         "Its entry for zivora_config.exe is missing."},
        {"the trailer a few bytes short", {trailerOf(length - 1), trailerOf(length - 8)}, DAMAGED, nullptr},
        {"the trailer too large", {trailerOf(length + 1), trailerOf(uint32_t(trailer)), trailerOf(0x7FFFFFFF)}, DAMAGED, nullptr},
        {"the trailer zero", {trailerOf(0)}, DAMAGED, ""},
        {"a bit flipped in the trailer", {flipped(trailer, 0), flipped(trailer + 1, 3), flipped(trailer + 3, 6)}, DAMAGED,
         nullptr},
        {"the installer cut short",
         {good.substr(0, trailer), good.substr(0, trailer + 2), good.substr(0, at[2] + 100), good.substr(0, at[1]),
          good.substr(0, 3)},
         DAMAGED, nullptr},
        {"the last entry's stored size one past the end", {setU32(good, at[3] + 4, stored[3] + 1)}, DAMAGED,
         "Its entry for zivora_config.exe is damaged."},
        {"sizes far past the end", {setU32(good, at[1] + 4, 0x7FFFFFF0), setU32(good, at[2], 0xFFFFFFFF)}, DAMAGED,
         nullptr},
        {"a block replaced by another entry's", {replaced}, DAMAGED, "Its entry for plugins\\zivoravarelle.dll is damaged."},
        {"bytes after the last entry", {installerOf({0, 1, 2, 3}, "x"), installerOf({0, 1, 2, 3, 0})}, DAMAGED, ""},
        {"bytes appended to the file", {good + "x", good + std::string(4, 0), good + std::string(100, 'A')}, DAMAGED,
         nullptr},
        {"the pack two entries long", {installerOf({0, 1})},
         DAMAGED, "Its entry for plugins\\zivoravarelle.dll is missing."},
    };
    Row header{"a bit flipped in a header field", {}, DAMAGED, nullptr};
    Row stream{"a bit flipped in a block's stream", {}, DAMAGED, nullptr};
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        const size_t block = at[size_t(i)] + PACK_ENTRY_HEADER_SIZE;
        for (const size_t field : {at[size_t(i)], at[size_t(i)] + 4, block, block + BLOCK_UNPACKED_SIZE_OFFSET,
                                   block + BLOCK_CHECKSUM_OFFSET})
            header.copies.push_back(flipped(field, i));
        header.copies.push_back(flipped(at[size_t(i)] + 3, 7));
        stream.copies.push_back(flipped(block + BLOCK_HEADER_SIZE, 7));
        stream.copies.push_back(flipped(block + BLOCK_HEADER_SIZE + (stored[size_t(i)] - BLOCK_HEADER_SIZE) / 2, 5));
    }
    rows.push_back(header);
    rows.push_back(stream);

    for (const Row& row : rows) {
        for (size_t n = 0; n < row.copies.size(); ++n) {
            // No SCOPED_TRACE: its per-thread stack starts a watcher thread,
            // which the emulated 32-bit Wine of some machines cannot run.
            const std::string copy = std::string(row.what) + ", copy " + std::to_string(n);
            for (const char* name : INSTALL_TARGETS)
                WriteWholeFile(target + name, std::string("old ") + name);
            WriteWholeFile(moduleDirectory + executableName, row.copies[n]);
            PayloadCopyOut(executableName.c_str());
            PayloadUnpack();
            InstallOutcome.Registry = REGISTRY_SET;
            int complete = 0;
            const std::string report = Report(&complete);
            for (const char* name : INSTALL_TARGETS) {
                const std::string now = ReadWholeFile(target + name);
                if (row.expect == DAMAGED)
                    EXPECT_EQ(std::string("old ") + name, now) << copy;
                else
                    EXPECT_NE(contents.end(), std::find(contents.begin(), contents.end(), now)) << copy << ": " << name;
                EXPECT_FALSE(FileExists(target + name + INSTALL_TEMPORARY_SUFFIX)) << copy;
            }
            EXPECT_EQ(int(row.expect == INSTALLED), complete) << copy << ": " << report;
            const std::string damaged = "Plugin not installed\nThe installer file is damaged or incomplete.";
            if (row.expect == DAMAGED && row.entry)
                EXPECT_EQ(*row.entry ? damaged + "\n" + row.entry : damaged, report) << copy;
            else if (row.expect == DAMAGED)
                EXPECT_EQ(damaged, report.substr(0, damaged.size())) << copy;
        }
    }
}

TEST_F(Install, WithoutPluginsFolderOnlyTheTopLevelTargetsAreWritten)
{
    RemoveDirectoryA((target + "plugins").c_str());
    Run(Pack());
    ExpectInstalled({0, 3});
    EXPECT_EQ(TARGET_NOT_CREATED, InstallOutcome.Target[1]);
    EXPECT_EQ(TARGET_NOT_CREATED, InstallOutcome.Target[2]);
    InstallOutcome.Registry = 0;
    EXPECT_EQ("Plugin partly installed\nThese files could not be written:\n" + target + INSTALL_TARGETS[1] +
                  " (could not be created)\n" + target + INSTALL_TARGETS[2] +
                  " (could not be created)\nThe Winamp directory could not be recorded in the registry.",
              Report());
}

TEST_F(Install, TargetHeldOpenByAnotherProgramIsListedOthersWritten)
{
    const std::string held = target + INSTALL_TARGETS[2];
    WriteWholeFile(held, "loaded by the player");
    HANDLE lock = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    Run(Pack());
    CloseHandle(lock);
    EXPECT_EQ("loaded by the player", ReadWholeFile(held));
    ExpectInstalled({0, 1, 3});
    EXPECT_FALSE(FileExists(held + INSTALL_TEMPORARY_SUFFIX));
    InstallOutcome.Registry = 2;
    EXPECT_EQ("Plugin partly installed\nThese files could not be written:\n" + held +
                  " (in use: close Winamp and run the installer again)",
              Report());
}

TEST_F(Install, WithoutAChosenDirectoryTargetsGoBesideTheExecutable)
{
    InstallerState.ChosenDirectory = nullptr;
    // From here on the targets' place, where TearDown removes them.
    RemoveTree();
    target = moduleDirectory;
    contents = {"r", "d1", "d2", "c"};
    Run(Pack());
    ExpectInstalled({0, 3});
}

} // namespace
