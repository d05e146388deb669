// The version resource read from a PE file: found through the headers, the
// section table and three levels of resource directory, and nothing read
// outside the file when any of them is damaged or cut short.
#include "packer/pe_version.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "tests/packer/packer_test_data.h"

namespace {

constexpr size_t SECTION_AT = PE_TEST_OPTIONAL + 224;
constexpr size_t RSRC_AT = PE_TEST_SIZE;  // right after the headers
constexpr uint32_t RSRC_RVA = 0x1000;
constexpr size_t TYPE_ENTRY = RSRC_AT + 16;
constexpr size_t DATA_ENTRY = RSRC_AT + 72;
constexpr size_t VERSION_AT = RSRC_AT + 88;

void Put16(std::vector<uint8_t>& b, size_t at, uint16_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}

// A PE32 image with one .rsrc section holding one version resource whose
// file version is 1.2.3.4 and product version 5.6.7.8, laid out by hand.
std::vector<uint8_t> PeWithVersion()
{
    std::vector<uint8_t> b = PeImage();
    b.resize(VERSION_AT + 92, 0);
    Put16(b, PE_TEST_HEADER + 6, 1);                     // sections
    StoreU32(&b[PE_TEST_OPTIONAL + 96 + 16], RSRC_RVA);  // the resource directory
    StoreU32(&b[PE_TEST_OPTIONAL + 96 + 20], uint32_t(b.size() - RSRC_AT));
    memcpy(&b[SECTION_AT], ".rsrc", 5);
    StoreU32(&b[SECTION_AT + 8], uint32_t(b.size() - RSRC_AT));
    StoreU32(&b[SECTION_AT + 12], RSRC_RVA);
    StoreU32(&b[SECTION_AT + 16], uint32_t(b.size() - RSRC_AT));
    StoreU32(&b[SECTION_AT + 20], RSRC_AT);
    // Type 16, name 1, language 0x409, each directory with one id entry.
    const uint32_t levels[][2] = {{16, 0x80000000u | 24}, {1, 0x80000000u | 48}, {0x409, 72}};
    for (size_t i = 0; i < 3; ++i) {
        Put16(b, RSRC_AT + 24 * i + 14, 1);
        StoreU32(&b[RSRC_AT + 24 * i + 16], levels[i][0]);
        StoreU32(&b[RSRC_AT + 24 * i + 20], levels[i][1]);
    }
    StoreU32(&b[DATA_ENTRY], RSRC_RVA + 88);
    StoreU32(&b[DATA_ENTRY + 4], 92);
    Put16(b, VERSION_AT, 92);
    Put16(b, VERSION_AT + 2, 52);
    const char key[] = "VS_VERSION_INFO";
    for (size_t i = 0; i < sizeof key; ++i) Put16(b, VERSION_AT + 6 + 2 * i, uint8_t(key[i]));
    const uint32_t fixed[] = {0xFEEF04BD, 0x10000, 0x00010002, 0x00030004, 0x00050006, 0x00070008};
    for (size_t i = 0; i < 6; ++i) StoreU32(&b[VERSION_AT + 40 + 4 * i], fixed[i]);
    return b;
}

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

}  // namespace
