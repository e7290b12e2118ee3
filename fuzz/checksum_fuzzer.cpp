// Differential fuzzer for the checksums: every processor path must agree
// with the portable table path, whole and split at a fuzzer-chosen point,
// and the exported functions must agree with both.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "checksum/checksum.h"
#include "core/cpu.h"
#include "vekdc.h"

using namespace vek::checksum;
using vek::core::get_feature;
using Fn = uint32_t (*)(const uint8_t*, size_t, uint32_t);

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

// Runs fn over data in two pieces split at `cut`.
uint32_t split(Fn fn, const uint8_t* p, size_t n, size_t cut, uint32_t init) {
    return fn(p + cut, n - cut, fn(p, cut, init));
}

void agree(Fn portable, Fn fast, uint64_t needs, const uint8_t* p, size_t n, size_t cut,
           uint32_t init) {
    if (needs && !get_feature(needs)) return;
    const uint32_t want = portable(p, n, init);
    check(fast(p, n, init) == want);
    check(split(fast, p, n, cut, init) == want);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    uint32_t init;
    std::memcpy(&init, data, 4);
    const size_t skew = data[4] % 16;  // vary the alignment of the buffer
    data += 5;
    size -= 5;
    const size_t cut = size ? (init >> 8) % (size + 1) : 0;
    // Copy so the alignment of the checked buffer is chosen by the input.
    static uint8_t buf[(1 << 20) + 64];
    if (size > (1 << 20)) size = 1 << 20;
    uint8_t* p = buf + skew;
    std::memcpy(p, data, size);

    using namespace vek::core;
    agree(crc32_table, crc32_clmul, kFeaturePclmul, p, size, cut, init);
    agree(crc32_table, crc32_vpclmul512, kFeatureAvx512Clmul, p, size, cut, init);
    agree(crc32c_table, crc32c_sse42, kFeatureSse42, p, size, cut, init);
    agree(crc32c_table, crc32c_sse42_clmul, kFeatureSse42 | kFeaturePclmul, p, size, cut, init);
    agree(crc32c_table, crc32c_vpclmul512, kFeatureAvx512Clmul | kFeatureSse42, p, size, cut, init);
    const uint32_t adler_init = (init & 0xFFFF) % 65521 | ((init >> 16) % 65521) << 16;
    agree(adler32_scalar, adler32_avx2, kFeatureAvx2, p, size, cut, adler_init);
    agree(adler32_scalar, adler32_avx512, kFeatureAvx512, p, size, cut, adler_init);
    agree(adler32_scalar, adler32_avx512_vnni, kFeatureAvx512 | kFeatureAvx512Vnni, p, size, cut,
          adler_init);
    agree(crc32_bz2_table, crc32_bz2_clmul, kFeaturePclmul, p, size, cut, init);

    if (size > 0) {
        uint32_t v = init;
        check(veksCRC32_8u(p, static_cast<int32_t>(size), &v) == vekStatusOk);
        check(v == crc32_table(p, size, init));
        v = init;
        check(veksCRC32C_8u(p, static_cast<uint32_t>(size), &v) == vekStatusOk);
        check(v == crc32c_table(p, size, init));
        v = adler_init;
        check(veksAdler32_8u(p, static_cast<uint32_t>(size), &v) == vekStatusOk);
        check(v == adler32_scalar(p, size, adler_init));
        v = init;
        check(veksCRC32_BZ2_8u(p, static_cast<int32_t>(size), &v) == vekStatusOk);
        check(v == crc32_bz2_table(p, size, init));
    }
    return 0;
}
