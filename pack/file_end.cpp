#include "pack/file_end.h"

#include "pack/block_format.h"

uint32_t PackFileEnd(const uint8_t* head, uint32_t headSize, uint32_t fileSize)
{
    if (headSize > PE_HEADS_READ_SIZE)
        headSize = PE_HEADS_READ_SIZE;
    if (headSize < PE_HEADER_POINTER_OFFSET + 4)
        return fileSize;
    const uint32_t pe = LoadU32(head + PE_HEADER_POINTER_OFFSET);
    if (pe > headSize || headSize - pe < PE_OPTIONAL_HEADER_OFFSET + 2)
        return fileSize;
    // The magic says which form the optional header has, and so where the
    // directories begin.
    const uint8_t* const optional = head + pe + PE_OPTIONAL_HEADER_OFFSET;
    const uint32_t magic = optional[0] | optional[1] << 8;
    const uint32_t count = magic == PE32_PLUS_MAGIC ? PE32_PLUS_DIRECTORY_COUNT_OFFSET : PE32_DIRECTORY_COUNT_OFFSET;
    const uint32_t entry = count + 4 + PE_DIRECTORY_SIZE * PE_SECURITY_DIRECTORY;
    if (headSize - pe < PE_OPTIONAL_HEADER_OFFSET + entry + PE_DIRECTORY_SIZE)
        return fileSize;
    if (LoadU32(head + pe) != PE_SIGNATURE || (magic != PE32_MAGIC && magic != PE32_PLUS_MAGIC) ||
        LoadU32(optional + count) <= PE_SECURITY_DIRECTORY)
        return fileSize;
    const uint32_t start = LoadU32(optional + entry);
    const uint32_t size = LoadU32(optional + entry + 4);
    if (size == 0 || size > fileSize || start != fileSize - size)
        return fileSize;
    return start;
}
