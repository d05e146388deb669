#include "tests/runtime/runtime_test_support.h"

#include <vector>

#include "pack/block_decoder.h"
#include "pack/block_format.h"
#include "pack/pack_reader.h"
#include "tests/pack/block_writer.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Text that the block below spells out with literals and overlapping copies;
// written out here so the test does not trust the decoder for it.
const char PHRASE_TEXT[] = "zivora zivora zivora varelle, varelle!!";

// PHRASE_TEXT as a block of several kinds of code, with its checksum. Its
// size must differ from the text's, or the pack would take it as stored.
Bytes PhraseBlock()
{
    BitWriter w;
    PutLiteralFormat(w, 8, 0);
    for (const char c : std::string("zivora "))
        PutLiteral(w, 8, uint8_t(c));
    PutMatch(w, BLOCK_FIRST_OFFSET_LOW_WIDTH, 7, 10 - BlockLengthBonus(7)); // "zivora ziv"
    PutRepeat(w, 4);                                                         // "ora "
    for (const char c : std::string("varelle,"))
        PutLiteral(w, 8, uint8_t(c));
    PutNearByte(w, 9);      // " "
    PutShortMatch(w, 9, 5); // "varel"
    PutShortMatch(w, 9, 2); // "le"
    PutLiteral(w, 8, '!');
    PutNearByte(w, 1);      // "!"
    PutEnd(w);
    const Bytes text = BytesOf(PHRASE_TEXT);
    return MakeBlock(w, uint32_t(text.size()), BlockChecksum(text.data(), uint32_t(text.size())));
}

const char PACK_A[] = "qz_pack_a.pak";
const char PACK_B[] = "qz_pack_b.pak";

class PackReaderTest : public RuntimeService {
protected:
    void TearDown() override
    {
        PackClose();
        for (const char* name : {PACK_A, PACK_B}) {
            DeleteFileA((ModuleDirectoryPath() + name).c_str());
            DeleteFileA((ElsewhereDirectoryPath() + name).c_str());
        }
        RuntimeService::TearDown();
    }

    static void WritePack(const char* name, const Bytes& pack)
    {
        WriteWholeFile(ModuleDirectoryPath() + name, std::string(pack.begin(), pack.end()));
    }

    // The next entry, which must be delivered whole with the expected bytes.
    static void ExpectEntry(const Bytes& expected)
    {
        const uint8_t* const entry = PackNextEntry();
        ASSERT_NE(nullptr, entry);
        EXPECT_EQ(PACK_SOUND, PackEntryDamaged());
        ASSERT_EQ(int32_t(expected.size()), PackEntrySize());
        EXPECT_EQ(expected, Bytes(entry, entry + expected.size()));
    }

    static void ExpectRefused(PackDamage why)
    {
        EXPECT_EQ(nullptr, PackNextEntry());
        EXPECT_EQ(PACK_NO_ENTRY, PackEntrySize());
        EXPECT_EQ(why, PackEntryDamaged());
    }

    static void ExpectEnd() { ExpectRefused(PACK_SOUND); }
};

TEST_F(PackReaderTest, EmptyOrMissingPackDeliversNothing)
{
    ExpectEnd();
    WritePack(PACK_A, {});
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectEnd();
    ExpectEnd();
    EXPECT_EQ(0, PackOpen("qz_no_such.pak"));
    ExpectEnd();
}

TEST_F(PackReaderTest, StoredEntryBeginningWithTheBlockMagicIsCopiedAsIs)
{
    Bytes pack;
    AddStored(pack, EXAMPLE_BLOCK);
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectEntry(EXAMPLE_BLOCK);
    ExpectEnd();
}

TEST_F(PackReaderTest, EmptyEntriesAreDeliveredWithSizeZero)
{
    Bytes pack;
    AddStored(pack, {});
    AddStored(pack, BytesOf("x"));
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectEntry({});
    ExpectEntry(BytesOf("x"));
    ExpectEnd();
}

