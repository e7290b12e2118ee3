// CRC-32 and CRC-32C by 128-bit carry-less-multiply folding.
#include "checksum.h"
#include "crc_fold_clmul.h"

namespace vek::checksum {
namespace {
constexpr ReflectedFoldKeys kCrc32Keys = make_reflected_fold_keys(kCrc32Poly);
}

uint32_t crc32_clmul(const uint8_t* p, size_t len, uint32_t crc) {
    if (len < 64) return crc32_table(p, len, crc);
    size_t used = 0;
    const __m128i x = fold_reflected_body(p, len, ~crc, kCrc32Keys, &used);
    const uint32_t r = crc32_of_u64(reduce_reflected128(x, kCrc32Keys));
    p += used;
    len -= used;
    // The tail needs the finished-value convention of the table path.
    return crc32_table(p, len, ~r);
}

}  // namespace vek::checksum
