#include "runtime/memory.h"

#include <string.h>

#include "app/installer_state.h"

MemoryBlocksRecord MemoryBlocks;

// The largest number whose grown table still has a size that fits in 32 bits.
static const int32_t MEMORY_NUMBER_LIMIT = int32_t(0x7FFFFFFF / sizeof(uint8_t*)) - MEMORY_TABLE_GROWTH - 1;

static SIZE_T MemoryTableSize(int32_t capacity)
{
    return SIZE_T(capacity + 1) * sizeof(uint8_t*);
}

void* RuntimeTableResize(void* table, SIZE_T size)
{
    // HeapReAlloc refuses a null block.
    if (!table)
        return HeapAlloc(InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY, size);
    return HeapReAlloc(InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY, table, size);
}

void MemoryInit()
{
    MemoryBlocks.Capacity = MEMORY_TABLE_START_CAPACITY;
    MemoryBlocks.BlockTable = static_cast<uint8_t**>(HeapAlloc(
        InstallerState.RuntimeHeap, HEAP_ZERO_MEMORY, MemoryTableSize(MEMORY_TABLE_START_CAPACITY)));
    MemoryBlocks.BlockHeap = HeapCreate(0, BLOCK_HEAP_INITIAL_SIZE, 0);
}

void MemoryEnd()
{
    // Both are cleared so that a second end, or a use after it, finds
    // nothing to release twice.
    if (MemoryBlocks.BlockHeap)
        HeapDestroy(MemoryBlocks.BlockHeap);
    MemoryBlocks.BlockHeap = nullptr;
    if (MemoryBlocks.BlockTable)
        HeapFree(InstallerState.RuntimeHeap, 0, MemoryBlocks.BlockTable);
    MemoryBlocks.BlockTable = nullptr;
}

// Makes room for the number. On failure the old table and its blocks stay as
// they were and 0 is returned.
static int MemoryTableReach(int32_t number)
{
    if (number <= MemoryBlocks.Capacity)
        return 1;
    if (number > MEMORY_NUMBER_LIMIT)
        return 0;
    const int32_t capacity = number + MEMORY_TABLE_GROWTH;
    void* const grown = RuntimeTableResize(MemoryBlocks.BlockTable, MemoryTableSize(capacity));
    if (!grown)
        return 0;
    MemoryBlocks.BlockTable = static_cast<uint8_t**>(grown);
    MemoryBlocks.Capacity = capacity;
    return 1;
}

uint8_t* MemoryAllocate(int32_t number, int32_t size)
{
    if (size <= 0)
        return nullptr;
    MemoryBlocks.CurrentBlock = nullptr;
    if (number < 0 || !MemoryBlocks.BlockTable || !MemoryBlocks.BlockHeap)
        return nullptr;
    if (!MemoryTableReach(number))
        return nullptr;
    MemoryFree(number);
    uint8_t* const block = static_cast<uint8_t*>(HeapAlloc(MemoryBlocks.BlockHeap, HEAP_ZERO_MEMORY, SIZE_T(size)));
    MemoryBlocks.CurrentBlock = block;
    MemoryBlocks.BlockTable[number] = block;
    return block;
}

uint8_t* MemoryCurrent()
{
    return MemoryBlocks.CurrentBlock;
}

void MemoryFree(int32_t number)
{
    // CurrentBlock keeps its value even when its block goes: MemoryCurrent
    // gives the last allocation's address, not a live block's. Nothing reads
    // it stale: the installer frees a block only through MemoryAllocate,
    // which sets CurrentBlock right after, and every block at exit.
    if (number < 0) {
        MemoryEnd();
        MemoryInit();
        return;
    }
    if (!MemoryBlocks.BlockTable || number > MemoryBlocks.Capacity)
        return;
    uint8_t* const block = MemoryBlocks.BlockTable[number];
    if (!block)
        return;
    HeapFree(MemoryBlocks.BlockHeap, 0, block);
    MemoryBlocks.BlockTable[number] = nullptr;
}

uint8_t* MemoryCopy(const void* source, void* destination, uint32_t length)
{
    memcpy(destination, source, length);
    return static_cast<uint8_t*>(destination) + length;
}
