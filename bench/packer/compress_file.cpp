// The compressor alone on one file, for bench/scaling.sh: what qzpack
// compress does without its size limit and its check of the block, so that
// sizes past what the installer holds can be timed too.
//
//   build/native/bench/packer/compress_file LEVEL IN OUT
#include <stdio.h>
#include <stdlib.h>

#include <new>
#include <vector>

#include "packer/block_encoder.h"

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: compress_file LEVEL IN OUT\n");
        return 2;
    }
    const int level = atoi(argv[1]);
    FILE* in = fopen(argv[2], "rb");
    if (!in) {
        perror(argv[2]);
        return 1;
    }
    std::vector<uint8_t> data;
    try {
        uint8_t chunk[1 << 16];
        size_t got;
        while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) data.insert(data.end(), chunk, chunk + got);
        fclose(in);
        const std::vector<uint8_t> block = BlockCompress(data.data(), data.size(), level);
        FILE* out = fopen(argv[3], "wb");
        if (!out || fwrite(block.data(), 1, block.size(), out) != block.size() || fclose(out) != 0) {
            perror(argv[3]);
            return 1;
        }
    } catch (const std::bad_alloc&) {
        fprintf(stderr, "compress_file: out of memory\n");
        return 1;
    }
    return 0;
}
