#include "tests/runtime/runtime_test_support.h"

#include "runtime/files.h"

namespace {

const char A[] = "qz_files_a.tmp";
const char B[] = "qz_files_b.tmp";

class FileSlotsTest : public RuntimeService {
protected:
    // Each test closes its own files (a slot keeps its handle value after a
    // close, so closing from here could hit a reused handle).
    void TearDown() override
    {
        for (const char* name : {A, B}) {
            DeleteFileA((ModuleDirectoryPath() + name).c_str());
            DeleteFileA((ElsewhereDirectoryPath() + name).c_str());
        }
        RuntimeService::TearDown();
    }

    static std::string Beside(const char* name) { return ModuleDirectoryPath() + name; }

    // Writes the bytes to A and opens it for reading under the number.
    static HANDLE OpenedWith(uint32_t number, const std::string& bytes)
    {
        WriteWholeFile(Beside(A), bytes);
        return FileOpenRead(number, A);
    }
};

TEST_F(FileSlotsTest, RelativeNameResolvesBesideTheExecutableWhenStartedElsewhere)
{
    const std::string elsewhere = ElsewhereDirectoryPath();
    ASSERT_FALSE(SamePath(elsewhere, ModuleDirectoryPath()));

    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    ASSERT_NE(nullptr, FileCreate(0, A));
    EXPECT_EQ(5u, FileWriteBlock("hello", 5));
    FileClose(0);
    EXPECT_EQ("hello", ReadWholeFile(Beside(A)));
    EXPECT_FALSE(FileExists(elsewhere + A));
    // The current directory stays beside the executable.
    EXPECT_PRED2(SamePath, ModuleDirectoryPath(), CurrentDirectoryPath());

    ASSERT_TRUE(SetCurrentDirectoryA(elsewhere.c_str()));
    ASSERT_NE(nullptr, FileOpenRead(1, A));
    char bytes[8] = {};
    EXPECT_EQ(5u, FileReadBlock(bytes, sizeof bytes));
    EXPECT_STREQ("hello", bytes);
    EXPECT_PRED2(SamePath, ModuleDirectoryPath(), CurrentDirectoryPath());
    FileClose(1);
}

// Whatever stands under the name may belong to someone else, or be a link
// to a file elsewhere: a create-new refuses it and leaves its bytes alone,
// where a plain create truncates it.
TEST_F(FileSlotsTest, CreateNewRefusesAnExistingFileCreateTruncatesIt)
{
    WriteWholeFile(Beside(A), "someone else's bytes");
    BY_HANDLE_FILE_INFORMATION identity;
    HANDLE const refused = FileCreateNew(0, A, &identity);
    if (refused)
        FileClose(0);
    EXPECT_EQ(nullptr, refused);
    EXPECT_EQ(nullptr, FileSlots.CurrentFile);
    EXPECT_EQ("someone else's bytes", ReadWholeFile(Beside(A)));

    ASSERT_NE(nullptr, FileCreateNew(1, B, &identity));
    EXPECT_EQ(1u, identity.nNumberOfLinks);
    EXPECT_EQ(3u, FileWriteBlock("new", 3));
    FileClose(1);
    EXPECT_EQ("new", ReadWholeFile(Beside(B)));

    ASSERT_NE(nullptr, FileCreate(0, A));
    EXPECT_EQ(0u, FileLength());
    EXPECT_EQ(3u, FileWriteBlock("new", 3));
    EXPECT_EQ(3u, FileLength());
    FileClose(0);
    EXPECT_EQ("new", ReadWholeFile(Beside(A)));
}

TEST_F(FileSlotsTest, FailedOpenEmptiesTheSlotAndTransfersReachNoFile)
{
    ASSERT_NE(nullptr, OpenedWith(0, "abcd"));
    EXPECT_EQ(nullptr, FileOpenRead(1, "qz_no_such_file.tmp"));
    EXPECT_EQ(nullptr, FileSlots.CurrentFile);
    EXPECT_EQ(nullptr, FileSlots.FileTable[1]);
    EXPECT_EQ(0, FileClose(1));

    // Reads must not fall back to the file that is still open under 0.
    char bytes[4] = {};
    EXPECT_EQ(0u, FileReadBlock(bytes, sizeof bytes));
    EXPECT_EQ(FILE_FAILURE, FileLength());
    EXPECT_NE(0, FileClose(0));
}

TEST_F(FileSlotsTest, TransfersFollowTheLatestCreateOrOpenNotTheLowestNumber)
{
    ASSERT_NE(nullptr, OpenedWith(0, "0123456789"));
    ASSERT_NE(nullptr, FileCreate(1, B));
    EXPECT_EQ(4u, FileWriteBlock("to b", 4));
    EXPECT_EQ(4u, FileLength());

    // Opening 0 again makes it current: its reads start from its beginning.
    FileClose(0);
    ASSERT_NE(nullptr, FileOpenRead(0, A));
    EXPECT_EQ(6u, FileSetPosition(6));
    char bytes[5] = {};
    EXPECT_EQ(4u, FileReadBlock(bytes, 4));
    EXPECT_STREQ("6789", bytes);
    EXPECT_EQ(10u, FileLength());

    FileClose(0);
    FileClose(1);
    EXPECT_EQ("0123456789", ReadWholeFile(Beside(A)));
    EXPECT_EQ("to b", ReadWholeFile(Beside(B)));
}

TEST_F(FileSlotsTest, ReadU32ShortReadKeepsTheEarlierBytesUntilTheNextStartUp)
{
    ASSERT_NE(nullptr, OpenedWith(0, std::string("\x11\x22\x33\x44\xAA\xBB", 6)));
    EXPECT_EQ(0x44332211u, FileReadU32());
    EXPECT_EQ(0x4433BBAAu, FileReadU32());
    EXPECT_EQ(2u, FileSlots.TransferCount);
    EXPECT_EQ(0x4433BBAAu, FileReadU32());
    EXPECT_EQ(0u, FileSlots.TransferCount);
    FileClose(0);

    // A start-up later in the same process reads from zero bytes again.
    InstallerShutdown();
    ASSERT_EQ(1, InstallerStartup(GetModuleHandleA(nullptr)));
    ASSERT_NE(nullptr, OpenedWith(0, std::string("\x7F", 1)));
    EXPECT_EQ(0x7Fu, FileReadU32());
    FileClose(0);
}

// A number at the capacity grows the table as one beyond it does.
TEST_F(FileSlotsTest, TableGrowsByTenPastTheNumberAndKeepsExistingHandles)
{
    HANDLE const first = OpenedWith(0, "first");
    ASSERT_NE(nullptr, first);
    HANDLE const ninth = FileCreate(9, B);
    ASSERT_NE(nullptr, ninth);
    EXPECT_EQ(FILE_TABLE_START_CAPACITY, FileSlots.Capacity);

    FileClose(9);
    ASSERT_NE(nullptr, FileOpenRead(10, A));
    EXPECT_EQ(20u, FileSlots.Capacity);
    FileClose(10);
    ASSERT_NE(nullptr, FileOpenRead(25, A));
    EXPECT_EQ(35u, FileSlots.Capacity);
    EXPECT_EQ(first, FileSlots.FileTable[0]);
    EXPECT_EQ(ninth, FileSlots.FileTable[9]);
    for (uint32_t number = 11; number < 35; ++number) {
        if (number != 25)
            EXPECT_EQ(nullptr, FileSlots.FileTable[number]) << number;
    }

    // The kept handle still works through its number.
    FileClose(25);
    ASSERT_NE(nullptr, FileOpenRead(10, A));
    EXPECT_NE(0, FileClose(0));
    EXPECT_NE(0, FileClose(10));
    // Closing beyond the table neither grows it nor touches memory past it.
    EXPECT_EQ(0, FileClose(500));
    EXPECT_EQ(35u, FileSlots.Capacity);
}

} // namespace
