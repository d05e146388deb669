// qzpack run as a program: the commands end to end, their exit codes, and
// that no failure leaves a file behind.
#include <gtest/gtest.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pack/block_decoder.h"
#include "pack/block_format.h"
#include "pack/install_layout.h"
#include "packer/pack_file.h"
#include "tests/pack/block_writer.h"
#include "tests/packer/packer_test_data.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int code;
    std::string out;
    std::string err;
};

std::string ReadText(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void WriteBytes(const fs::path& p, const std::vector<uint8_t>& data)
{
    std::ofstream f(p, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

// True when the installer is longer than the stub and begins with it, but
// for the header checksum, which build makes anew for the whole file.
bool BeginsWithStub(const std::vector<uint8_t>& installer, std::vector<uint8_t> stub)
{
    const size_t field = PeChecksumOffset(stub);
    if (installer.size() <= stub.size()) return false;
    if (field != 0) std::copy_n(installer.begin() + long(field), 4, stub.begin() + long(field));
    return std::equal(stub.begin(), stub.end(), installer.begin());
}

// A fresh folder per test with four input files and a stub.
class QzpackCli : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("qzpack-cli-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        // Each fits its place: text, two x86 DLLs, a program.
        inputs = {TextBytes(670, 1), ReadSample("irprops.cpl"), ReadSample("drmclien.dll"),
                  PeSubsystemSet(PeImage(), 2)};
        Append(inputs[3], RandomBytes(3000, 2));
        if (inputs[1].empty()) inputs[1] = PeDll(nullptr);
        if (inputs[2].empty()) inputs[2] = PeDll(nullptr);
        const char* names[] = {"readme.txt", "one.dll", "two.dll", "config.exe"};
        for (size_t i = 0; i < 4; ++i) {
            files.push_back((dir / names[i]).string());
            WriteBytes(files[i], inputs[i]);
        }
        stub = (dir / "stub.exe").string();
        WriteBytes(stub, StubImage());
    }

    void TearDown() override { fs::remove_all(dir); }

    Outcome Qzpack(const std::string& args, const std::string& program = QZPACK_PATH)
    {
        const fs::path out = dir / "stdout.txt";
        const fs::path err = dir / "stderr.txt";
        const std::string command = program + " " + args + " >" + out.string() + " 2>" + err.string();
        const int status = system(command.c_str());
        Outcome r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(out), ReadText(err)};
        fs::remove(out);
        fs::remove(err);
        return r;
    }

    // build's arguments: the output, the stub ("" for none) and the files to pack.
    static std::string BuildArgs(const std::string& output, const std::string& stubPath,
                                 const std::vector<std::string>& in)
    {
        std::string args = "build -o " + output + (stubPath.empty() ? "" : " --stub " + stubPath);
        for (const std::string& f : in) args += " " + f;
        return args;
    }

    std::string Build(const std::string& output) { return BuildArgs(output, stub, files); }

    // Files in the test folder other than the inputs and the stub.
    std::vector<std::string> Leftovers(const std::vector<std::string>& expected)
    {
        std::vector<std::string> extra;
        for (const auto& e : fs::recursive_directory_iterator(dir)) {
            const std::string p = e.path().string();
            bool known = p == stub;
            for (const auto& f : files) known = known || p == f;
            for (const auto& f : expected) known = known || p == (dir / f).string();
            if (!known) extra.push_back(p);
        }
        return extra;
    }

    fs::path dir;
    std::vector<std::vector<uint8_t>> inputs;
    std::vector<std::string> files;
    std::string stub;
};

TEST_F(QzpackCli, BuildThenListVerifyExtractGiveBackTheFiles)
{
    const std::string setup = (dir / "setup.exe").string();
    const Outcome built = Qzpack(Build(setup));
    ASSERT_EQ(built.code, 0) << built.err;
    EXPECT_NE(built.out.find(INSTALL_TARGETS[1]), std::string::npos);

    const std::vector<uint8_t> installer = FileBytes(setup);
    const std::vector<uint8_t> stubBytes = FileBytes(stub);
    ASSERT_GT(installer.size(), stubBytes.size() + 4);
    EXPECT_TRUE(BeginsWithStub(installer, stubBytes));
    EXPECT_EQ(PeChecksumError(installer), "");
    EXPECT_LT(installer.size() - 4 - stubBytes.size() - LoadU32(&installer[installer.size() - 4]), 8u);
    EXPECT_EQ(installer.size() % 8, 0u);

    // The stored column, with the entries' headers, adds up to the pack.
    uint64_t stored = 0, pack = 0;
    std::istringstream report(built.out);
    for (std::string line; std::getline(report, line);) {
        size_t index;
        char name[64];
        unsigned long long size, bytes;
        if (sscanf(line.c_str(), "%zu %63s %llu %llu", &index, name, &size, &bytes) == 4)
            stored += bytes;
        else if (line.find("entry headers") != std::string::npos)
            stored += std::stoull(line.substr(line.find_last_of(' ') + 1));
        else if (sscanf(line.c_str(), "total %llu %llu", &size, &bytes) == 2)
            pack = bytes;
    }
    EXPECT_EQ(pack, LoadU32(&installer[installer.size() - 4]));
    EXPECT_EQ(stored, pack) << built.out;

    // Each entry's line names its target and what it looks like.
    const Outcome listed = Qzpack("list " + setup);
    EXPECT_EQ(listed.code, 0) << listed.err;
    std::istringstream lines(listed.out);
    std::string line;
    std::getline(lines, line);
    const char* const looks[] = {"text", "DLL x86", "DLL x86", "program x86"};
    for (size_t i = 0; i < 4 && std::getline(lines, line); ++i) {
        EXPECT_NE(line.find(INSTALL_TARGETS[i]), std::string::npos) << line;
        EXPECT_EQ(line.substr(line.size() - strlen(looks[i])), looks[i]) << line;
    }
    EXPECT_NE(listed.out.find("block"), std::string::npos);
    EXPECT_NE(listed.out.find("passed"), std::string::npos);
    EXPECT_EQ(Qzpack("verify " + setup).code, 0);

    const Outcome extracted = Qzpack("extract " + setup + " -d " + (dir / "out").string());
    ASSERT_EQ(extracted.code, 0) << extracted.err;
    for (size_t i = 0; i < 4; ++i) {
        const std::string target = TargetHostPath(INSTALL_TARGETS[i]);
        EXPECT_TRUE(FileBytes(dir / "out" / target) == inputs[i]) << target;
    }
}

// Two plugin DLLs in each other's places: build refuses them, and verify
// refuses an installer built so anyway, each unless told not to check.
TEST_F(QzpackCli, VerifyRefusesDllsInEachOthersPlacesAsBuildDoesUnlessTold)
{
    WriteBytes(files[1], PeDll("zivoravarelle.dll"));
    WriteBytes(files[2], PeDll("zivora.dll"));
    const std::string setup = (dir / "setup.exe").string();
    EXPECT_EQ(Qzpack(Build(setup)).code, 1);
    EXPECT_FALSE(fs::exists(setup));
    ASSERT_EQ(Qzpack(Build(setup) + " --no-role-check").code, 0);
    const Outcome verified = Qzpack("verify " + setup);
    EXPECT_EQ(verified.code, 1);
    for (int i : {1, 2})
        EXPECT_NE(verified.err.find("entry " + std::to_string(i) + ", installed as " + INSTALL_TARGETS[i]),
                  std::string::npos)
            << verified.err;
    EXPECT_EQ(verified.out.find("intact"), std::string::npos);
    EXPECT_EQ(Qzpack("verify --no-role-check " + setup).code, 0);
}

// Ctrl-C or a termination request while the output is being written: the
// temporary file goes, and the old output stays as it was.
TEST_F(QzpackCli, InterruptWhileWritingLeavesNoTemporaryFileAndTheOldOutput)
{
    // A block of 22 bytes that expands to 128 MiB of zeros, so the write
    // lasts long enough to be caught in the act.
    constexpr uint32_t SIZE = 64u << 20;
    BitWriter w;
    PutZeroByte(w);
    PutShortMatch(w, 1, 2);
    PutRepeat(w, SIZE - 3);
    PutEnd(w);
    const std::string qz = (dir / "zeros.qz").string();
    const std::string out = (dir / "zeros").string();
    WriteBytes(qz, MakeBlock(w, SIZE, 0));
    for (int signal : {SIGINT, SIGTERM}) {
        // A busy machine may let a write end unseen: a few tries.
        bool caught = false;
        int status = 0;
        for (int attempt = 0; attempt < 5 && !caught; ++attempt) {
            WriteBytes(out, {'o', 'l', 'd'});
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                freopen("/dev/null", "w", stdout);
                execl(QZPACK_PATH, "qzpack", "decompress", qz.c_str(), out.c_str(), (char*)nullptr);
                _exit(127);
            }
            while (waitpid(child, &status, WNOHANG) == 0) {
                if (!caught && Leftovers({"zeros.qz", "zeros"}).size() == 1) caught = kill(child, signal) == 0;
                usleep(200);
            }
            EXPECT_TRUE(Leftovers({"zeros.qz", "zeros"}).empty());
        }
        ASSERT_TRUE(caught) << "every write ended before the test saw its temporary file";
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << status;
        EXPECT_EQ(ReadText(out), "old");
        EXPECT_TRUE(Leftovers({"zeros.qz", "zeros"}).empty());
    }
}

