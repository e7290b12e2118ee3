// zlib as a black-box oracle for the peer tests and fuzzers: one stream
// inflated in one call into a buffer of a given size.
#pragma once
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vek::testing {

struct ZlibInflated {
    std::vector<uint8_t> out;  // the bytes produced
    size_t used = 0;           // input bytes taken
    int rc = Z_STREAM_ERROR;   // inflate()'s result (Z_STREAM_END: the stream ended)
    std::string msg;           // zlib's message, if any
};

// window_bits as for inflateInit2: -15 raw, 15 zlib, 31 gzip. A raw stream
// may start with the preset dictionary `dict`.
inline ZlibInflated zlib_inflate_once(const uint8_t* src, size_t n, int window_bits, size_t cap,
                                      const std::vector<uint8_t>& dict = {}) {
    ZlibInflated r;
    z_stream z{};
    if (inflateInit2(&z, window_bits) != Z_OK) return r;
    if (!dict.empty() && inflateSetDictionary(&z, dict.data(), uInt(dict.size())) != Z_OK) {
        inflateEnd(&z);
        return r;
    }
    r.out.resize(cap);
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = uInt(n);
    z.next_out = r.out.data();
    z.avail_out = uInt(cap);
    r.rc = inflate(&z, Z_FINISH);
    r.out.resize(z.total_out);
    r.used = z.total_in;
    if (z.msg) r.msg = z.msg;
    inflateEnd(&z);
    return r;
}

}  // namespace vek::testing
