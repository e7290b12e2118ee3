// ZFP coding of whole 3-D float32 arrays, shared by the tool's zfp format
// and its ZFP benchmark rows, and the libzfp peer the benchmark times.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vekdc {

// One of the three modes, as the zfp command-line tool takes them.
struct ZfpMode {
    enum Kind { kRate, kPrecision, kAccuracy } kind = kRate;
    double value = 8;
    std::string label() const;  // "rate 8", "precision 16", "accuracy 0.001"
};

struct ZfpShape {
    size_t nx = 0, ny = 0, nz = 0;
    size_t count() const { return nx * ny * nz; }
    size_t blocks() const { return ((nx + 3) / 4) * ((ny + 3) / 4) * ((nz + 3) / 4); }
};

// Stream capacity that compressing an array of this shape never exceeds.
size_t zfp_stream_bound(const ZfpShape& shape);

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
