// Where an installer file ends for its pack: in front of a certificate table
// that ends the file, and nowhere else; malformed headers never move it.
#include "pack/file_end.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/pack/pe_writer.h"

namespace {

uint32_t EndOf(const std::vector<uint8_t>& file)
{
    return PackFileEnd(file.data(), uint32_t(file.size()), uint32_t(file.size()));
}

// An installer-like file: the image, 100 bytes standing for pack and
// trailer, then a 24-byte certificate table.
std::vector<uint8_t> SignedInstaller(bool plus = false)
{
    std::vector<uint8_t> file = PeImage(plus);
    file.resize(file.size() + 100, 0x5A);
    return PeSigned(file, 24);
}

// The installer is a PE32 image; a 64-bit stub would be PE32+.
TEST(PackFileEnd, OnlyATableEndingTheFileMovesTheEndInBothImageForms)
{
    for (const bool plus : {false, true}) {
        const std::vector<uint8_t> signedFile = SignedInstaller(plus);
        const uint32_t size = uint32_t(signedFile.size());
        const uint32_t table = size - 24;
        struct Case {
            const char* what;
            uint32_t offset, length;  // written to the security directory
            uint32_t expected;
        };
        const Case cases[] = {
            {"signed", table, 24, table},
            {"table the whole file", 0, size, 0},
            {"unsigned (empty directory)", 0, 0, size},
            {"size 0 at the end", size, 0, size},
            {"ends before the file's end", table - 8, 24, size},
            {"runs past the file's end", table + 8, 24, size},
            {"larger than the file", 0, size + 1, size},
            {"offset and size wrap around", 0xFFFFFFF0u, size + 0x10, size},
            {"offset beyond the file", size + 8, 24, size},
        };
        for (const Case& c : cases) {
            std::vector<uint8_t> file = signedFile;
            PeSecurityEntrySet(file, c.offset, c.length);
            EXPECT_EQ(EndOf(file), c.expected) << c.what << (plus ? " (PE32+)" : " (PE32)");
        }
    }
}

TEST(PackFileEnd, UnreadableOrForeignHeadersMeanNoTable)
{
    const std::vector<uint8_t> good = SignedInstaller();
    const uint32_t size = uint32_t(good.size());
    ASSERT_EQ(EndOf(good), size - 24);
    struct Case {
        const char* what;
        uint32_t at;  // four bytes written there
        uint32_t value;
    };
    const Case cases[] = {
        {"header pointer far outside the file", 0x3C, 0xFFFFFFF0u},
        {"header pointer leaves the entry outside the head", 0x3C, PE_HEADS_READ_SIZE - 160 + 1},
        {"no PE signature", PE_TEST_HEADER, 0x00004551},
        {"PE32+ magic on a PE32 header (no directories where PE32+ has them)", PE_TEST_OPTIONAL, 0x020B},
        {"neither form's magic", PE_TEST_OPTIONAL, 0x0107},
        {"only four data directories", PE_TEST_OPTIONAL + 92, 4},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> file = good;
        StoreU32(&file[c.at], c.value);
        EXPECT_EQ(EndOf(file), size) << c.what;
    }

    // Headers cut short: the head given holds less than the entry needs.
    for (uint32_t head : {0u, 2u, 0x3Fu, PE_TEST_SECURITY_ENTRY + 7})
        EXPECT_EQ(PackFileEnd(good.data(), head, size), size) << head << " bytes of headers";
    EXPECT_EQ(PackFileEnd(good.data(), PE_TEST_SECURITY_ENTRY + 8, size), size - 24);
}

TEST(PackFileEnd, HeadersBeyondTheReadSizeAreNotLookedFor)
{
    // The same headers moved past the first PE_HEADS_READ_SIZE bytes: the
    // installer never reads them, so the packer must not see a table either.
    std::vector<uint8_t> file(PE_HEADS_READ_SIZE, 0);
    const std::vector<uint8_t> image = PeImage();
    file.insert(file.end(), image.begin() + PE_TEST_HEADER, image.end());
    file[0] = 'M';
    file[1] = 'Z';
    StoreU32(&file[0x3C], PE_HEADS_READ_SIZE);
    file.resize(file.size() + 40, 0);
    StoreU32(&file[PE_HEADS_READ_SIZE + PE_TEST_SECURITY_ENTRY - PE_TEST_HEADER], uint32_t(file.size() - 16));
    StoreU32(&file[PE_HEADS_READ_SIZE + PE_TEST_SECURITY_ENTRY - PE_TEST_HEADER + 4], 16);
    EXPECT_EQ(EndOf(file), file.size());
}

}  // namespace
