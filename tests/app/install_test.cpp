// The install procedure's two halves, run in-process on installer files that
// the tests build themselves: the copy of the payload out of an executable,
// and the unpacking of "tmp.pak" into a chosen directory.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

#include "app/install.h"
#include "app/installer_state.h"
#include "app/startup.h"
#include "pack/block_format.h"
#include "runtime/strings.h"
#include "tests/pack/pe_writer.h"

namespace {

const char* const TARGETS[INSTALL_TARGET_COUNT] = {
    "zivoravarelle-readme.txt",
    "plugins\\zivora\\zivora.dll",
    "plugins\\zivoravarelle.dll",
    "zivora_config.exe",
};

// A block of 4 bytes "aaaa" with its checksum: a literal-format code, a
// literal, a short match and the end code.
const uint8_t AAAA_BLOCK[18] = {'Q', 'Z', 4, 0, 0, 0, 0xA2, 0xA3, 0xA3, 0xA3, 0x14, 0x40, 0xD8, 0x20, 0, 0, 0, 0};

std::string Bytes(const uint8_t* data, size_t size)
{
    return std::string(reinterpret_cast<const char*>(data), size);
}

std::string U32(uint32_t v)
{
    uint8_t b[4];
    StoreU32(b, v);
    return Bytes(b, 4);
}

std::string StoredEntry(const std::string& bytes)
{
    return U32(uint32_t(bytes.size())) + U32(uint32_t(bytes.size())) + bytes;
}

std::string BlockEntry(uint32_t unpacked, const std::string& block)
{
    return U32(unpacked) + U32(uint32_t(block.size())) + block;
}

std::string ReadWholeFile(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "(missing)";
    std::string bytes(GetFileSize(file, nullptr), '\0');
    DWORD read = 0;
    if (!bytes.empty())
        ReadFile(file, &bytes[0], DWORD(bytes.size()), &read, nullptr);
    CloseHandle(file);
    return bytes.substr(0, read);
}

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written = 0;
    WriteFile(file, bytes.data(), DWORD(bytes.size()), &written, nullptr);
    CloseHandle(file);
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

class Install : public ::testing::Test {
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
        ASSERT_EQ(1, InstallerStartup(GetModuleHandleA(nullptr)));
        moduleDirectory = InstallerState.ModuleDirectory;
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
        InstallerShutdown();
    }

    void RemoveTree()
    {
        for (const char* name : TARGETS)
            DeleteFileA((target + name).c_str());
        RemoveDirectoryA((target + "plugins\\zivora").c_str());
        RemoveDirectoryA((target + "plugins").c_str());
        RemoveDirectoryA(target.c_str());
    }

    static void Choose(const std::string& directory)
    {
        char* const start = StringBegin();
        StringAppend(directory.c_str());
        StringAssign(&InstallerState.ChosenDirectory, start);
    }

    std::string Pack() const
    {
        std::string pack;
        for (const std::string& c : contents)
            pack += StoredEntry(c);
        return pack;
    }

    // An executable image, then the pack, then its length.
    void WriteInstaller(const std::string& pack, uint32_t trailer)
    {
        WriteWholeFile(moduleDirectory + executableName, "MZ fake image" + pack + U32(trailer));
    }

    void WriteInstaller(const std::string& pack) { WriteInstaller(pack, uint32_t(pack.size())); }

    std::string Report()
    {
        int complete = 0;
        char* const start = StringBegin();
        InstallReportText(start, &complete);
        std::string text = start;
        StringRelease(start);
        return text;
    }

    void ExpectNothingInstalled()
    {
        for (const char* name : TARGETS)
            EXPECT_FALSE(Exists(target + name)) << name;
    }
};

TEST_F(Install, WellFormedInstallerWritesAllFourTargetsByteIdentical)
{
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_READ, InstallOutcome.Payload);
    EXPECT_EQ(Pack(), ReadWholeFile(moduleDirectory + "tmp.pak"));
    PayloadUnpack();
    for (int i = 0; i < INSTALL_TARGET_COUNT; ++i) {
        EXPECT_EQ(TARGET_WRITTEN, InstallOutcome.Target[i]) << i;
        EXPECT_EQ(contents[size_t(i)], ReadWholeFile(target + TARGETS[i])) << TARGETS[i];
    }
    InstallOutcome.Registry = 2;
    EXPECT_EQ("Plugin intalled\nVisit my web for more games:\nhttps://zivora-varelle.example.org/\n"
              "And read 'zivoravarelle-readme.txt' on WinAmp directory",
              Report());
}

