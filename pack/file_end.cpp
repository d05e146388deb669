#include "pack/file_end.h"

#include "pack/block_format.h"

uint32_t PackFileEnd(const uint8_t* head, uint32_t headSize, uint32_t fileSize)
{
    if (headSize > PE_HEADS_READ_SIZE)
        headSize = PE_HEADS_READ_SIZE;
    if (headSize < PE_HEADER_POINTER_OFFSET + 4)
        return fileSize;
    const uint32_t pe = LoadU32(head + PE_HEADER_POINTER_OFFSET);
    const uint32_t entryEnd = PE_OPTIONAL_HEADER_OFFSET + PE32_SECURITY_ENTRY_OFFSET + 8;
    if (pe > headSize || headSize - pe < entryEnd)
        return fileSize;
    const uint8_t* const optional = head + pe + PE_OPTIONAL_HEADER_OFFSET;
    if (LoadU32(head + pe) != PE_SIGNATURE || (LoadU32(optional) & 0xFFFF) != PE32_MAGIC ||
        LoadU32(optional + PE32_DIRECTORY_COUNT_OFFSET) <= PE_SECURITY_DIRECTORY)
        return fileSize;
    const uint32_t start = LoadU32(optional + PE32_SECURITY_ENTRY_OFFSET);
    const uint32_t size = LoadU32(optional + PE32_SECURITY_ENTRY_OFFSET + 4);
    if (size == 0 || size > fileSize || start != fileSize - size)
        return fileSize;
    return start;
}
