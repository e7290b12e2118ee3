// Differential fuzzer: arbitrary bytes as a raw Deflate stream. Whenever
// zlib's raw inflate accepts them as one complete stream, the library (driven
// through the stream parser with the input and output in pieces chosen from
// the data) must produce exactly zlib's bytes.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "deflate_stream_parser.h"
#include "zlib_oracle.h"

namespace {

constexpr size_t kOutLimit = 1 << 20;

// zlib's verdict: the output, or false when zlib rejects the stream or it
// does not end within the input and the output limit.
bool zlib_inflate(const uint8_t* src, size_t n, std::vector<uint8_t>* out) {
    auto r = vek::testing::zlib_inflate_once(src, n, -15, kOutLimit);
    *out = std::move(r.out);
    return r.rc == Z_STREAM_END;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 100000) return 0;
    const uint8_t cfg = data[0];
    const uint8_t* stream = data + 1;
    const size_t n = size - 1;
    std::vector<uint8_t> want;
    if (!zlib_inflate(stream, n, &want)) return 0;

    vek::testinflate::DriveOptions o;
    o.outLimit = want.size() + 64;
    o.maxInPiece = (cfg & 1) ? 1 + cfg % 7 : 0;
    o.useWindow = (cfg & 2) != 0;
    o.chunkSize = o.useWindow ? 1 + (cfg >> 2) * 97 : 0;
    o.seed = cfg;
    const vek::testinflate::DriveResult r = vek::testinflate::inflate_stream(stream, n, o);
    if (r.outcome != vek::testinflate::Outcome::kOk) std::abort();
    if (r.out != want) std::abort();
    return 0;
}
