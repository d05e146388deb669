// The version resource read from a PE file: found through the headers, the
// section table and three levels of resource directory, and nothing read
// outside the file when any of them is damaged or cut short. Then what a
// file looks like from its headers, and the places each kind may take.
#include "packer/pe_version.h"
#include "packer/file_roles.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/packer/packer_test_data.h"

namespace {

TEST(PeVersionRead, FindsFileAndProductVersionThroughTheResourceTree)
{
    PeVersion v;
    ASSERT_TRUE(PeVersionRead(PeWithVersion(), v));
    EXPECT_EQ(PeVersionText(v.file), "1.2.3.4");
    EXPECT_EQ(PeVersionText(v.product), "5.6.7.8");
}

TEST(PeVersionRead, RefusesEveryTruncationWithoutReadingPastTheEnd)
{
    const std::vector<uint8_t> whole = PeWithVersion();
    for (size_t n = 0; n < whole.size(); ++n) {
        PeVersion v;
        EXPECT_FALSE(PeVersionRead(std::vector<uint8_t>(whole.begin(), whole.begin() + n), v)) << n;
    }
}

TEST(PeVersionRead, RefusesDamagedHeadersTablesAndOffsets)
{
    struct Damage {
        const char* what;
        size_t at;
        size_t width;  // 2 or 4 bytes
        uint32_t value;
    };
    const Damage damages[] = {
        {"PE signature", PE_TEST_HEADER, 4, 0x00004550 ^ 1},
        {"section count beyond the file", PE_TEST_HEADER + 6, 2, 0xFFFF},
        {"optional header beyond the file", PE_TEST_HEADER + 20, 2, 0xFFFF},
        {"unknown optional header", PE_TEST_OPTIONAL, 2, 0x10C},
        {"no resource directory slot", PE_TEST_OPTIONAL + 92, 4, 2},
        {"section data beyond the file", SECTION_AT + 20, 4, 0xFFFFFF00u},
        {"resources in no section", PE_TEST_OPTIONAL + 96 + 16, 4, 0x5000},
        {"no version type", TYPE_ENTRY, 4, 3},
        {"type entry is not a folder", TYPE_ENTRY + 4, 4, 24},
        {"folder offset beyond the section", TYPE_ENTRY + 4, 4, 0x8FFFFFF0u},
        {"entry count beyond the section", RSRC_AT + 24 + 14, 2, 0xFFFF},
        {"data entry beyond the section", RSRC_AT + 68, 4, 0x7FFFFFF0u},
        {"data beyond the section", DATA_ENTRY, 4, 0xFFFFFFF0u},
        {"data size beyond the section", DATA_ENTRY + 4, 4, 0x7FFFFFFFu},
        {"data too small for the fixed part", DATA_ENTRY + 4, 4, 60},
        {"wrong key", VERSION_AT + 8, 2, 'X'},
        {"fixed part signature", VERSION_AT + 40, 4, 0xFEEF04BC},
    };
    for (const Damage& d : damages) {
        std::vector<uint8_t> b = PeWithVersion();
        if (d.width == 4)
            StoreU32(&b[d.at], d.value);
        else
            Put16(b, d.at, uint16_t(d.value));
        PeVersion v;
        EXPECT_FALSE(PeVersionRead(b, v)) << d.what;
    }
}

// The resource compiler's own layout, when the Windows build is there: the
// version read must be the FILEVERSION the resource script gives.
TEST(PeVersionRead, ReadsTheBuiltInstallersFileVersion)
{
    const std::vector<uint8_t> installer = FileBytes(QZ_WINDOWS_INSTALLER);
    if (installer.empty()) GTEST_SKIP() << "no Windows build at " << QZ_WINDOWS_INSTALLER;
    std::ifstream script(QZ_SOURCE_DIR "/app/installer.rc");
    std::string line, expected;
    while (std::getline(script, line) && expected.empty())
        if (line.rfind("FILEVERSION ", 0) == 0) expected = line.substr(12);
    for (char& c : expected) c = c == ',' ? '.' : c;
    ASSERT_FALSE(expected.empty());
    PeVersion v;
    ASSERT_TRUE(PeVersionRead(installer, v));
    EXPECT_EQ(PeVersionText(v.file), expected);
}

TEST(PeVersionString, FindsTheDescriptionButNotInACutOrPlainResource)
{
    const std::vector<uint8_t> described = PeWithVersion("Some program");
    std::string text;
    ASSERT_TRUE(PeVersionString(described, "FileDescription", text));
    EXPECT_EQ(text, "Some program");
    EXPECT_FALSE(PeVersionString(described, "FileDescriptio", text));
    EXPECT_FALSE(PeVersionString(PeWithVersion(), "FileDescription", text));
    for (size_t n = 0; n < described.size(); ++n)
        EXPECT_FALSE(PeVersionString(std::vector<uint8_t>(described.begin(), described.begin() + n), "FileDescription",
                                     text))
            << n;
}

TEST(FileLooksOf, TellsTextDataDllsAndProgramsApartByTheirHeaders)
{
    std::vector<uint8_t> arm = PeSubsystemSet(PeImage(), 2);
    Put16(arm, PE_TEST_HEADER + 4, 0xAA64);
    const std::pair<std::vector<uint8_t>, const char*> cases[] = {
        {{}, "empty"},
        {TextBytes(5000, 1), "text"},
        {RandomBytes(5000, 1), "data"},
        {{'M', 'Z', 0, 0}, "MS-DOS program"},
        {PeDll("zivora.dll"), "DLL x86"},
        {PeDll(nullptr, true), "DLL x64"},
        {PeSubsystemSet(PeImage(), 2), "program x86"},
        {PeSubsystemSet(PeImage(true), 3), "program x64 console"},
        {arm, "program ARM64"},
        {StubImage(), "program x86"},
    };
    for (const auto& [bytes, looks] : cases) EXPECT_EQ(FileLooksText(FileLooksOf(bytes)), looks);
    EXPECT_EQ(PeExportName(PeDll("zivora.dll")), "zivora.dll");
    EXPECT_EQ(PeExportName(PeDll(nullptr)), "");
}

// Entries 1 and 2 both take DLLs: only the name a DLL was linked as, or the
// name it is given by, tells them apart, and only when it is the other
// target's.
TEST(TargetMismatch, EachPlaceTakesOnlyItsKindAndNoDllNamedForAnother)
{
    const struct {
        int target;
        std::vector<uint8_t> bytes;
        const char* why;  // part of the reason; empty when it fits
        const char* named = "";  // the file's own name
    } cases[] = {
        {0, TextBytes(100, 1), ""},
        {0, RandomBytes(100, 1), ""},
        {0, PeDll("zivora.dll"), "not a readme"},
        {0, PeSubsystemSet(PeImage(), 2), "not a readme"},
        {1, PeDll("zivora.dll"), ""},
        {1, PeDll("ZIVORA.DLL"), ""},
        {1, PeDll("other.dll"), ""},
        {1, PeDll(nullptr), ""},
        {1, PeDll("zivoravarelle.dll"), "plugins\\zivoravarelle.dll (entry 2)"},
        {2, PeDll("zivora.dll"), "plugins\\zivora\\zivora.dll (entry 1)"},
        {2, PeDll(nullptr, true), "DLL x64"},
        {1, PeDll(nullptr), "named Zivoravarelle.dll, which goes in plugins\\zivoravarelle.dll", "Zivoravarelle.dll"},
        {2, PeDll(nullptr), "", "zivoravarelle.dll"},
        {0, TextBytes(100, 1), "(entry 3)", "zivora_config.exe"},
        {1, TextBytes(100, 1), "text, not a Windows DLL"},
        {2, PeSubsystemSet(PeImage(), 2), "program x86, not"},
        {3, PeSubsystemSet(PeImage(), 2), ""},
        {3, PeSubsystemSet(PeImage(true), 3), ""},
        {3, PeDll("zivora_config.exe"), "not a Windows program"},
        {3, {}, "an empty file"},
    };
    for (const auto& c : cases) {
        const std::string why = TargetMismatch(c.target, FileLooksOf(c.bytes), c.named);
        if (!*c.why)
            EXPECT_EQ(why, "") << c.target;
        else
            EXPECT_NE(why.find(c.why), std::string::npos) << c.target << ": " << why;
    }
}

TEST(StubMismatch, OnlyA32BitGuiProgramDescribedAsTheInstallerIsAStub)
{
    std::vector<uint8_t> plus = PeSubsystemSet(PeImage(true), 2);
    const struct {
        std::vector<uint8_t> bytes;
        const char* why;
    } cases[] = {
        {StubImage(), ""},
        {StubImage("Zivora config"), "\"Zivora config\""},
        {PeSubsystemSet(PeWithVersion(), 2), "no \"FileDescription\""},
        {PeSubsystemSet(StubImage(), 3), "program x86 console"},
        {plus, "program x64"},
        {PeDll("installer.exe"), "DLL x86"},
        {TextBytes(100, 1), "text"},
    };
    for (const auto& c : cases) {
        const std::string why = StubMismatch(c.bytes);
        if (!*c.why)
            EXPECT_EQ(why, "");
        else
            EXPECT_NE(why.find(c.why), std::string::npos) << why;
    }
    const std::vector<uint8_t> built = FileBytes(QZ_WINDOWS_INSTALLER);
    if (!built.empty()) EXPECT_EQ(StubMismatch(built), "");
}

}  // namespace
