// Path selection for the checksums, made on every call after the argument
// checks. Every path gives the same value; the order below is fastest first.
#include "checksum.h"
#include "core/cpu.h"

namespace vek::checksum {

using core::get_feature;

uint32_t crc32(const uint8_t* p, size_t len, uint32_t crc) {
    if (get_feature(core::kFeatureAvx512Clmul)) return crc32_vpclmul512(p, len, crc);
    if (get_feature(core::kFeaturePclmul)) return crc32_clmul(p, len, crc);
    return crc32_table(p, len, crc);
}

uint32_t crc32c(const uint8_t* p, size_t len, uint32_t r) {
    // The folding paths finish short inputs with the CRC32 instruction.
    if (get_feature(core::kFeaturePclmul | core::kFeatureSse42)) {
        if (get_feature(core::kFeatureAvx512Clmul)) return crc32c_vpclmul512(p, len, r);
        return crc32c_sse42_clmul(p, len, r);
    }
    if (get_feature(core::kFeatureSse42)) return crc32c_sse42(p, len, r);
    return crc32c_table(p, len, r);
}

uint32_t adler32(const uint8_t* p, size_t len, uint32_t adler) {
    if (get_feature(core::kFeatureAvx512)) {
        if (get_feature(core::kFeatureAvx512Vnni)) return adler32_avx512_vnni(p, len, adler);
        return adler32_avx512(p, len, adler);
    }
    if (get_feature(core::kFeatureAvx2)) return adler32_avx2(p, len, adler);
    return adler32_scalar(p, len, adler);
}

uint32_t crc32_bz2(const uint8_t* p, size_t len, uint32_t crc) {
    if (get_feature(core::kFeaturePclmul)) return crc32_bz2_clmul(p, len, crc);
    return crc32_bz2_table(p, len, crc);
}

}  // namespace vek::checksum
