// Pack entries, the trailer and the stub test: what the installer will read
// must come out exactly, and damaged packs must be caught, not misread.
#include "packer/pack_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pack/block_format.h"
#include "pack/file_end.h"
#include "packer/block_encoder.h"
#include "tests/pack/block_writer.h"
#include "tests/packer/packer_test_data.h"

namespace {

std::vector<uint8_t> PackOf(const std::vector<std::vector<uint8_t>>& files)
{
    std::vector<uint8_t> pack;
    for (const auto& f : files) Append(pack, EntryEncode(f.data(), f.size(), LEVEL_BEST));
    return pack;
}

TEST(EntryEncode, StoresWhenABlockWouldNotBeSmallerAndNeverWritesTEqualU)
{
    // Sizes around the block's smallest length (14 bytes) and random data,
    // where the block is larger: each must come out stored, or as a block
    // strictly smaller than the input.
    std::vector<std::vector<uint8_t>> inputs;
    for (size_t n = 0; n <= 40; ++n) {
        inputs.push_back(std::vector<uint8_t>(n, 0));
        inputs.push_back(RandomBytes(n, uint32_t(n)));
    }
    inputs.push_back(RandomBytes(5000, 99));
    for (const auto& data : inputs) {
        const std::vector<uint8_t> entry = EntryEncode(data.data(), data.size(), LEVEL_BEST);
        const EntryView view{LoadU32(&entry[0]), LoadU32(&entry[4]), PACK_ENTRY_HEADER_SIZE};
        EXPECT_EQ(view.unpackedSize, data.size());
        EXPECT_EQ(entry.size(), PACK_ENTRY_HEADER_SIZE + view.storedSize);
        EXPECT_LE(view.storedSize, data.size());
        const DecodedEntry decoded = EntryDecode(entry.data(), view);
        EXPECT_TRUE(decoded.error.empty()) << decoded.error;
        EXPECT_TRUE(decoded.bytes == data) << "size " << data.size();
    }
    const std::vector<uint8_t> zeros(40, 0);
    const std::vector<uint8_t> entry = EntryEncode(zeros.data(), zeros.size(), LEVEL_BEST);
    EXPECT_LT(LoadU32(&entry[4]), 40u);  // compressible input is a block
}

TEST(EntryDecode, StoredEntryIsCopiedEvenWhenItLooksLikeABlock)
{
    const std::vector<uint8_t> zeros(100, 0);
    const std::vector<uint8_t> block = BlockCompress(zeros.data(), zeros.size(), LEVEL_BEST);
    std::vector<uint8_t> pack;
    AddStored(pack, block);
    const PackLayout layout = PackParse(pack.data(), pack.size());
    ASSERT_EQ(layout.entries.size(), 1u);
    const DecodedEntry d = EntryDecode(pack.data(), layout.entries[0]);
    EXPECT_TRUE(d.bytes == block);
}

TEST(EntryDecode, DamagedBlocksAreReported)
{
    const std::vector<uint8_t> text = TextBytes(4000, 1);
    const std::vector<uint8_t> entry = EntryEncode(text.data(), text.size(), LEVEL_BEST);
    const EntryView view{LoadU32(&entry[0]), LoadU32(&entry[4]), PACK_ENTRY_HEADER_SIZE};
    ASSERT_NE(view.storedSize, view.unpackedSize);
    // The magic, the checksum, and a stretch of the stream. (A single flipped
    // bit in the stream may decode to the same bytes: two near offsets that
    // hold the same byte, say.)
    for (size_t at : {size_t(0), size_t(BLOCK_CHECKSUM_OFFSET), size_t(40)}) {
        std::vector<uint8_t> damaged = entry;
        for (size_t i = 0; i < 4; ++i) damaged[PACK_ENTRY_HEADER_SIZE + at + i] ^= 0x5A;
        EXPECT_FALSE(EntryDecode(damaged.data(), view).error.empty()) << "byte " << at;
    }
    // A block header that disagrees with the entry's unpacked size.
    std::vector<uint8_t> resized = entry;
    StoreU32(&resized[PACK_ENTRY_HEADER_SIZE + BLOCK_UNPACKED_SIZE_OFFSET], view.unpackedSize - 1);
    EXPECT_FALSE(EntryDecode(resized.data(), view).error.empty());
}

// The same rule as the installer's: qzpack verify must not pass an empty
// entry that the installer refuses, nor the reverse.
TEST(EntryDecode, MalformedEmptyBlockIsReportedAsTheInstallerRefusesIt)
{
    for (const EmptyBlockCase& c : EmptyBlockCases()) {
        std::vector<uint8_t> entry;
        AddBlock(entry, 0, c.block);
        const EntryView view{0, uint32_t(c.block.size()), PACK_ENTRY_HEADER_SIZE};
        EXPECT_EQ(c.sound, EntryDecode(entry.data(), view).error.empty()) << c.name;
    }
}

TEST(PackParse, IncompleteHeadersAndStoredBytesAreErrors)
{
    const std::vector<uint8_t> pack = PackOf({TextBytes(700, 2), {}, RandomBytes(50, 3)});
    const PackLayout whole = PackParse(pack.data(), pack.size());
    EXPECT_TRUE(whole.error.empty());
    ASSERT_EQ(whole.entries.size(), 3u);
    // Only a cut at an entry's end leaves a (shorter) complete pack.
    std::vector<size_t> ends;
    for (const EntryView& e : whole.entries) ends.push_back(e.offset + e.storedSize);
    for (size_t length = 0; length < pack.size(); ++length) {
        const PackLayout layout = PackParse(pack.data(), length);
        const size_t complete = size_t(std::count_if(ends.begin(), ends.end(), [&](size_t e) { return e <= length; }));
        const bool atEnd = length == 0 || std::find(ends.begin(), ends.end(), length) != ends.end();
        EXPECT_EQ(layout.error.empty(), atEnd) << "length " << length;
        EXPECT_EQ(layout.entries.size(), complete) << "length " << length;
    }
    EXPECT_TRUE(PackParse(pack.data(), 0).entries.empty());
}

TEST(PackLocate, FindsThePackBehindTheStubOrInFrontOfASignature)
{
    const std::vector<uint8_t> pack = PackOf({TextBytes(700, 4), RandomBytes(20, 5)});
    for (size_t extra = 0; extra < PE_CERTIFICATE_ALIGNMENT; ++extra) {
        // Every stub size modulo 8: the file still comes out a multiple of
        // 8, with only zeros between the stub and the pack.
        std::vector<uint8_t> stub = PeImage();
        stub.resize(stub.size() + extra, 0x90);
        const std::vector<uint8_t> installer = InstallerAssemble(stub, pack);
        EXPECT_EQ(installer.size() % PE_CERTIFICATE_ALIGNMENT, 0u) << extra;
        ASSERT_LT(installer.size() - stub.size() - pack.size() - PACK_TRAILER_SIZE, PE_CERTIFICATE_ALIGNMENT);

        const struct {
            const char* what;
            std::vector<uint8_t> file;
            size_t certificateSize;
        } cases[] = {{"unsigned", installer, 0}, {"signed", PeSigned(installer, 40), 40}};
        for (const auto& c : cases) {
            PackPlace place;
            std::string error;
            ASSERT_TRUE(PackLocate(c.file, place, error)) << c.what << ": " << error;
            EXPECT_TRUE(place.isInstaller);
            EXPECT_EQ(place.certificateSize, c.certificateSize) << c.what;
            EXPECT_EQ(place.size, pack.size()) << c.what;
            EXPECT_TRUE(std::equal(pack.begin(), pack.end(), c.file.begin() + long(place.offset))) << c.what;
            EXPECT_TRUE(std::all_of(c.file.begin() + long(stub.size()), c.file.begin() + long(place.offset),
                                    [](uint8_t b) { return b == 0; }))
                << c.what;
        }
    }
}

TEST(PackLocate, RejectsTrailersThatPointAtNoPack)
{
    const std::vector<uint8_t> installer = InstallerAssemble(PeImage(), PackOf({TextBytes(700, 4)}));
    // Larger than what precedes it, above the signed limit, and empty.
    for (uint32_t length : {uint32_t(installer.size() - 3), 0x80000000u, 0u}) {
        std::vector<uint8_t> bad = installer;
        StoreU32(&bad[bad.size() - 4], length);
        PackPlace place;
        std::string error;
        EXPECT_FALSE(PackLocate(bad, place, error)) << length;
        // Signed, the trailer is looked for in front of the table, whatever
        // the table's last bytes are.
        EXPECT_FALSE(PackLocate(PeSigned(bad, 16), place, error)) << length;
    }

    // A bare pack is read whole.
    const std::vector<uint8_t> pack = PackOf({TextBytes(70, 4)});
    PackPlace place;
    std::string error;
    ASSERT_TRUE(PackLocate(pack, place, error));
    EXPECT_FALSE(place.isInstaller);
    EXPECT_EQ(place.size, pack.size());
}

TEST(StubImageEnd, CountsHeadersSectionsAndSymbolsButNothingAppended)
{
    const std::vector<uint8_t> headers = PeImage();
    EXPECT_EQ(StubImageEnd(headers), headers.size());

    // One section of 0x300 raw bytes at 0x200.
    std::vector<uint8_t> sectioned = headers;
    sectioned[PE_TEST_HEADER + 6] = 1;
    const size_t section = PE_TEST_OPTIONAL + 0xE0;
    StoreU32(&sectioned[section + 16], 0x300);
    StoreU32(&sectioned[section + 20], 0x200);
    sectioned.resize(0x500, 0xCC);
    EXPECT_EQ(StubImageEnd(sectioned), 0x500u);

    // An unstripped image: 2 symbols of 18 bytes, then a 10-byte string table.
    std::vector<uint8_t> symbols = sectioned;
    StoreU32(&symbols[PE_TEST_HEADER + 12], 0x500);
    StoreU32(&symbols[PE_TEST_HEADER + 16], 2);
    symbols.resize(0x500 + 36 + 10, 0);
    StoreU32(&symbols[0x500 + 36], 10);
    EXPECT_EQ(StubImageEnd(symbols), symbols.size());

    // A built installer given as the stub: the pack after the image shows.
    const std::vector<uint8_t> installer = InstallerAssemble(sectioned, PackOf({TextBytes(70, 4)}));
    EXPECT_EQ(StubImageEnd(installer), 0x500u);
    // A section table that runs past the file: no image end at all.
    std::vector<uint8_t> cut = sectioned;
    cut[PE_TEST_HEADER + 6] = 0xFF;
    cut.resize(0x300);
    EXPECT_EQ(StubImageEnd(cut), 0u);
}

// The header checksum agrees with the linker's (the stub as linked) and
// the build's (the finished stub), and catches any changed byte of an
// installer, whose pack no other check fully covers.
TEST(PeChecksum, AgreesWithTheLinkerAndCoversEveryByteOfTheInstaller)
{
    const std::string stub = QZ_WINDOWS_INSTALLER;
    const std::string linked = stub.substr(0, stub.rfind('/') + 1) + "linked/installer.exe";
    for (const std::string& path : {linked, stub}) {
        const std::vector<uint8_t> image = FileBytes(path);
        if (image.empty()) continue;  // no Windows build beside this one
        EXPECT_NE(PeChecksumOffset(image), 0u) << path;
        EXPECT_EQ(PeChecksumError(image), "") << path;
    }

    std::vector<uint8_t> odd = PeImage();
    odd.push_back(0x7F);  // an odd length: the last byte is a word of its own
    for (const std::vector<uint8_t>& stubImage : {PeImage(), PeImage(true), odd}) {
        const std::vector<uint8_t> installer = InstallerAssemble(stubImage, PackOf({TextBytes(300, 4), RandomBytes(90, 5)}));
        const size_t field = PeChecksumOffset(installer);
        ASSERT_EQ(field, PE_TEST_OPTIONAL + PE_CHECKSUM_OFFSET);
        ASSERT_EQ(PeChecksumError(installer), "");
        for (size_t at = 0; at < installer.size(); ++at) {
            std::vector<uint8_t> changed = installer;
            changed[at] ^= 0x5A;
            if (PeChecksumOffset(changed) != field) continue;  // the headers no longer hold the field there
            EXPECT_NE(PeChecksumError(changed), "") << "byte " << at;
        }
    }
    EXPECT_EQ(PeChecksum(odd, PE_TEST_OPTIONAL + PE_CHECKSUM_OFFSET),
              PeChecksum(PeImage(), PE_TEST_OPTIONAL + PE_CHECKSUM_OFFSET) + 0x7F + 1);

    // Headers too short to hold the field: nothing to write or check.
    std::vector<uint8_t> shortOptional = PeImage();
    shortOptional[PE_TEST_HEADER + PE_OPTIONAL_SIZE_OFFSET] = PE_CHECKSUM_OFFSET + 3;
    EXPECT_EQ(PeChecksumOffset(shortOptional), 0u);
    std::vector<uint8_t> cut = PeImage();
    cut.resize(PE_TEST_OPTIONAL + PE_CHECKSUM_OFFSET + 3);
    EXPECT_EQ(PeChecksumOffset(cut), 0u);
}

TEST(IsPeImage, NeedsMzAndAPeSignatureInsideTheFile)
{
    EXPECT_TRUE(IsPeImage(PeImage()));
    std::vector<uint8_t> noMz = PeImage(), pointerOut = PeImage(), hugePointer = PeImage();
    noMz[0] = 'X';
    StoreU32(&pointerOut[0x3C], uint32_t(pointerOut.size() - 2));  // signature would straddle the end
    StoreU32(&hugePointer[0x3C], 0xFFFFFFFF);
    const std::pair<const char*, std::vector<uint8_t>> bad[] = {
        {"no MZ", noMz}, {"pointer near the end", pointerOut}, {"pointer out", hugePointer}, {"MZ alone", {'M', 'Z'}}};
    for (const auto& [what, file] : bad) EXPECT_FALSE(IsPeImage(file)) << what;
    const std::vector<uint8_t> sample = ReadSample("irprops.cpl");
    EXPECT_TRUE(sample.empty() || IsPeImage(sample));
}

}  // namespace