TEST_F(Install, ExistingTargetIsReplacedNotAppendedTo)
{
    WriteWholeFile(target + TARGETS[3], std::string(10000, 'o'));
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    EXPECT_EQ(contents[3], ReadWholeFile(target + TARGETS[3]));
}

TEST_F(Install, UnreadablePayloadInstallsNothingAndLeavesNoPack)
{
    struct Case {
        const char* what;
        std::string pack;
        uint32_t trailer;
    };
    const std::string pack = Pack();
    const Case cases[] = {
        {"trailer larger than the file", pack, uint32_t(pack.size() + 100)},
        {"trailer far beyond the file", pack, 0x7FFFFFF0u},
        {"trailer zero", pack, 0},
        {"trailer negative", pack, 0xFFFFFFF0u},
    };
    for (const Case& c : cases) {
        WriteInstaller(c.pack, c.trailer);
        PayloadCopyOut(executableName.c_str());
        EXPECT_EQ(PAYLOAD_DAMAGED, InstallOutcome.Payload) << c.what;
        EXPECT_FALSE(Exists(moduleDirectory + "tmp.pak")) << c.what;
        PayloadUnpack();
        ExpectNothingInstalled();
        EXPECT_EQ("Plugin not installed\nThe installer file is damaged or incomplete.", Report()) << c.what;
    }
}

// A signer appends its certificate table after the trailer: the pack in
// front of it installs as if the file ended there.
TEST_F(Install, SignedInstallerFindsThePackInFrontOfItsCertificateTable)
{
    const std::vector<uint8_t> image = PeImage();
    const std::string unsignedFile = std::string(image.begin(), image.end()) + Pack() + U32(uint32_t(Pack().size()));
    const std::vector<uint8_t> signedFile = PeSigned(std::vector<uint8_t>(unsignedFile.begin(), unsignedFile.end()), 40);
    WriteWholeFile(moduleDirectory + executableName, std::string(signedFile.begin(), signedFile.end()));
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_READ, InstallOutcome.Payload);
    EXPECT_EQ(Pack(), ReadWholeFile(moduleDirectory + "tmp.pak"));
}

TEST_F(Install, FileShorterThanATrailerIsDamaged)
{
    WriteWholeFile(moduleDirectory + executableName, "MZ");
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_DAMAGED, InstallOutcome.Payload);
    PayloadUnpack();
    ExpectNothingInstalled();
}

TEST_F(Install, StalePackOfAnEarlierRunIsNeverInstalled)
{
    // The executable cannot be opened; a "tmp.pak" an earlier run left must
    // not be taken for its payload.
    WriteWholeFile(moduleDirectory + "tmp.pak", Pack());
    PayloadCopyOut("no-such-installer.exe");
    EXPECT_EQ(PAYLOAD_DAMAGED, InstallOutcome.Payload);
    PayloadUnpack();
    ExpectNothingInstalled();
}

TEST_F(Install, PackReplacedBetweenWriteAndReadIsRefused)
{
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    ASSERT_EQ(PAYLOAD_READ, InstallOutcome.Payload);

    // Another program moves a pack of its own over it: same name, another
    // file. (Deleting first and creating anew can give the new file the old
    // one's number under Wine, whose file numbers are the host's inodes;
    // NTFS never reuses a file's identity that way.)
    const std::string pack = moduleDirectory + "tmp.pak";
    const std::string planted = moduleDirectory + "planted.pak";
    contents[3] = "planted by someone else";
    WriteWholeFile(planted, Pack());
    ASSERT_TRUE(MoveFileExA(planted.c_str(), pack.c_str(), MOVEFILE_REPLACE_EXISTING));

    PayloadUnpack();
    EXPECT_EQ(PAYLOAD_DAMAGED, InstallOutcome.Payload);
    ExpectNothingInstalled();
    EXPECT_EQ("Plugin not installed\nThe installer file is damaged or incomplete.", Report());
}

TEST_F(Install, PackThatCannotBeWrittenIsReportedWithItsPath)
{
    // A directory of that name makes the file impossible to create.
    ASSERT_TRUE(CreateDirectoryA((moduleDirectory + "tmp.pak").c_str(), nullptr));
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    EXPECT_EQ(PAYLOAD_NOT_WRITTEN, InstallOutcome.Payload);
    PayloadUnpack();
    ExpectNothingInstalled();
    EXPECT_EQ("Plugin not installed\nCould not write " + moduleDirectory + "tmp.pak", Report());
}

