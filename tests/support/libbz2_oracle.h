// libbz2 as a black-box oracle for the peer tests: whole-buffer compression
// and decompression, failing the calling test when libbz2 refuses.
#pragma once
#include <bzlib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace vek::testing {

inline std::vector<uint8_t> libbz2_compress(const std::vector<uint8_t>& in, int level,
                                            int workFactor = 0) {
    unsigned int n = static_cast<unsigned int>(in.size() + in.size() / 100 + 1024);
    std::vector<uint8_t> out(n);
    char none = 0;  // libbz2 wants a source pointer even for no bytes
    char* src = in.empty() ? &none : const_cast<char*>(reinterpret_cast<const char*>(in.data()));
    EXPECT_EQ(BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(out.data()), &n, src,
                                       static_cast<unsigned int>(in.size()), level, 0, workFactor),
              BZ_OK);
    out.resize(n);
    return out;
}

// Decompresses one stream of at most `expect` bytes (with some slack, so that
// an overlong result shows as a mismatch); empty when libbz2 refuses.
inline std::vector<uint8_t> libbz2_decompress(const std::vector<uint8_t>& stream, size_t expect) {
    unsigned int n = static_cast<unsigned int>(expect + 64);
    std::vector<uint8_t> out(n);
    const int rc =
        BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(out.data()), &n,
                                   const_cast<char*>(reinterpret_cast<const char*>(stream.data())),
                                   static_cast<unsigned int>(stream.size()), 0, 0);
    EXPECT_EQ(rc, BZ_OK);
    out.resize(rc == BZ_OK ? n : 0);
    return out;
}

}  // namespace vek::testing
