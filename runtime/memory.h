// Numbered, zero-filled memory blocks.
//
// A caller allocates a block under a small number of its own choosing;
// allocating a number again replaces its block. The blocks live in BlockHeap,
// a heap of their own, so that all of them go at once with it; the table of
// block addresses lives in the runtime heap.
#pragma once

#include <windows.h>
#include <stdint.h>

// The table starts with numbers 0 to 10; a number beyond the highest valid
// one grows it to number + MEMORY_TABLE_GROWTH.
constexpr int32_t MEMORY_TABLE_START_CAPACITY = 10;
constexpr int32_t MEMORY_TABLE_GROWTH = 50;
constexpr SIZE_T BLOCK_HEAP_INITIAL_SIZE = 4000;

struct MemoryBlocksRecord {
    HANDLE BlockHeap;      // holds the blocks' contents and nothing else
    uint8_t** BlockTable;  // Capacity + 1 block addresses, in the runtime heap; 0 = none
    int32_t Capacity;      // the highest valid block number
    uint8_t* CurrentBlock; // the latest allocation past its size check; 0 when it failed
};

extern MemoryBlocksRecord MemoryBlocks;

// A fresh table (numbers 0 to 10, no blocks) and a fresh, empty BlockHeap.
void MemoryInit();

// Destroys BlockHeap with every block in it and releases the table.
void MemoryEnd();

// A new zero-filled block of size bytes under the number, which loses its old
// block first; also becomes CurrentBlock. A size of 0 or less returns 0 and
// changes nothing. Returns 0 when no block could be had: then CurrentBlock is
// 0 too, and the number has no block.
uint8_t* MemoryAllocate(int32_t number, int32_t size);

// The numbered tables of the runtime and the toolkit grow through this: the
// table resized to size bytes in the runtime heap, new room zero-filled, or
// allocated afresh when there was none yet. Returns 0 when the heap cannot;
// the old table then stays as it was, so no slot already filled is lost.
void* RuntimeTableResize(void* table, SIZE_T size);

uint8_t* MemoryCurrent();

// Frees the number's block; a negative number frees every block and starts
// over with a fresh table.
void MemoryFree(int32_t number);

// Copies length bytes (the areas must not overlap); returns destination + length.
uint8_t* MemoryCopy(const void* source, void* destination, uint32_t length);
