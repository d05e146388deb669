#include "tests/runtime/runtime_test_support.h"

#include "runtime/memory.h"

namespace {

class MemoryBlocksTest : public RuntimeService {
protected:
    static int BusyBlocks() { return HeapBusyBlocks(MemoryBlocks.BlockHeap); }

    static bool AllBytesAre(const uint8_t* block, int32_t size, uint8_t value)
    {
        for (int32_t i = 0; i < size; ++i) {
            if (block[i] != value)
                return false;
        }
        return true;
    }

    static SIZE_T TableSize() { return HeapSize(InstallerState.RuntimeHeap, 0, MemoryBlocks.BlockTable); }

    // A block from MemoryAllocate, checked to be there, zero-filled and current.
    static uint8_t* Allocated(int32_t number, int32_t size)
    {
        uint8_t* const block = MemoryAllocate(number, size);
        EXPECT_TRUE(block && AllBytesAre(block, size, 0)) << number;
        EXPECT_EQ(block, MemoryCurrent()) << number;
        return block;
    }
};

TEST_F(MemoryBlocksTest, ReallocatingANumberFreesTheOldBlockAndZeroFillsTheNew)
{
    uint8_t* const first = Allocated(0, 100);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(100u, HeapSize(MemoryBlocks.BlockHeap, 0, first));
    memset(first, 0xAA, 100);
    const int busyWithOne = BusyBlocks();

    uint8_t* const second = Allocated(0, 50);
    // The first block went back to the heap: no block leaks per reuse.
    EXPECT_EQ(busyWithOne, BusyBlocks());

    Allocated(1, 8);
    EXPECT_EQ(busyWithOne + 1, BusyBlocks());
    EXPECT_EQ(second, MemoryBlocks.BlockTable[0]);
}

TEST_F(MemoryBlocksTest, SizeZeroOrNegativeChangesNothing)
{
    uint8_t* const block = MemoryAllocate(0, 16);
    ASSERT_NE(nullptr, block);
    memset(block, 0x5C, 16);
    for (int32_t size : {0, -1, INT32_MIN}) {
        EXPECT_EQ(nullptr, MemoryAllocate(0, size)) << size;
        EXPECT_EQ(block, MemoryBlocks.BlockTable[0]) << size;
        EXPECT_EQ(block, MemoryCurrent()) << size;
        EXPECT_TRUE(AllBytesAre(block, 16, 0x5C)) << size;
    }
    // Nor does a refused size grow the table.
    EXPECT_EQ(nullptr, MemoryAllocate(30, 0));
    EXPECT_EQ(MEMORY_TABLE_START_CAPACITY, MemoryBlocks.Capacity);
}

TEST_F(MemoryBlocksTest, TableGrowsOnlyBeyondTheHighestNumberAndKeepsBlocks)
{
    EXPECT_EQ(11u * sizeof(uint8_t*), TableSize());
    uint8_t* const zero = Allocated(0, 4);
    uint8_t* const ten = Allocated(10, 4);
    EXPECT_EQ(10, MemoryBlocks.Capacity);

    uint8_t* const eleven = Allocated(11, 4);
    EXPECT_EQ(61, MemoryBlocks.Capacity);
    EXPECT_EQ(62u * sizeof(uint8_t*), TableSize());
    EXPECT_EQ(zero, MemoryBlocks.BlockTable[0]);
    EXPECT_EQ(ten, MemoryBlocks.BlockTable[10]);
    EXPECT_EQ(eleven, MemoryBlocks.BlockTable[11]);
    for (int32_t number = 12; number <= 61; ++number)
        EXPECT_EQ(nullptr, MemoryBlocks.BlockTable[number]) << number;
}

TEST_F(MemoryBlocksTest, NegativeFreeReleasesEveryBlockAndResetsTheCapacity)
{
    Allocated(0, 32);
    Allocated(70, 32);
    ASSERT_EQ(120, MemoryBlocks.Capacity);
    uint8_t* const current = MemoryCurrent();

    MemoryFree(-1);
    EXPECT_EQ(MEMORY_TABLE_START_CAPACITY, MemoryBlocks.Capacity);
    EXPECT_EQ(11u * sizeof(uint8_t*), TableSize());
    for (int32_t number = 0; number <= MEMORY_TABLE_START_CAPACITY; ++number)
        EXPECT_EQ(nullptr, MemoryBlocks.BlockTable[number]) << number;
    EXPECT_EQ(0, BusyBlocks());
    EXPECT_EQ(current, MemoryCurrent());

    // The fresh heap serves new blocks.
    Allocated(3, 8);
}

TEST_F(MemoryBlocksTest, FreeingANumberWithoutBlockOrBeyondTheTableDoesNothing)
{
    uint8_t* const block = Allocated(2, 8);
    MemoryFree(5);
    MemoryFree(1000);
    EXPECT_EQ(block, MemoryBlocks.BlockTable[2]);
    EXPECT_EQ(MEMORY_TABLE_START_CAPACITY, MemoryBlocks.Capacity);
    MemoryFree(2);
    EXPECT_EQ(nullptr, MemoryBlocks.BlockTable[2]);
    EXPECT_EQ(0, BusyBlocks());
}

TEST_F(MemoryBlocksTest, FailedAllocationLeavesTheNumberWithoutBlockAndNoCurrent)
{
    // Far more than a 32-bit process can have.
    Allocated(0, 8);
    EXPECT_EQ(nullptr, MemoryAllocate(0, INT32_MAX));
    EXPECT_EQ(nullptr, MemoryCurrent());
    EXPECT_EQ(nullptr, MemoryBlocks.BlockTable[0]);
    EXPECT_EQ(0, BusyBlocks());
}

} // namespace