TEST_F(QzpackCli, ExtractOfAPackWithOtherThanFourEntriesNumbersThem)
{
    const std::string block = (dir / "one.qz").string();
    ASSERT_EQ(Qzpack("compress " + files[0] + " " + block).code, 0);
    // A bare pack of one entry, put together by hand.
    std::vector<uint8_t> pack;
    AddBlock(pack, uint32_t(inputs[0].size()), FileBytes(block));
    WriteBytes(dir / "bare.pak", pack);
    ASSERT_EQ(Qzpack("extract " + (dir / "bare.pak").string() + " -d " + (dir / "x").string()).code, 0);
    EXPECT_TRUE(FileBytes(dir / "x" / "entry-0.bin") == inputs[0]);
}

TEST_F(QzpackCli, CompressDecompressRoundTripAtBothEndLevelsAnEmptyFileToo)
{
    // An empty file is one block that unpacks to nothing, not a failure.
    const std::string empty = (dir / "empty").string();
    WriteBytes(empty, {});
    const std::string qz = (dir / "a.qz").string();
    const fs::path back = dir / "a.out";
    for (const auto& [in, bytes] : {std::pair{files[1], inputs[1]}, {empty, std::vector<uint8_t>{}}}) {
        for (const char* level : {"--level 1", "--level=9"}) {
            fs::remove(back);
            ASSERT_EQ(Qzpack(std::string("compress ") + level + " " + in + " " + qz).code, 0);
            ASSERT_EQ(Qzpack("decompress " + qz + " " + back.string()).code, 0);
            EXPECT_TRUE(fs::exists(back) && FileBytes(back) == bytes) << in << ", " << level;
        }
    }
}

