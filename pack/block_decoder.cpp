// Block decoder and checksum.
//
// Compiled into the installer (no exceptions, no RTTI) and natively for the
// packer, the tests, the fuzzer and the benchmark, so it stays plain
// C++17 with no platform calls, no allocation and no tables: the state of one
// call is the BlockStream below, and the only memory touched is the caller's
// two buffers.
//
// Malformed input never leaves the two buffers. A test that fails ends the
// call at once as a failure. Reads past the block's end are only noted, for the
// end: they yield zero bits, and zero bits end every code within a few bits
// (twelve of them are the end code), so the code loop stops soon after.
#include "pack/block_decoder.h"

#include <string.h>

#include "pack/block_format.h"

// The whole decoder is expanded into each entry point, so that its state lives
// in registers; a build for size (-Os) leaves that choice to the compiler and
// decodes about a fifth slower, behind zlib's inflate.
#if defined(__GNUC__) && !defined(__OPTIMIZE_SIZE__)
#define BLOCK_INLINE inline __attribute__((always_inline))
#else
#define BLOCK_INLINE inline
#endif
// The installer's build (QZ_DECODER_SMALL) keeps the once-a-word path out of
// line: natively that costs about 3 % of the speed, in the installer it saves
// about 730 bytes of code.
#if defined(__GNUC__) && defined(QZ_DECODER_SMALL)
#define BLOCK_RARE __attribute__((noinline))
#else
#define BLOCK_RARE BLOCK_INLINE
#endif
#if defined(__GNUC__)
#define BLOCK_LIKELY(condition) __builtin_expect(!!(condition), 1)
#else
#define BLOCK_LIKELY(condition) (condition)
#endif

