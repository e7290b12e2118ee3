// Bit-level reading of .bz2 streams for the tests: the stream header, the
// block headers (magic, CRC, randomised bit, primary index, in-use bitmap)
// and the end-of-stream record. The table context and the coded symbols
// after a block header are left to the library: the reader hands its
// position over as the library's accumulator (pending bits left-aligned)
// plus the following bytes, and takes it back afterwards.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vek::testing::bz2 {

inline constexpr uint64_t kBlockMagic = 0x314159265359ull;
inline constexpr uint64_t kEndMagic = 0x177245385090ull;

class StreamReader {
public:
    StreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t bit_position() const { return bit_; }
    size_t bits_left() const { return size_ * 8 > bit_ ? size_ * 8 - bit_ : 0; }

    // Up to 32 bits, most significant first; false past the end.
    bool get(int n, uint32_t* v) {
        if (bits_left() < static_cast<size_t>(n)) return false;
        uint32_t r = 0;
        for (int i = 0; i < n; ++i, ++bit_) r = (r << 1) | ((data_[bit_ >> 3] >> (7 - (bit_ & 7))) & 1u);
        *v = r;
        return true;
    }

    // 'BZh' and a level digit 1..9.
    bool stream_header(int* level) {
        uint32_t b, z, h, d;
        if (!get(8, &b) || !get(8, &z) || !get(8, &h) || !get(8, &d)) return false;
        if (b != 'B' || z != 'Z' || h != 'h' || d < '1' || d > '9') return false;
        *level = static_cast<int>(d - '0');
        return true;
    }

    struct Block {
        uint32_t crc = 0;
        bool randomised = false;
        uint32_t primary = 0;
        uint8_t inUse[256] = {};
        int dictSize = 0;
    };
    enum class Next { kBlock, kEnd, kError };

    // A block header up to its in-use bitmap, or the end-of-stream record
    // (whose combined CRC lands in *combinedCrc).
    Next next(Block* blk, uint32_t* combinedCrc) {
        uint32_t hi, lo, v;
        if (!get(24, &hi) || !get(24, &lo)) return Next::kError;
        const uint64_t magic = (static_cast<uint64_t>(hi) << 24) | lo;
        if (magic == kEndMagic) return get(32, combinedCrc) ? Next::kEnd : Next::kError;
        if (magic != kBlockMagic) return Next::kError;
        *blk = Block{};
        if (!get(32, &blk->crc) || !get(1, &v)) return Next::kError;
        blk->randomised = v != 0;
        if (!get(24, &blk->primary)) return Next::kError;
        uint32_t ranges;
        if (!get(16, &ranges)) return Next::kError;
        for (int r = 0; r < 16; ++r) {
            if (!(ranges & (0x8000u >> r))) continue;
            uint32_t bits;
            if (!get(16, &bits)) return Next::kError;
            for (int k = 0; k < 16; ++k)
                if (bits & (0x8000u >> k)) blk->inUse[r * 16 + k] = 1;
        }
        for (int i = 0; i < 256; ++i) blk->dictSize += blk->inUse[i];
        return Next::kBlock;
    }

    // Hands the position to the library: the rest of the current byte as
    // pending bits, then the following bytes.
    void to_library(uint32_t* code, int32_t* codeLenBits, const uint8_t** src, int32_t* srcLen) const {
        const size_t byte = bit_ >> 3;
        const int used = static_cast<int>(bit_ & 7);
        if (used == 0) {
            *code = 0;
            *codeLenBits = 0;
            *src = data_ + byte;
            *srcLen = static_cast<int32_t>(size_ - byte);
        } else {
            *code = static_cast<uint32_t>(static_cast<uint8_t>(data_[byte] << used)) << 24;
            *codeLenBits = 8 - used;
            *src = data_ + byte + 1;
            *srcLen = static_cast<int32_t>(size_ - byte - 1);
        }
    }

    // Takes the position back: the next unread byte minus the bits still pending.
    void from_library(const uint8_t* src, int32_t codeLenBits) {
        bit_ = static_cast<size_t>(src - data_) * 8 - static_cast<size_t>(codeLenBits);
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t bit_ = 0;
};

// Writes .bz2 stream fields most significant bit first through the same
// accumulator convention as the library (pending bits left-aligned), so the
// library's encoder output can be spliced in between.
class StreamWriter {
public:
    std::vector<uint8_t> out;
    uint32_t code = 0;
    int32_t codeLenBits = 0;

    void put(uint32_t v, int n) {  // n <= 24
        while (codeLenBits >= 8) {
            out.push_back(static_cast<uint8_t>(code >> 24));
            code <<= 8;
            codeLenBits -= 8;
        }
        code |= (v & ((n == 32 ? 0u : (1u << n)) - 1u)) << (32 - codeLenBits - n);
        codeLenBits += n;
    }
    void put48(uint64_t v) {
        put(static_cast<uint32_t>(v >> 24) & 0xFFFFFFu, 24);
        put(static_cast<uint32_t>(v) & 0xFFFFFFu, 24);
    }
    void put32(uint32_t v) {
        put(v >> 16, 16);
        put(v & 0xFFFFu, 16);
    }
    void stream_header(int level) {
        put('B', 8), put('Z', 8), put('h', 8), put(static_cast<uint32_t>('0' + level), 8);
    }
    void block_header(uint32_t crc, uint32_t primary, const uint8_t* inUse) {
        put48(kBlockMagic);
        put32(crc);
        put(0, 1);
        put(primary, 24);
        uint32_t ranges = 0;
        for (int r = 0; r < 16; ++r)
            for (int k = 0; k < 16; ++k)
                if (inUse[r * 16 + k]) ranges |= 0x8000u >> r;
        put(ranges, 16);
        for (int r = 0; r < 16; ++r) {
            if (!(ranges & (0x8000u >> r))) continue;
            uint32_t bits = 0;
            for (int k = 0; k < 16; ++k)
                if (inUse[r * 16 + k]) bits |= 0x8000u >> k;
            put(bits, 16);
        }
    }
    void end(uint32_t combinedCrc) {
        put48(kEndMagic);
        put32(combinedCrc);
        while (codeLenBits > 0) {
            out.push_back(static_cast<uint8_t>(code >> 24));
            code <<= 8;
            codeLenBits -= 8;
        }
        codeLenBits = 0;
        code = 0;
    }
};

}  // namespace vek::testing::bz2
