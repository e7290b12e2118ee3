// The .bz2 container around the library's block-sorting stages.
//
// Stream layout (most significant bit first, blocks not byte-aligned):
//   'B' 'Z' 'h' and the level digit '1'..'9' (blocks of up to 100000 x level
//   bytes of run-length output)
//   per block: magic 0x314159265359 (48 bits), the block CRC over the
//     block's original bytes (32), the randomised bit (1, always 0 here),
//     the primary index (24), the in-use map (16 bits for the ranges of 16
//     byte values, then 16 bits for each range marked), the packed table
//     context and the coded symbols up to the end-of-block symbol
//   end of stream: magic 0x177245385090 (48), the combined CRC (32: for each
//     block, rotate left by one and XOR the block CRC), zero bits up to a
//     byte boundary
// Streams may follow one another; they decode to the concatenation of their
// contents.
//
// Both directions hold one block at a time. The encoder runs the run-length
// encoder while the input arrives, and on each full block the forward
// transform, the dictionary reduction, move-to-front, zero-run coding and the
// Huffman encoder. The decoder runs the context unpacker and the Huffman
// decoder over the input as it comes (any piece sizes), then the fused block
// decoder (or, for checking, the separate stages), the run-length decoder,
// and verifies every block CRC and the combined CRC.
//
// Errors in the data, and library calls that fail, throw Bz2Error with a
// one-line message; what the sink or the source throws passes through.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace vekdc::bz2 {

struct Bz2Error : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr int kMinLevel = 1;
constexpr int kMaxLevel = 9;
constexpr int kDefaultLevel = 9;

// Bytes of run-length output a decoder accepts per block at `level`.
constexpr int32_t block_capacity(int level) {
    return 100000 * level;
}
// Bytes of run-length output at which the encoder ends a block (plus the
// count of a run still open there): like bzip2, a few bytes below the
// capacity.
constexpr int32_t block_fill(int level) {
    return block_capacity(level) - 19;
}

// True when the n bytes at p start like a .bz2 stream ("BZh").
bool looks_like_bz2(const uint8_t* p, size_t n);

class ByteSink {
  public:
    virtual ~ByteSink() = default;
    virtual void put(const uint8_t* p, size_t n) = 0;
};

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Up to cap (>= 1) bytes into dst; 0 only at the end of the input.
    virtual size_t get(uint8_t* dst, size_t cap) = 0;
};

// Appends to a vector.
class VectorSink : public ByteSink {
  public:
    explicit VectorSink(std::vector<uint8_t>* v) : v_(v) {}
    void put(const uint8_t* p, size_t n) override { v_->insert(v_->end(), p, p + n); }

  private:
    std::vector<uint8_t>* v_;
};

// Reads bytes in memory, at most `piece` (>= 1) per call.
class MemorySource : public ByteSource {
  public:
    MemorySource(const uint8_t* p, size_t n, size_t piece = SIZE_MAX)
        : p_(p), n_(n), piece_(piece) {}
    size_t get(uint8_t* dst, size_t cap) override;

  private:
    const uint8_t* p_;
    size_t n_;
    size_t piece_;
};

// One stream at a time: write() any number of times, then finish(); the
// encoder is then ready for the next stream.
class Encoder {
  public:
    explicit Encoder(int level = kDefaultLevel);
    ~Encoder();
    Encoder(const Encoder&) = delete;
    Encoder& operator=(const Encoder&) = delete;

    void write(const uint8_t* p, size_t n, ByteSink& out);
    void finish(ByteSink& out);

  private:
    struct Buffers;
    void start_stream();
    void start_block();
    void end_block(ByteSink& out);
    void put_bits(uint32_t v, int n);
    void drain(ByteSink& out);

    const int level_;
    std::unique_ptr<Buffers> b_;
    bool stream_open_ = false;
    int32_t rle_len_ = 0;
    // The run of equal input bytes that ends the block so far: the tool
    // closes runs at 255 bytes, as bzip2 writes them (the library's stage
    // would go on to 259), so that our streams compress like bzip2's.
    int32_t run_ = 0;
    int run_byte_ = -1;
    uint32_t block_crc_ = 0;
    uint32_t combined_crc_ = 0;
    // Bit accumulator shared with the library's Huffman encoder: pending
    // bits left-aligned in code_, their number in code_bits_; whole bytes
    // go to the block output buffer.
    uint32_t code_ = 0;
    int32_t code_bits_ = 0;
    size_t out_len_ = 0;
};

// How a block's symbols are turned back into run-length output.
enum class BlockPath {
    kFused,   // veksDecodeBlock_BZ2_16u8u
    kStages,  // zero-run decoding, inverse move-to-front, dictionary expansion, inverse transform
};

class Decoder {
  public:
    explicit Decoder(BlockPath path = BlockPath::kFused);
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Decodes every stream of `in` (at least one) to `out`.
    void run(ByteSource& in, ByteSink& out);

    // Blocks and streams decoded by the last run().
    uint64_t blocks() const { return blocks_; }
    uint64_t streams() const { return streams_; }

  private:
    struct Buffers;
    class BitInput;
    void prepare(int level);
    void block(BitInput& bits, ByteSink& out);
    int32_t block_symbols(BitInput& bits, int32_t alpha);
    int32_t undo_sort_fused(int32_t nsym, int32_t primary, int32_t dict, const uint8_t* in_use);
    int32_t undo_sort_stages(int32_t nsym, int32_t primary, int32_t dict, const uint8_t* in_use);
    uint32_t expand_runs(int32_t n, ByteSink& out);

    const BlockPath path_;
    std::unique_ptr<Buffers> b_;
    int level_ = 0;         // of the current stream
    int32_t capacity_ = 0;  // its block capacity (the buffers may be larger)
    uint32_t combined_crc_ = 0;
    uint64_t blocks_ = 0;
    uint64_t streams_ = 0;
};

// One-call helpers over memory.
std::vector<uint8_t> compress(const uint8_t* p, size_t n, int level = kDefaultLevel);
// Throws Bz2Error; the source is read `piece` bytes at a time.
std::vector<uint8_t> decompress(const uint8_t* p, size_t n, BlockPath path = BlockPath::kFused,
                                size_t piece = SIZE_MAX);

}  // namespace vekdc::bz2