namespace {

// Where the words come from: touched once a word, so it may live in memory
// while the decoder's state stays in registers.
struct BlockSource {
    const uint8_t* next;  // next word of the bit stream
    const uint8_t* end;   // first byte past the block
    bool overrun;         // a word was missing or cut short: the call gives 0
};

struct BitReader {
    BlockSource* source;
    uint32_t bits;  // unread bits of the current word at the top, then one 1 bit (the sentinel), then zeros
};

struct BlockStream {
    BitReader in;
    uint8_t* start;         // the destination
    uint8_t* out;           // next byte to write
    uint8_t* limit;         // the smaller of the capacity and the unpacked size
    uint32_t lastOffset;    // used by the repeat match
    uint32_t lowWidth;      // bits in a match offset's low part
    uint32_t literalWidth;  // 0 until the first literal-format code
    uint32_t literalBase;
};

BLOCK_INLINE uint32_t CountTrailingZeros(uint32_t value)
{
#if defined(__GNUC__)
    return uint32_t(__builtin_ctz(value));
#else
    uint32_t count = 0;
    for (; (value & 1) == 0; value >>= 1) {
        ++count;
    }
    return count;
#endif
}

BLOCK_INLINE uint32_t CountLeadingZeros(uint32_t value)
{
#if defined(__GNUC__)
    return uint32_t(__builtin_clz(value));
#else
    uint32_t count = 0;
    for (; (value & 0x80000000u) == 0; value <<= 1) {
        ++count;
    }
    return count;
#endif
}

// A field of `count` (1 to 31) bits whose first `have` bits (0 to count - 1)
// are what is left of this word, the rest from the top of the next one, below
// which the new sentinel goes. Runs once a word, so the installer keeps it out
// of line: it gives the field in the low half and the new bit buffer in the
// high half, the stream's state stays in registers and the words' source in
// memory.
BLOCK_RARE uint64_t ReadAcrossWords(BlockSource& source, uint32_t bits, uint32_t count)
{
    uint32_t word = 0;
    // A word cut short by the block's end is as missing as one past it.
    if (BLOCK_LIKELY(source.end - source.next >= 4)) {
        word = LoadU32(source.next);
        source.next += 4;
    } else {
        source.overrun = true;
    }
    const uint32_t have = 31 - CountTrailingZeros(bits);
    const uint32_t need = count - have;
    const uint32_t head = bits >> 1 >> (31 - have);
    const uint32_t next = word << need | 1u << (need - 1);
    return uint64_t(next) << 32 | (head << need | word >> (32 - need));
}

// An n-bit field, most significant bit first, 1 <= count <= 31. The shift by
// count keeps a non-zero result exactly when the sentinel sits at least count
// places below the top, that is when the word still holds the whole field.
// For one bit: only the sentinel was left, so the shift gave 0, and the new
// word's top bit is the answer; each word is loaded once and yields exactly
// 32 bits.
BLOCK_INLINE uint32_t ReadBits(BitReader& in, uint32_t count)
{
    const uint32_t shifted = in.bits << count;
    if (BLOCK_LIKELY(shifted != 0)) {
        const uint32_t value = in.bits >> (32 - count);
        in.bits = shifted;
        return value;
    }
    const uint64_t both = ReadAcrossWords(*in.source, in.bits, count);
    in.bits = uint32_t(both >> 32);
    return uint32_t(both);
}

BLOCK_INLINE uint32_t ReadBit(BitReader& in) { return ReadBits(in, 1); }

// The smallest gamma number; ReadGamma gives 0 for one over 32 bits.
constexpr uint32_t GAMMA_MIN = 2;

// Data bit, continuation bit, ... from a value of 1. Gives 0 for a number over
// 32 bits. Each data bit travels with its continuation bit, so the pair is
// read as one 2-bit field.
BLOCK_INLINE uint32_t ReadGammaPairs(BitReader& in)
{
    uint32_t value = 1;
    for (;;) {
        if (value >= 0x80000000u) {
            return 0;
        }
        const uint32_t pair = ReadBits(in, 2);
        value = value << 1 | pair >> 1;
        if ((pair & 1) == 0) {
            return value;
        }
    }
}

// Continuation bits of the first GAMMA_FAST_PAIRS pairs at the top of the
// bit buffer: bits 30, 28, ..., 16.
constexpr uint32_t GAMMA_FAST_PAIRS = 8;
constexpr uint32_t GAMMA_STOP_BITS = 0x55550000u;

// A number of up to eight pairs that lies wholly in the current word is read
// without a branch per pair, which the pair loop mispredicts at its end for
// most numbers: the highest continuation bit that is 0 ends the number, and
// the data bits above it are gathered into one byte in three steps. Below
// the sentinel every bit is 0 and looks like an end; the shift that consumes
// the number then leaves 0, the same test as for any field, and the pair
// loop takes over.
BLOCK_INLINE uint32_t ReadGamma(BitReader& in)
{
    const uint32_t stops = ~in.bits & GAMMA_STOP_BITS;
    if (BLOCK_LIKELY(stops != 0)) {
        const uint32_t used = CountLeadingZeros(stops) + 1;
        const uint32_t rest = in.bits << used;
        if (BLOCK_LIKELY(rest != 0)) {
            uint32_t data = in.bits >> 17 & 0x5555u;
            data = (data | data >> 1) & 0x3333u;
            data = (data | data >> 2) & 0x0F0Fu;
            data = (data | data >> 4) & 0x00FFu;
            in.bits = rest;
            return (data | 1u << GAMMA_FAST_PAIRS) >> (GAMMA_FAST_PAIRS - used / 2);
        }
    }
    return ReadGammaPairs(in);
}

BLOCK_INLINE void Copy8(uint8_t* to, const uint8_t* from) { memcpy(to, from, 8); }

// Up to this length, with the source at least 8 bytes back and room for as
// many bytes again behind the copy, a copy costs no branch on its length: the
// bytes behind it are put aside, a whole window is copied, and the bytes put
// aside go back on top of the window's surplus.
constexpr uint32_t WINDOW_COPY_MAX = 16;

BLOCK_INLINE void WindowCopy(uint8_t* to, const uint8_t* from, uint32_t length)
{
    uint8_t* const after = to + length;
    uint8_t aside[WINDOW_COPY_MAX];
    memcpy(aside, after, WINDOW_COPY_MAX);
    Copy8(to, from);
    Copy8(to + 8, from + 8);
    memcpy(after, aside, WINDOW_COPY_MAX);
}

// Copies length bytes from offset bytes back, with the result of a copy made
// one byte at a time, first to last: when the offset is smaller than the
// length, the copy reads bytes it has itself just written. Wide moves are used
// only where each one reads bytes that are already final: source and target
// at least a move apart. Two moves may overlap each other to cover an odd
// length. The bytes after the copy end up as the caller left them (the window
// copy puts back what it overwrote there, never past the limit), so a block
// that stops short is checked against them. False, with nothing copied, when
// the copy would reach outside the output.
BLOCK_INLINE bool CopyMatch(BlockStream& s, uint32_t offset, uint32_t length)
{
    if (offset == 0 || offset > uint32_t(s.out - s.start)) {
        return false;
    }
    const uint32_t room = uint32_t(s.limit - s.out);
    if (length > room) {
        return false;
    }
    uint8_t* to = s.out;
    const uint8_t* from = to - offset;
    s.out += length;
    if (offset >= 8 && length <= WINDOW_COPY_MAX && room - length >= WINDOW_COPY_MAX) {
        WindowCopy(to, from, length);
        return true;
    }
    if (offset >= 8 && length >= 8) {
        for (uint32_t done = 0; done + 8 <= length; done += 8) {
            Copy8(to + done, from + done);
        }
        Copy8(to + length - 8, from + length - 8);
        return true;
    }
    if (offset == 1) {
        memset(to, *from, length);
        return true;
    }
    for (; length != 0; --length) {
        *to++ = *from++;
    }
    return true;
}

BLOCK_INLINE bool WriteByte(BlockStream& s, uint32_t value)
{
    if (s.out == s.limit) {
        return false;
    }
    *s.out++ = uint8_t(value);
    return true;
}

BLOCK_INLINE bool DecodeLiteral(BlockStream& s)
{
    if (s.literalWidth == 0) {
        return false;
    }
    return WriteByte(s, ReadBits(s.in, s.literalWidth) + s.literalBase);
}

// The 01 codes: a match, or a repeat of the last offset, which has no length
// bonus. True when a copy of `length` bytes from the last offset, which the
// match has just set, is due; false for a malformed match.
BLOCK_INLINE bool DecodeMatch(BlockStream& s, uint32_t& length)
{
    uint32_t offset = s.lastOffset;
    uint32_t bonus = 0;
    // The offset's high part, then the length: both numbers through one
    // expanded ReadGamma.
    for (bool high = true;; high = false) {
        const uint32_t gamma = ReadGamma(s.in);
        if (!high) {
            // A gamma number over 32 bits (0) wraps, as does a sum over 32 bits.
            if (gamma - GAMMA_MIN > UINT32_MAX - GAMMA_MIN - bonus) {
                return false;
            }
            s.lastOffset = offset;
            length = gamma + bonus;
            return true;
        }
        if (gamma != BLOCK_REPEAT_GAMMA) {
            const uint32_t width = s.lowWidth;
            if (width - 1 >= BLOCK_MAX_OFFSET_LOW_WIDTH) {
                return false;
            }
            // 0 for a number over 32 bits; the wrapped value fails the next test.
            const uint32_t top = gamma - BLOCK_MATCH_GAMMA_BIAS;
            if (top >> (32 - width) != 0) {
                return false;
            }
            offset = top << width | ReadBits(s.in, width);
            bonus = BlockLengthBonus(offset);
        }
    }
}

// 256 bytes of 8 bits each, per run: exactly 64 words, read 16 bits at a time.
BLOCK_INLINE bool DecodeRawRuns(BlockStream& s)
{
    do {
        if (uint32_t(s.limit - s.out) < BLOCK_RAW_RUN_SIZE) {
            return false;
        }
        for (uint32_t i = 0; i < BLOCK_RAW_RUN_SIZE; i += 2) {
            const uint32_t pair = ReadBits(s.in, 16);
            s.out[0] = uint8_t(pair >> 8);
            s.out[1] = uint8_t(pair);
            s.out += 2;
        }
    } while (ReadBit(s.in));
    return true;
}

// The 001 codes: near byte, zero byte, raw runs, literal format.
BLOCK_INLINE bool DecodeNearCode(BlockStream& s)
{
    const uint32_t value = ReadBits(s.in, BLOCK_NEAR_BITS);
    if (value >= BLOCK_NEAR_ZERO_BYTE) {
        // One byte from offset value - 1, or the zero byte at "offset 0",
        // through one WriteByte; unlike the other copies it leaves the last
        // offset alone.
        const uint32_t offset = value - 1;
        if (offset > uint32_t(s.out - s.start)) {
            return false;
        }
        return WriteByte(s, offset != 0 ? s.out[-int32_t(offset)] : 0);
    }
    if (ReadBit(s.in)) {
        return DecodeRawRuns(s);
    }
    const uint32_t wide = ReadBit(s.in);
    s.literalWidth = BLOCK_LITERAL_MIN_WIDTH + wide;
    s.literalBase = wide ? 0 : ReadBits(s.in, BLOCK_LITERAL_BASE_BITS);
    return true;
}

enum BlockShortKind : uint32_t { SHORT_MATCH, SHORT_OFFSET_WIDTH, SHORT_END };

// The 000 codes: short match, offset width, end code. A short match sets the
// last offset and `length`, for the copy that follows.
BLOCK_INLINE BlockShortKind DecodeShortCode(BlockStream& s, uint32_t& length)
{
    const uint32_t field = ReadBits(s.in, BLOCK_SHORT_OFFSET_BITS + BLOCK_SHORT_LENGTH_BITS);
    const uint32_t offset = field >> BLOCK_SHORT_LENGTH_BITS;
    const uint32_t lengthCode = field & ((1u << BLOCK_SHORT_LENGTH_BITS) - 1);
    if (offset != 0) {
        s.lastOffset = offset;
        length = lengthCode + BLOCK_SHORT_MIN_LENGTH;
        return SHORT_MATCH;
    }
    if (lengthCode == 0) {
        return SHORT_END;
    }
    s.lowWidth = ReadBits(s.in, lengthCode + BLOCK_OFFSET_WIDTH_EXTRA_BITS);
    return SHORT_OFFSET_WIDTH;
}

enum BlockCodeKind : uint32_t { CODE_SHORT = 0, CODE_NEAR = 1, CODE_MATCH = 2, CODE_LITERAL = 3 };

// Consumes the code's one to three prefix bits. With three bits at hand, one
// look at them decides; only near a word's end are they read one by one.
BLOCK_INLINE BlockCodeKind ReadCodeKind(BlockStream& s)
{
    const uint32_t shifted = s.in.bits << BLOCK_SHORT_PREFIX_BITS;
    if (BLOCK_LIKELY(shifted != 0)) {
        const uint32_t prefix = s.in.bits >> (32 - BLOCK_SHORT_PREFIX_BITS);
        if (prefix >= 0b100) {
            s.in.bits <<= BLOCK_LITERAL_PREFIX_BITS;
            return CODE_LITERAL;
        }
        if (prefix >= 0b010) {
            s.in.bits <<= BLOCK_MATCH_PREFIX_BITS;
            return CODE_MATCH;
        }
        s.in.bits = shifted;
        return BlockCodeKind(prefix);
    }
    // One bit at a time, through one read: a 1 ends the prefix as a literal
    // (first bit) or a match (second bit); the third bit tells the near codes
    // from the short ones.
    for (uint32_t kind = CODE_LITERAL;; --kind) {
        const uint32_t bit = ReadBit(s.in);
        if (kind == CODE_NEAR) {
            return BlockCodeKind(bit);
        }
        if (bit != 0) {
            return BlockCodeKind(kind);
        }
    }
}

// Every copy goes through the one CopyMatch below, from the last offset the
// code has just set: each inlined copy of it costs a few hundred bytes.
// True at the end code, false at the first malformed code.
BLOCK_INLINE bool DecodeCodes(BlockStream& s)
{
    for (;;) {
        uint32_t length = 0;
        switch (ReadCodeKind(s)) {
        case CODE_LITERAL:
            if (!DecodeLiteral(s)) {
                return false;
            }
            continue;
        case CODE_NEAR:
            if (!DecodeNearCode(s)) {
                return false;
            }
            continue;
        case CODE_MATCH:
            if (!DecodeMatch(s, length)) {
                return false;
            }
            break;
        case CODE_SHORT:
            switch (DecodeShortCode(s, length)) {
            case SHORT_MATCH:
                break;
            case SHORT_OFFSET_WIDTH:
                continue;
            case SHORT_END:
                return true;
            }
            break;
        }
        if (!CopyMatch(s, s.lastOffset, length)) {
            return false;
        }
    }
}

BLOCK_INLINE uint32_t ChecksumStep(uint32_t sum, uint32_t word)
{
    const uint32_t rotated = word << 1 | word >> 31;
    return (sum + word) ^ (rotated + 1);
}

// The one decoder behind both entry points: true with the count of bytes
// written in written, or false for a block that fails.
BLOCK_INLINE bool DecodeBlock(const uint8_t* source, uint32_t sourceLength, uint8_t* destination, uint32_t capacity,
                              uint32_t& written)
{
    if (source == nullptr || destination == nullptr || sourceLength < BLOCK_HEADER_SIZE) {
        return false;
    }
    if (source[0] != BLOCK_MAGIC_0 || source[1] != BLOCK_MAGIC_1) {
        return false;
    }
    const uint32_t unpackedSize = LoadU32(source + BLOCK_UNPACKED_SIZE_OFFSET);
    const uint32_t checksum = LoadU32(source + BLOCK_CHECKSUM_OFFSET);
    // The checksum covers the whole unpacked size, which must then fit.
    if (checksum != 0 && unpackedSize > capacity) {
        return false;
    }
    BlockSource words = {source + BLOCK_HEADER_SIZE, source + sourceLength, false};
    BlockStream s = {};
    s.in.source = &words;
    s.in.bits = 0x80000000u;
    s.start = destination;
    s.out = destination;
    s.limit = destination + (unpackedSize < capacity ? unpackedSize : capacity);
    s.lastOffset = BLOCK_FIRST_LAST_OFFSET;
    s.lowWidth = BLOCK_FIRST_OFFSET_LOW_WIDTH;
    if (!DecodeCodes(s) || words.overrun) {
        return false;
    }
    written = uint32_t(s.out - destination);
    // Over the unpacked size, not the bytes written: a block that stops short
    // is checked together with whatever the destination held beyond.
    return checksum == 0 || BlockChecksum(destination, unpackedSize) == checksum;
}

}  // namespace

uint32_t BlockDecompress(const uint8_t* source, uint32_t sourceLength, uint8_t* destination, uint32_t capacity)
{
    uint32_t written = 0;
    return DecodeBlock(source, sourceLength, destination, capacity, written) ? written : 0;
}

bool BlockSound(const uint8_t* source, uint32_t sourceLength, uint8_t* destination, uint32_t unpacked)
{
    uint32_t written = 0;
    return DecodeBlock(source, sourceLength, destination, unpacked, written) && written == unpacked;
}

uint32_t BlockChecksum(const uint8_t* data, uint32_t n)
{
    if (data == nullptr || n < 4) {
        return 0;
    }
    uint32_t sum = 0;
    uint32_t at = 0;
    for (; n - at >= 4; at += 4) {
        sum = ChecksumStep(sum, LoadU32(data + at));
    }
    // One to three bytes left: the last four bytes, overlapping the word before.
    if (at != n) {
        sum = ChecksumStep(sum, LoadU32(data + n - 4));
    }
    return sum;
}