TEST_F(QzpackCli, DecompressOfAMalformedBlockExitsOneAndWritesNothing)
{
    const std::string qz = (dir / "a.qz").string();
    const fs::path out = dir / "a.out";
    ASSERT_EQ(Qzpack("compress " + files[1] + " " + qz).code, 0);
    // The first bit from the middle of the block on whose flip the decoder
    // notices: some bits are redundant (a near byte taken from either of two
    // equal bytes back decodes the same), and which ones depends on the parse.
    std::vector<uint8_t> flipped = FileBytes(qz);
    std::vector<uint8_t> decoded(inputs[1].size());
    for (size_t bit = flipped.size() / 2 * 8; bit < flipped.size() * 8; ++bit) {
        flipped[bit / 8] ^= uint8_t(1u << bit % 8);
        if (BlockDecompress(flipped.data(), uint32_t(flipped.size()), decoded.data(), uint32_t(decoded.size())) == 0)
            break;
        flipped[bit / 8] ^= uint8_t(1u << bit % 8);
    }
    // Empty blocks follow the rule the installer's reader follows.
    std::vector<EmptyBlockCase> cases = EmptyBlockCases();
    cases.push_back({"a flipped bit", flipped, false});
    for (const EmptyBlockCase& c : cases) {
        WriteBytes(qz, c.block);
        fs::remove(out);
        const Outcome r = Qzpack("decompress " + qz + " " + out.string());
        EXPECT_EQ(r.code, c.sound ? 0 : 1) << c.name;
        if (c.sound) {
            EXPECT_TRUE(fs::exists(out) && fs::file_size(out) == 0) << c.name;
            continue;
        }
        EXPECT_NE(r.err.find(qz), std::string::npos) << c.name;
        EXPECT_TRUE(Leftovers({"a.qz"}).empty()) << c.name;
    }
}

