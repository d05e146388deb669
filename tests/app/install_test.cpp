// The install procedure's two halves, run in-process on installer files that
// the tests build themselves: the copy of the payload out of an executable,
// and the unpacking of "tmp.pak" into a chosen directory.
#include "app/install.h"
#include "pack/block_format.h"
#include "runtime/strings.h"
#include "tests/pack/block_writer.h"
#include "tests/pack/pe_writer.h"
#include "tests/runtime/runtime_test_support.h"

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
    EXPECT_EQ(PAYLOAD_DAMAGED, InstallOutcome.Payload);
    PayloadUnpack();
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

TEST_F(Install, DamagedOrOversizedEntryEmptyOrNotKeepsTheExistingFileAndIsListed)
{
    Bytes block = EXAMPLE_BLOCK;
    const auto packWith = [&](const Bytes& second, uint32_t unpacked = 4) {
        Bytes pack;
        AddStored(pack, BytesOf(contents[0]));
        AddBlock(pack, unpacked, second);
        AddStored(pack, BytesOf(contents[2]));
        AddStored(pack, BytesOf(contents[3]));
        return pack;
    };
    // The block decodes when intact...
    Run(packWith(block));
    EXPECT_EQ("aaaa", ReadWholeFile(target + INSTALL_TARGETS[1]));

    // ...and with one byte of its stream flipped it must not replace what is there.
    WriteWholeFile(target + INSTALL_TARGETS[1], "old plugin");
    block[11] ^= 0x10;
    Run(packWith(block));
    EXPECT_EQ(TARGET_DAMAGED, InstallOutcome.Target[1]);
    EXPECT_EQ("old plugin", ReadWholeFile(target + INSTALL_TARGETS[1]));
    ExpectInstalled({0, 2, 3});
    InstallOutcome.Registry = 2;
    EXPECT_EQ("Plugin partly installed\nThese files could not be written:\n" + target + INSTALL_TARGETS[1] +
                  " (damaged installer data)",
              Report());

    // An entry larger than memory can hold is reported so, with the limit.
    Run(packWith(block, 0x7FFFFFF0));
    EXPECT_EQ(TARGET_TOO_LARGE, InstallOutcome.Target[1]);
    EXPECT_EQ("old plugin", ReadWholeFile(target + INSTALL_TARGETS[1]));
    InstallOutcome.Registry = 2;
    EXPECT_EQ("Plugin partly installed\nThese files could not be written:\n" + target + INSTALL_TARGETS[1] +
                  " (too large, over " + INSTALL_PAYLOAD_MAX_TEXT + ")",
              Report());

    // An empty block is no exception: unless sound, it must not leave an
    // empty file where the old one was.
    for (const EmptyBlockCase& c : EmptyBlockCases()) {
        WriteWholeFile(target + INSTALL_TARGETS[1], "old plugin");
        Run(packWith(c.block, 0));
        EXPECT_EQ(c.sound ? TARGET_WRITTEN : TARGET_DAMAGED, InstallOutcome.Target[1]) << c.name;
        EXPECT_EQ(c.sound ? "" : "old plugin", ReadWholeFile(target + INSTALL_TARGETS[1])) << c.name;
    }
}

TEST_F(Install, MissingEntriesAreDamagedNotEmptyFiles)
{
    Bytes pack;
    AddStored(pack, BytesOf(contents[0]));
    AddStored(pack, BytesOf(contents[1]));
    Run(pack);
    EXPECT_EQ(TARGET_WRITTEN, InstallOutcome.Target[1]);
    EXPECT_EQ(TARGET_DAMAGED, InstallOutcome.Target[2]);
    EXPECT_EQ(TARGET_DAMAGED, InstallOutcome.Target[3]);
    EXPECT_FALSE(FileExists(target + INSTALL_TARGETS[3]));
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