// An empty block with a checksum, or with a stream that writes or has no
// end, is damage, not an empty file that replaces the old one.
TEST_F(PackReaderTest, MalformedEmptyBlockIsRefusedNotInstalledAsAnEmptyFile)
{
    for (const EmptyBlockCase& c : EmptyBlockCases()) {
        Bytes pack;
        AddBlock(pack, 0, c.block);
        AddStored(pack, BytesOf("x"));
        WritePack(PACK_A, pack);
        ASSERT_EQ(1, PackOpen(PACK_A)) << c.name;
        if (c.sound)
            ExpectEntry({});
        else
            ExpectRefused(PACK_DAMAGE_BAD_BLOCK);
        ExpectEntry(BytesOf("x"));
        ExpectEnd();
        PackClose();
    }
}

TEST_F(PackReaderTest, EntriesComeUnpackedInTheirStoredOrder)
{
    Bytes pack;
    AddBlock(pack, 4, EXAMPLE_BLOCK);
    AddBlock(pack, uint32_t(strlen(PHRASE_TEXT)), PhraseBlock());
    AddStored(pack, BytesOf("plain text"));
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectEntry(BytesOf("aaaa"));
    ExpectEntry(BytesOf(PHRASE_TEXT));
    ExpectEntry(BytesOf("plain text"));
    ExpectEnd();
}

TEST_F(PackReaderTest, LastEntryStaysValidAfterTheEndUntilClose)
{
    Bytes pack;
    AddStored(pack, BytesOf("first"));
    AddBlock(pack, 4, EXAMPLE_BLOCK);
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectEntry(BytesOf("first"));
    const uint8_t* const last = PackNextEntry();
    ASSERT_NE(nullptr, last);
    ExpectEnd();
    ExpectEnd();
    EXPECT_TRUE(HeapValidate(InstallerState.RuntimeHeap, 0, last));
    EXPECT_EQ(BytesOf("aaaa"), Bytes(last, last + 4));

    PackClose();
    EXPECT_EQ(PACK_NO_ENTRY, PackEntrySize());
    EXPECT_EQ(nullptr, PackReader.EntryBuffer);
    ExpectEnd();
}

TEST_F(PackReaderTest, OnlyOneEntryIsHeldAtATime)
{
    Bytes pack;
    for (int i = 0; i < 4; ++i) {
        AddBlock(pack, uint32_t(strlen(PHRASE_TEXT)), PhraseBlock());
        AddStored(pack, BytesOf("stored"));
    }
    WritePack(PACK_A, pack);
    const int busyBefore = HeapBusyBlocks(InstallerState.RuntimeHeap);
    ASSERT_EQ(1, PackOpen(PACK_A));
    for (int i = 0; i < 8; ++i) {
        ASSERT_NE(nullptr, PackNextEntry());
        // The entry itself; the previous entry and the stored form are gone.
        EXPECT_EQ(busyBefore + 1, HeapBusyBlocks(InstallerState.RuntimeHeap)) << i;
    }
    PackClose();
    EXPECT_EQ(busyBefore, HeapBusyBlocks(InstallerState.RuntimeHeap));
}