// Wrong usage exits 2, input that cannot be used 1, naming the file; neither
// leaves a file behind.
TEST_F(QzpackCli, WrongUsageExitsTwoBadInputOneNamingTheFileAndNothingIsLeft)
{
    const std::string setup = (dir / "setup.exe").string();
    ASSERT_EQ(Qzpack(Build(setup)).code, 0);  // a stub that carries data after its image
    const std::string out = (dir / "s.exe").string();
    const std::string missing = (dir / "missing.dll").string();
    const std::string noFolder = (dir / "no" / "such" / "s.exe").string();
    // Files for the wrong places and wrong stubs: a 64-bit DLL, a DLL linked
    // as entry 2's given as entry 1, a 64-bit program, and some other
    // program that describes itself.
    const std::string dll64 = (dir / "x64.dll").string(), misnamed = (dir / "first.dll").string();
    const std::string program64 = (dir / "x64.exe").string(), otherProgram = (dir / "other.exe").string();
    WriteBytes(dll64, PeDll(nullptr, true));
    WriteBytes(misnamed, PeDll("zivoravarelle.dll"));
    WriteBytes(program64, PeSubsystemSet(PeImage(true), 2));
    WriteBytes(otherProgram, StubImage("Zivora config"));
    // Outputs that are inputs by other names, one read-only, and folders
    // where extract would overwrite its own input or meets a file named
    // like a folder it needs.
    const std::string link = (dir / "link.exe").string(), hard = (dir / "hard.txt").string();
    fs::create_symlink(stub, link);
    fs::create_hard_link(files[0], hard);
    const std::string readOnly = (dir / "ro.exe").string();
    WriteBytes(readOnly, {'o', 'l', 'd'});
    fs::permissions(readOnly, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    const fs::path inside = dir / "inside", blocked = dir / "blocked";
    fs::create_directories(inside);
    fs::create_directories(blocked);
    const std::string insideSetup = (inside / INSTALL_TARGETS[3]).string();
    fs::copy_file(setup, insideSetup);
    WriteBytes(blocked / "plugins", {'x'});
    const std::string order = "the files go in install order: readme, zivora.dll, zivoravarelle.dll, zivora_config.exe";
    const struct {
        std::string args;
        int code;
        std::vector<std::string> inError;
    } cases[] = {
        {BuildArgs(out, stub, {files[0]}), 2, {std::begin(INSTALL_TARGETS), std::end(INSTALL_TARGETS)}},
        {"build --stub " + stub + " a b c d", 2, {"-o"}},
        {Build(out) + " --level 0", 2, {"--level"}},
        {Build(out) + " --level x", 2, {"--level"}},
        {Build(out) + " --level=0", 2, {"--level"}},
        {Build(out) + " -o " + out, 2, {"'-o'", "more than once"}},
        {Build(out) + " --level 1 --level=1", 2, {"'--level'", "more than once"}},
        {"verify --force " + setup, 2, {"--force"}},
        {"compress --force=yes a b", 2, {"--force", "no value"}},
        {"list", 2, {}},
        {"verify a b", 2, {}},
        {"compress --bogus a b", 2, {"--bogus"}},
        {"frobnicate", 2, {"frobnicate"}},
        {"", 2, {}},
        {BuildArgs(out, stub, {files[0], missing, files[2], files[3]}), 1, {missing}},
        {Build(noFolder), 1, {noFolder}},
        // Files in the wrong places.
        {BuildArgs(out, stub, {files[1], files[0], files[2], files[3]}), 1,
         {files[0] + " is given as " + INSTALL_TARGETS[1] + " (entry 1), but it is text",
          files[1] + " is given as " + INSTALL_TARGETS[0], order, "--no-role-check"}},
        {BuildArgs(out, stub, {files[0], dll64, files[2], files[3]}), 1, {dll64, "DLL x64", "32-bit", order}},
        {BuildArgs(out, stub, {files[0], misnamed, files[2], files[3]}), 1,
         {misnamed, "zivoravarelle.dll", INSTALL_TARGETS[2]}},
        {BuildArgs(out, stub, {files[0], files[1], files[3], files[3]}), 1,
         {files[3] + " is given as " + INSTALL_TARGETS[2], "program x86"}},
        {BuildArgs(out, stub, {files[0], files[1], files[2], files[2]}), 1, {"not a Windows program"}},
        // Stubs that are not the installer's.
        {BuildArgs(out, files[0], files), 1, {files[0], "text", "refused as the installer stub"}},
        {BuildArgs(out, files[1], files), 1, {files[1], "DLL x86", "refused as the installer stub"}},
        {BuildArgs(out, program64, files), 1, {program64, "program x64"}},
        {BuildArgs(out, otherProgram, files), 1, {otherProgram, "\"Zivora config\""}},
        {BuildArgs(out, setup, files), 1,
         {setup, std::to_string(StubImage().size()), std::to_string(FileBytes(setup).size())}},
        // Outputs that are inputs, by any name, and a read-only one.
        {Build(files[3]), 1, {files[3] + ": the output (-o) is the same file", INSTALL_TARGETS[3]}},
        {"build -o" + files[3] + " --stub=" + stub + " " + files[0] + " " + files[1] + " " + files[2] + " " + files[3],
         1, {files[3] + ": the output (-o) is the same file"}},
        {Build((dir / "." / "stub.exe").string()), 1, {"the installer stub"}},
        {Build(link), 1, {link, "the installer stub"}},
        {"compress " + files[0] + " " + hard, 1, {hard, "the input"}},
        {"decompress " + setup + " " + setup, 1, {"the input"}},
        {"extract " + insideSetup + " -d " + inside.string(), 1, {"the file being extracted"}},
        {Build(readOnly), 1, {readOnly, "read-only", "--force"}},
        {"extract " + setup + " -d " + blocked.string(), 1, {"plugins", "nothing was extracted"}},
        {"list " + missing, 1, {missing}},
        {"verify " + missing, 1, {missing}},
        {"extract " + missing, 1, {missing}},
        {"compress " + missing + " " + (dir / "m.qz").string(), 1, {missing}},
        {"decompress " + files[0] + " " + (dir / "m.out").string(), 1, {files[0]}},
    };
    for (const auto& c : cases) {
        const Outcome r = Qzpack(c.args);
        EXPECT_EQ(r.code, c.code) << c.args;
        for (const std::string& part : c.inError)
            EXPECT_NE(r.err.find(part), std::string::npos) << part << " not in: " << r.err;
    }
    EXPECT_TRUE(Leftovers({"setup.exe", "x64.dll", "first.dll", "x64.exe", "other.exe", "link.exe", "hard.txt",
                           "ro.exe", "inside", "inside/zivora_config.exe", "blocked", "blocked/plugins"})
                    .empty());
    for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(FileBytes(files[i]) == inputs[i]) << files[i];
    EXPECT_TRUE(FileBytes(stub) == StubImage());
    EXPECT_EQ(ReadText(readOnly), "old");
    // --force replaces a read-only output, which stays read-only.
    ASSERT_EQ(Qzpack(Build(readOnly) + " --force").code, 0);
    EXPECT_EQ(Qzpack("verify " + readOnly).code, 0);
    EXPECT_EQ(fs::status(readOnly).permissions() & fs::perms::owner_write, fs::perms::none);
    for (const char* c : {"build", "list", "verify", "extract", "compress", "decompress"}) {
        const Outcome help = Qzpack(std::string(c) + " --help");
        EXPECT_EQ(help.code, 0) << c;
        EXPECT_NE(help.out.find("usage: qzpack"), std::string::npos) << c;
    }
}

// qzpack copied into an installed layout, as a package unpacked anywhere
// puts it, must build with that layout's stub and no other; without one it
// fails, and --version says where it looked. A stub found there that is
// not the installer (a DLL named installer.exe) is refused, not used.
TEST_F(QzpackCli, BuildWithoutStubTakesThePrefixStubThenTheOneBesideElseFails)
{
    struct Layout {
        const char* program;
        std::vector<const char*> stubs;
        const char* named;  // by --version: the stub used, else the first place looked
        bool found;
        bool installer = true;  // whether the stubs written are the installer
    };
    const Layout layouts[] = {
        {"usr/bin/qzpack", {"usr/share/qzpack/installer.exe"}, "usr/share/qzpack/installer.exe", true},
        {"tool/qzpack", {"tool/installer.exe"}, "tool/installer.exe", true},
        {"opt/bin/qzpack", {"opt/bin/installer.exe", "opt/share/qzpack/installer.exe"},
         "opt/share/qzpack/installer.exe", true},
        {"lonely/bin/qzpack", {}, "lonely/share/qzpack/installer.exe", false},
        {"wrong/bin/qzpack", {"wrong/share/qzpack/installer.exe"}, "wrong/share/qzpack/installer.exe", true, false},
    };
    const fs::path setup = dir / "setup.exe";
    uint8_t mark = 0;
    for (const Layout& l : layouts) {
        SCOPED_TRACE(l.program);
        const fs::path program = dir / l.program;
        fs::create_directories(program.parent_path());
        fs::copy_file(QZPACK_PATH, program);
        std::vector<uint8_t> used;
        for (const char* s : l.stubs) {
            std::vector<uint8_t> pe = l.installer ? StubImage() : PeDll(nullptr);
            pe.back() = ++mark;  // which stub went into the installer: a padding byte
            fs::create_directories((dir / s).parent_path());
            WriteBytes(dir / s, pe);
            if (std::string(s) == l.named) used = pe;
        }
        fs::remove(setup);
        const Outcome built = Qzpack(BuildArgs(setup.string(), "", files) + " --level 1", program.string());
        const Outcome version = Qzpack("--version", program.string());
        EXPECT_EQ(version.code, 0);
        EXPECT_EQ(version.out.rfind(std::string("qzpack ") + QZPACK_VERSION + "\n", 0), 0u) << version.out;
        EXPECT_NE(version.out.find((dir / l.named).string()), std::string::npos) << version.out;
        if (!l.found) {
            EXPECT_EQ(built.code, 1);
            EXPECT_NE(built.err.find("--stub"), std::string::npos) << built.err;
            EXPECT_FALSE(fs::exists(setup));
            EXPECT_NE(version.out.find("none found"), std::string::npos) << version.out;
            continue;
        }
        if (!l.installer) {
            EXPECT_EQ(built.code, 1);
            EXPECT_NE(built.err.find((dir / l.named).string() + ": it is a DLL x86"), std::string::npos) << built.err;
            EXPECT_FALSE(fs::exists(setup));
            EXPECT_NE(version.out.find("build refuses it"), std::string::npos) << version.out;
            continue;
        }
        ASSERT_EQ(built.code, 0) << built.err;
        const std::vector<uint8_t> installer = FileBytes(setup);
        EXPECT_TRUE(BeginsWithStub(installer, used));
        EXPECT_EQ(Qzpack("verify " + setup.string(), program.string()).code, 0);
    }
}

TEST_F(QzpackCli, DamagedInstallersFailVerifyAndExtractWritesNothing)
{
    const std::string setup = (dir / "setup.exe").string();
    ASSERT_EQ(Qzpack(Build(setup)).code, 0);
    const std::vector<uint8_t> good = FileBytes(setup);
    const size_t packStart = good.size() - 4 - LoadU32(&good[good.size() - 4]);
    const size_t secondHeader = packStart + 8 + LoadU32(&good[packStart + 4]);

    struct Damage {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;  // part of the error line
        bool packIntact = false;  // only verify fails; list and extract read the pack
    };
    std::vector<Damage> damages;
    std::vector<uint8_t> truncated(good.begin(), good.end() - 100);
    damages.push_back({"truncated", truncated, "the file ends before its pack: is it a complete download?"});
    std::vector<uint8_t> badChecksum = good;
    badChecksum[secondHeader + 8 + BLOCK_CHECKSUM_OFFSET] ^= 0x01;  // entry 1's block
    damages.push_back({"checksum", badChecksum, "entry 1"});
    std::vector<uint8_t> garbled = good;
    for (size_t i = 0; i < 16; ++i) garbled[secondHeader + 8 + 200 + i] ^= 0xA5;
    damages.push_back({"garbled stream", garbled, "entry 1"});
    std::vector<uint8_t> bigTrailer = good;
    StoreU32(&bigTrailer[bigTrailer.size() - 4], uint32_t(good.size()));
    damages.push_back({"trailer larger than the file", bigTrailer, "the file ends before its pack"});
    std::vector<uint8_t> shortTrailer = good;
    StoreU32(&shortTrailer[shortTrailer.size() - 4], LoadU32(&good[good.size() - 4]) - 3);
    damages.push_back({"pack cut by the trailer", shortTrailer, ""});
    // A header checksum that is not the whole file's: a byte changed after
    // the build where no other check looks (here and in a stored entry
    // below), or the stub's own checksum (none) left in place.
    std::vector<uint8_t> stubByte = good;
    stubByte[PE_TEST_SIZE - 1] ^= 0x01;  // the headers' zero padding
    damages.push_back({"a stub byte changed", stubByte, "header checksum", true});
    std::vector<uint8_t> stubChecksum = good;
    StoreU32(&stubChecksum[PeChecksumOffset(good)], LoadU32(&FileBytes(stub)[PeChecksumOffset(good)]));
    damages.push_back({"the stub's checksum", stubChecksum, "header checksum", true});
    // Files an installer could not use: no pack at all (signed or not, the
    // trailer gives 0 bytes), or fewer entries than the installer unpacks.
    damages.push_back({"stub alone", PeImage(), "carries no pack"});
    damages.push_back({"signed stub alone", PeSigned(PeImage(), 32), "carries no pack"});
    damages.push_back({"empty file", {}, "carries no pack"});
    size_t fourth = packStart;
    for (int i = 0; i < 3; ++i) fourth += 8 + LoadU32(&good[fourth + 4]);
    // Random bytes as entry 3 are stored as they are: no block checksum
    // covers them (the verify below meets the header checksum before the
    // entry's place).
    const std::string raw = (dir / "random.bin").string();
    const std::string rawSetup = (dir / "raw-setup.exe").string();
    WriteBytes(raw, RandomBytes(3000, 2));
    ASSERT_EQ(Qzpack(BuildArgs(rawSetup, stub, {files[0], files[1], files[2], raw}) + " --no-role-check").code, 0);
    std::vector<uint8_t> storedByte = FileBytes(rawSetup);
    fs::remove(raw);
    fs::remove(rawSetup);
    size_t rawFourth = storedByte.size() - 4 - LoadU32(&storedByte[storedByte.size() - 4]);
    for (int i = 0; i < 3; ++i) rawFourth += 8 + LoadU32(&storedByte[rawFourth + 4]);
    ASSERT_EQ(LoadU32(&storedByte[rawFourth]), LoadU32(&storedByte[rawFourth + 4]));
    storedByte[rawFourth + 8 + 100] ^= 0x80;
    damages.push_back({"a stored entry's byte changed", storedByte, "header checksum", true});
    damages.push_back({"three entries",
                       InstallerAssemble(PeImage(), std::vector<uint8_t>(good.begin() + long(packStart),
                                                                           good.begin() + long(fourth))),
                       "an installer needs 4"});

    for (const Damage& d : damages) {
        fs::remove_all(dir / "out");
        const std::string bad = (dir / "bad.exe").string();
        WriteBytes(bad, d.bytes);
        const Outcome verify = Qzpack("verify " + bad);
        EXPECT_EQ(verify.code, 1) << d.what;
        EXPECT_NE(verify.err.find(bad), std::string::npos) << d.what;
        EXPECT_NE(verify.err.find(d.message), std::string::npos) << d.what << ": " << verify.err;
        EXPECT_EQ(verify.out.find("intact"), std::string::npos) << d.what;
        const int readCode = d.packIntact ? 0 : 1;
        EXPECT_EQ(Qzpack("list " + bad).code, readCode) << d.what;
        EXPECT_EQ(Qzpack("extract " + bad + " -d " + (dir / "out").string()).code, readCode) << d.what;
        EXPECT_EQ(fs::exists(dir / "out" / INSTALL_TARGETS[0]), d.packIntact) << d.what;
    }
}

// Standard output and a FIFO get exactly the bytes a file gets; the report
// moves to stderr so that it does not mix with them.
TEST_F(QzpackCli, StandardOutputAndFifoGetTheBytesAFileGets)
{
    const std::string qz = (dir / "a.qz").string();
    const std::string setup = (dir / "setup.exe").string();
    ASSERT_EQ(Qzpack("compress " + files[1] + " " + qz).code, 0);
    ASSERT_EQ(Qzpack(Build(setup)).code, 0);
    const struct {
        std::string args;
        std::string expected;
    } cases[] = {
        {"compress " + files[1] + " -", ReadText(qz)},
        {"decompress " + qz + " -", ReadText(files[1])},
        {Build("-"), ReadText(setup)},
    };
    for (const auto& c : cases) {
        const Outcome r = Qzpack(c.args);
        EXPECT_EQ(r.code, 0) << c.args << ": " << r.err;
        EXPECT_TRUE(r.out == c.expected) << c.args;
    }

    const std::string fifo = (dir / "fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << strerror(errno);
    const std::string copy = (dir / "fifo.out").string();
    const std::string command = "timeout 20 cat " + fifo + " >" + copy + " & " + QZPACK_PATH + " compress " + files[1] + " " +
                                fifo + " >/dev/null; s=$?; wait; exit $s";
    const int status = system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(ReadText(copy) == ReadText(qz));
    EXPECT_TRUE(fs::is_fifo(fifo)) << "the FIFO was replaced";
}

TEST_F(QzpackCli, DeviceNodesAreWrittenThroughAndAFullOneFailsLeavingNothing)
{
    const std::string null = (dir / "null").string();
    const std::string full = (dir / "full").string();
    // The memory devices' numbers: 1,3 discards, 1,7 is always full.
    if (mknod(null.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0 ||
        mknod(full.c_str(), S_IFCHR | 0600, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make device nodes here (" << strerror(errno) << "); needs root";

    EXPECT_EQ(Qzpack("compress " + files[1] + " " + null).code, 0);
    for (const std::string& args : {"compress " + files[1] + " " + full, Build(full)}) {
        const Outcome r = Qzpack(args);
        EXPECT_EQ(r.code, 1) << args;
        EXPECT_NE(r.err.find(strerror(ENOSPC)), std::string::npos) << r.err;
    }
    EXPECT_TRUE(fs::is_character_file(null));
    EXPECT_TRUE(fs::is_character_file(full));
    EXPECT_TRUE(Leftovers({"null", "full"}).empty());
}

TEST_F(QzpackCli, FullDiskFailsKeepingTheOldFileAndNoTemporaryFile)
{
    const fs::path small = dir / "small";
    fs::create_directories(small);
    if (mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs here (" << strerror(errno) << "); needs root";
    struct Unmount {
        fs::path at;
        ~Unmount() { umount2(at.c_str(), MNT_DETACH); }
    } unmount{small};

    // More random bytes than the file system holds: the block cannot shrink them.
    const std::string big = (dir / "big.bin").string();
    WriteBytes(big, RandomBytes(200000, 9));
    const fs::path old = small / "old.qz";
    WriteBytes(old, {'o', 'l', 'd'});
    for (const fs::path& target : {old, small / "new.qz"}) {
        const Outcome r = Qzpack("compress --level 1 " + big + " " + target.string());
        EXPECT_EQ(r.code, 1) << target;
        EXPECT_NE(r.err.find(strerror(ENOSPC)), std::string::npos) << r.err;
    }
    EXPECT_EQ(ReadText(old), "old");
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(small)) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"old.qz"});
}

TEST_F(QzpackCli, InputsLargerThanTheInstallerOrABlockHoldsAreRefusedFromTheirSizesBeforeAnyIsRead)
{
    // Sparse files: reading 64 GiB would take minutes and the memory to
    // hold it; a refusal from the sizes takes neither.
    const fs::path huge = dir / "huge.bin";
    const fs::path half = dir / "half.bin";
    const fs::path over = dir / "one-over";
    WriteBytes(huge, {});
    fs::resize_file(huge, uint64_t(64) << 30);
    WriteBytes(half, {});
    fs::resize_file(half, INSTALL_PAYLOAD_MAX / 2 + 1);
    WriteBytes(over, {});
    fs::resize_file(over, INSTALL_PAYLOAD_MAX + 1);
    const std::string out = (dir / "out").string();
    const struct {
        std::string args;
        std::string named;
        std::string limit;
    } cases[] = {
        {"compress " + huge.string() + " " + out, huge.string(), "too large for one block"},
        {BuildArgs(out, stub, {files[0], huge.string(), files[2], files[3]}), huge.string(), INSTALL_PAYLOAD_MAX_TEXT},
        {BuildArgs(out, stub, {over.string(), files[1], files[2], files[3]}), over.string(), INSTALL_PAYLOAD_MAX_TEXT},
        {BuildArgs(out, stub, {half.string(), files[1], half.string(), files[3]}), half.string(),
         INSTALL_PAYLOAD_MAX_TEXT},
    };
    for (const auto& c : cases) {
        const Outcome r = Qzpack(c.args);
        EXPECT_EQ(r.code, 1) << c.args;
        EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.limit), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.args;
    }
    // One block is not an installer: past the installer's limit it is made.
    EXPECT_EQ(Qzpack("compress --level 1 " + over.string() + " " + out).code, 0);
}

}  // namespace
