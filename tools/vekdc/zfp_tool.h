// ZFP coding of whole 3-D float32 arrays, shared by the tool's zfp format
// and its ZFP benchmark rows, and the libzfp peer the benchmark times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vekdc.h"

namespace vekdc {

// One of the three modes, as the zfp command-line tool takes them.
struct ZfpMode {
    enum Kind { kRate, kPrecision, kAccuracy } kind = kRate;
    double value = 8;
    std::string label() const;  // "rate 8", "precision 16", "accuracy 0.001"
};

struct ZfpShape {
    size_t nx = 0, ny = 0, nz = 0;
    uint64_t count() const { return uint64_t(nx) * ny * nz; }
    uint64_t blocks() const { return uint64_t((nx + 3) / 4) * ((ny + 3) / 4) * ((nz + 3) / 4); }
    // Values in a slab of four layers (the last slab may have fewer).
    size_t slab_count() const { return nx * ny * 4; }
    size_t slab_blocks() const { return ((nx + 3) / 4) * ((ny + 3) / 4); }
};

// True when every size derived from the shape (value, block and byte counts
// of the whole array, a slab's bytes) fits the integers of this build
// without wrapping; otherwise false with *error set. Dimensions from a
// command line must pass this before any of the counts above is used.
bool zfp_shape_fits(const ZfpShape& shape, std::string* error);

// Bits every block of a stream in this mode takes at least: a fixed rate
// pads each block to its bit count, the other modes spend at least one bit.
uint64_t zfp_min_block_bits(const ZfpMode& mode);

// Stream capacity that compressing an array of this shape never exceeds.
size_t zfp_stream_bound(const ZfpShape& shape);

// The array coded one slab of (up to) four layers of nx*ny values at a
// time, so that neither direction needs the whole array in memory. The
// encoder writes each slab's bits into a buffer of its own; the whole words
// finished so far are then handed out (data(), ready()) and take() makes
// their room free again. The stream is the same as the whole-array
// functions above write.
class ZfpSlabEncoder {
  public:
    ZfpSlabEncoder(const ZfpShape& shape, const ZfpMode& mode);
    ZfpSlabEncoder(const ZfpSlabEncoder&) = delete;
    ZfpSlabEncoder& operator=(const ZfpSlabEncoder&) = delete;
    // Encodes the slab's `layers` (1..4) layers. False with *error set on
    // failure (also for every call after one).
    bool encode(const float* slab, size_t layers, std::string* error);
    // After the last slab: flushes the last bits; ready() then ends at the
    // last byte holding a bit.
    bool finish(std::string* error);
    const uint8_t* data() const { return buf_.get(); }
    size_t ready() const { return ready_; }
    void take();

  private:
    ZfpShape shape_;
    size_t cap_;
    std::unique_ptr<uint8_t[]> buf_;
    vekZfpState_32f st_;
    vekStatus status_;
    size_t ready_ = 0;
};

// Decodes one slab at a time from a whole stream in memory (src must
// outlive the decoder).
class ZfpSlabDecoder {
  public:
    ZfpSlabDecoder(const uint8_t* src, size_t n, const ZfpShape& shape, const ZfpMode& mode);
    ZfpSlabDecoder(const ZfpSlabDecoder&) = delete;
    ZfpSlabDecoder& operator=(const ZfpSlabDecoder&) = delete;
    // Decodes the slab's `layers` (1..4) layers. False with *error set when
    // the stream ends early or cannot be decoded.
    bool decode(float* slab, size_t layers, std::string* error);
    // Source bytes the decoder has loaded.
    size_t consumed() const;

  private:
    ZfpShape shape_;
    vekZfpState_32f st_;
    vekStatus status_;
    uint64_t done_ = 0;  // blocks decoded
};

// Compresses a[nz][ny][nx] block by block (x fastest), padding partial
// blocks at the edges the way the zfp tool does, into dst (at least
// zfp_stream_bound bytes). Returns the stream length, which ends at the last
// byte holding a bit; 0 with *error set on failure.
size_t zfp_compress_array(const float* a, const ZfpShape& shape, const ZfpMode& mode, uint8_t* dst,
                          size_t cap, std::string* error);

// Decompresses into a (shape.count() values). Returns false with *error
// set when the stream ends early; *consumed receives the source bytes the
// decoder loaded.
bool zfp_decompress_array(const uint8_t* src, size_t n, const ZfpShape& shape, const ZfpMode& mode,
                          float* a, size_t* consumed, std::string* error);

// libzfp's serial compressor and decompressor with the same stream layout;
// null functions in builds without peers. compress returns the stream size
// (0 on failure); decompress returns false on failure.
struct ZfpPeer {
    const char* name;
    size_t (*compress)(const float* a, const ZfpShape& shape, const ZfpMode& mode, uint8_t* dst,
                       size_t cap);
    bool (*decompress)(const uint8_t* src, size_t n, const ZfpShape& shape, const ZfpMode& mode,
                       float* a);
};
const ZfpPeer* zfp_peer();

}  // namespace vekdc