TEST_F(Install, DamagedEntryKeepsTheExistingFileAndIsListed)
{
    std::string block = Bytes(AAAA_BLOCK, sizeof AAAA_BLOCK);
    std::string pack = StoredEntry(contents[0]) + BlockEntry(4, block) + StoredEntry(contents[2]) +
                       StoredEntry(contents[3]);
    // The block decodes when intact...
    WriteInstaller(pack);
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    EXPECT_EQ("aaaa", ReadWholeFile(target + TARGETS[1]));

    // ...and with one byte of its stream flipped it must not replace what is there.
    WriteWholeFile(target + TARGETS[1], "old plugin");
    block[11] ^= 0x10;
    pack = StoredEntry(contents[0]) + BlockEntry(4, block) + StoredEntry(contents[2]) + StoredEntry(contents[3]);
    WriteInstaller(pack);
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    EXPECT_EQ(TARGET_DAMAGED, InstallOutcome.Target[1]);
    EXPECT_EQ("old plugin", ReadWholeFile(target + TARGETS[1]));
    EXPECT_EQ(contents[0], ReadWholeFile(target + TARGETS[0]));
    EXPECT_EQ(contents[2], ReadWholeFile(target + TARGETS[2]));
    EXPECT_EQ(contents[3], ReadWholeFile(target + TARGETS[3]));
    InstallOutcome.Registry = 2;
    EXPECT_EQ("Plugin partly installed\nThese files could not be written:\n" + target + TARGETS[1] +
                  " (damaged installer data)",
              Report());
}

TEST_F(Install, MissingEntriesAreDamagedNotEmptyFiles)
{
    WriteInstaller(StoredEntry(contents[0]) + StoredEntry(contents[1]));
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    EXPECT_EQ(TARGET_WRITTEN, InstallOutcome.Target[1]);
    EXPECT_EQ(TARGET_DAMAGED, InstallOutcome.Target[2]);
    EXPECT_EQ(TARGET_DAMAGED, InstallOutcome.Target[3]);
    EXPECT_FALSE(Exists(target + TARGETS[3]));
}

TEST_F(Install, WithoutPluginsFolderOnlyTheTopLevelTargetsAreWritten)
{
    RemoveDirectoryA((target + "plugins").c_str());
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    EXPECT_EQ(contents[0], ReadWholeFile(target + TARGETS[0]));
    EXPECT_EQ(contents[3], ReadWholeFile(target + TARGETS[3]));
    EXPECT_EQ(TARGET_NOT_CREATED, InstallOutcome.Target[1]);
    EXPECT_EQ(TARGET_NOT_CREATED, InstallOutcome.Target[2]);
    InstallOutcome.Registry = 0;
    EXPECT_EQ("Plugin partly installed\nThese files could not be written:\n" + target + TARGETS[1] +
                  " (could not be created)\n" + target + TARGETS[2] +
                  " (could not be created)\nThe Winamp directory could not be recorded in the registry.",
              Report());
}

TEST_F(Install, TargetHeldOpenByAnotherProgramIsListedOthersWritten)
{
    const std::string held = target + TARGETS[2];
    WriteWholeFile(held, "loaded by the player");
    HANDLE lock = CreateFileA(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    CloseHandle(lock);
    EXPECT_EQ(TARGET_NOT_CREATED, InstallOutcome.Target[2]);
    EXPECT_EQ("loaded by the player", ReadWholeFile(held));
    EXPECT_EQ(contents[3], ReadWholeFile(target + TARGETS[3]));
}

TEST_F(Install, WithoutAChosenDirectoryTargetsGoBesideTheExecutable)
{
    InstallerState.ChosenDirectory = nullptr;
    contents = {"r", "d1", "d2", "c"};
    WriteInstaller(Pack());
    PayloadCopyOut(executableName.c_str());
    PayloadUnpack();
    EXPECT_EQ("r", ReadWholeFile(moduleDirectory + TARGETS[0]));
    EXPECT_EQ("c", ReadWholeFile(moduleDirectory + TARGETS[3]));
    DeleteFileA((moduleDirectory + TARGETS[0]).c_str());
    DeleteFileA((moduleDirectory + TARGETS[3]).c_str());
    DeleteFileA((moduleDirectory + TARGETS[1]).c_str());
    DeleteFileA((moduleDirectory + TARGETS[2]).c_str());
}

} // namespace