TEST_F(PackReaderTest, OpeningASecondPackClosesTheFirst)
{
    Bytes a;
    AddStored(a, BytesOf("from a"));
    AddStored(a, BytesOf("more a"));
    Bytes b;
    AddStored(b, BytesOf("from b"));
    WritePack(PACK_A, a);
    WritePack(PACK_B, b);
    const std::string pathA = ModuleDirectoryPath() + PACK_A;
    const int busyBefore = HeapBusyBlocks(InstallerState.RuntimeHeap);

    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectEntry(BytesOf("from a"));
    // Held open for reading only: nobody may write it meanwhile.
    HANDLE writer = CreateFileA(pathA.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(INVALID_HANDLE_VALUE, writer);

    ASSERT_EQ(1, PackOpen(PACK_B));
    EXPECT_EQ(busyBefore, HeapBusyBlocks(InstallerState.RuntimeHeap));
    EXPECT_EQ(PACK_NO_ENTRY, PackEntrySize());
    writer = CreateFileA(pathA.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, writer);
    CloseHandle(writer);
    ExpectEntry(BytesOf("from b"));
    ExpectEnd();

    // A failed open closes the open pack all the same.
    EXPECT_EQ(0, PackOpen("qz_no_such.pak"));
    EXPECT_EQ(nullptr, PackReader.File);
    ExpectEnd();
}

TEST_F(PackReaderTest, RelativeNameResolvesBesideTheExecutableWhenStartedElsewhere)
{
    Bytes pack;
    AddStored(pack, BytesOf("beside"));
    WritePack(PACK_A, pack);
    const std::string elsewhere = ElsewhereDirectoryPath();
    WriteWholeFile(elsewhere + PACK_B, "\4\0\0\0\4\0\0\0away");

    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    ASSERT_EQ(1, PackOpen(PACK_A));
    EXPECT_PRED2(SamePath, ModuleDirectoryPath(), CurrentDirectoryPath());
    ExpectEntry(BytesOf("beside"));

    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    EXPECT_EQ(0, PackOpen(PACK_B));
}

TEST_F(PackReaderTest, CorruptBlockIsRefusedAndTheNextEntryIsStillDelivered)
{
    const Bytes block = PhraseBlock();
    const uint32_t size = uint32_t(strlen(PHRASE_TEXT));
    // Every single flipped byte either leaves the text intact (bits past the
    // end code are not read) or is refused; wrong bytes never come out.
    int refused = 0;
    for (size_t at = 0; at < block.size(); ++at) {
        Bytes damaged = block;
        damaged[at] ^= 0xFF;
        Bytes pack;
        AddBlock(pack, size, damaged);
        AddStored(pack, BytesOf("next entry"));
        AddBlock(pack, 4, EXAMPLE_BLOCK);
        WritePack(PACK_A, pack);
        ASSERT_EQ(1, PackOpen(PACK_A));
        const uint8_t* const entry = PackNextEntry();
        if (entry) {
            EXPECT_EQ(BytesOf(PHRASE_TEXT), Bytes(entry, entry + size)) << "flipped byte " << at;
        } else {
            ++refused;
            EXPECT_EQ(PACK_NO_ENTRY, PackEntrySize()) << at;
            EXPECT_EQ(PACK_DAMAGE_BAD_BLOCK, PackEntryDamaged()) << at;
        }
        ExpectEntry(BytesOf("next entry"));
        ExpectEntry(BytesOf("aaaa"));
        ExpectEnd();
        PackClose();
    }
    // The header, the checksum and the codes themselves all count.
    EXPECT_GE(refused, int(block.size()) - 4);
}

TEST_F(PackReaderTest, BlockOfAnotherSizeThanItsEntryIsRefused)
{
    Bytes unchecked = EXAMPLE_BLOCK;
    StoreU32(&unchecked[BLOCK_CHECKSUM_OFFSET], 0);
    Bytes pack;
    AddBlock(pack, 5, EXAMPLE_BLOCK); // expands to 4: the fifth byte would be undefined
    AddBlock(pack, 3, EXAMPLE_BLOCK); // would need more room than the entry has
    AddBlock(pack, 0, EXAMPLE_BLOCK); // an empty entry whose block holds bytes
    AddBlock(pack, 4, unchecked);     // no checksum to test: the size alone decides
    AddBlock(pack, 4, {});            // no block at all
    AddStored(pack, BytesOf("end"));
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectRefused(PACK_DAMAGE_BAD_BLOCK);
    ExpectRefused(PACK_DAMAGE_BAD_BLOCK);
    ExpectRefused(PACK_DAMAGE_BAD_BLOCK);
    ExpectEntry(BytesOf("aaaa"));
    ExpectRefused(PACK_DAMAGE_BAD_BLOCK);
    ExpectEntry(BytesOf("end"));
    ExpectEnd();
    EXPECT_TRUE(HeapValidate(InstallerState.RuntimeHeap, 0, nullptr));
}

TEST_F(PackReaderTest, TruncatedLastEntryIsRefused)
{
    const Bytes block = PhraseBlock();
    struct Case {
        const char* what;
        uint32_t unpacked;
        Bytes stored;
        size_t kept;
    };
    const Case cases[] = {
        {"stored", 10, BytesOf("0123456789"), 6},
        {"block", uint32_t(strlen(PHRASE_TEXT)), block, block.size() - 1},
        {"block without its stream", uint32_t(strlen(PHRASE_TEXT)), block, BLOCK_HEADER_SIZE},
    };
    for (const Case& c : cases) {
        Bytes pack;
        AddStored(pack, BytesOf("first"));
        AddEntry(pack, c.unpacked, uint32_t(c.stored.size()), Bytes(c.stored.begin(), c.stored.begin() + c.kept));
        WritePack(PACK_A, pack);
        ASSERT_EQ(1, PackOpen(PACK_A)) << c.what;
        ExpectEntry(BytesOf("first"));
        ExpectRefused(PACK_DAMAGE_SHORT_READ);
        EXPECT_EQ(nullptr, PackReader.EntryBuffer) << c.what;
        ExpectEnd();
        PackClose();
    }
}

TEST_F(PackReaderTest, TruncatedHeaderEndsThePackAndKeepsTheLastEntry)
{
    for (uint32_t kept = 1; kept < PACK_ENTRY_HEADER_SIZE; ++kept) {
        Bytes pack;
        AddStored(pack, BytesOf("whole"));
        Bytes next;
        AddStored(next, BytesOf("cut"));
        pack.insert(pack.end(), next.begin(), next.begin() + kept);
        WritePack(PACK_A, pack);
        ASSERT_EQ(1, PackOpen(PACK_A)) << kept;
        const uint8_t* const whole = PackNextEntry();
        ASSERT_NE(nullptr, whole) << kept;
        ExpectRefused(PACK_DAMAGE_SHORT_READ);
        EXPECT_EQ(BytesOf("whole"), Bytes(whole, whole + 5)) << kept;
        ExpectEnd();
        PackClose();
    }
}

TEST_F(PackReaderTest, EntryTooLargeForMemoryIsPassedOver)
{
    // Sizes near 2 and 4 GiB fail to allocate only in a 32-bit process.
    Bytes pack;
    AddEntry(pack, 0x7FFFFFF0, 3, BytesOf("abc"));
    AddEntry(pack, 0xFFFFFFF0, 2, BytesOf("de"));
    AddStored(pack, BytesOf("after"));
    AddEntry(pack, 6, 0x7FFFFFF0, BytesOf("never read"));
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));
    ExpectRefused(PACK_DAMAGE_TOO_LARGE);
    // Past the largest size an entry may have: damage, not memory.
    ExpectRefused(PACK_DAMAGE_BAD_BLOCK);
    ExpectEntry(BytesOf("after"));
    // Stored bytes that are not there: damage, whatever memory says.
    ExpectRefused(PACK_DAMAGE_SHORT_READ);
    ExpectEnd();
}

// Whichever buffer memory refuses, the entry's own or that of its stored
// block, the stored bytes are passed over, so the entry after it is read
// where it lies. A runtime heap of fixed size refuses these sizes in a
// 64-bit process too, where the test above cannot run.
TEST_F(PackReaderTest, EntryWhoseBufferASmallHeapRefusesIsPassedOver)
{
    const uint32_t refused = 256 * 1024;
    Bytes pack;
    AddEntry(pack, refused, 3, BytesOf("abc"));
    AddEntry(pack, 6, refused, Bytes(refused, 0x55));
    AddStored(pack, BytesOf("after"));
    WritePack(PACK_A, pack);
    ASSERT_EQ(1, PackOpen(PACK_A));

    struct SmallHeap {
        HANDLE runtime = InstallerState.RuntimeHeap;
        HANDLE small = HeapCreate(0, 0, 64 * 1024);
        // The entry buffer comes from the small heap: freed into it.
        ~SmallHeap()
        {
            PackClose();
            InstallerState.RuntimeHeap = runtime;
            if (small)
                HeapDestroy(small);
        }
    } heap;
    ASSERT_NE(nullptr, heap.small);
    InstallerState.RuntimeHeap = heap.small;
    ExpectRefused(PACK_DAMAGE_TOO_LARGE);
    ExpectRefused(PACK_DAMAGE_TOO_LARGE);
    ExpectEntry(BytesOf("after"));
    ExpectEnd();
}

} // namespace
