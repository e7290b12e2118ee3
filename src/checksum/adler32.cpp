// Adler-32, portable path. The modulo is deferred as long as the sums cannot
// overflow 32 bits: 5536 bytes between reductions.
#include "checksum.h"

namespace vek::checksum {

namespace {
constexpr uint32_t kBase = 65521;
constexpr size_t kBlocksPerRun = 346;  // 346 * 16 = 5536 bytes
}  // namespace

uint32_t adler32_scalar(const uint8_t* p, size_t len, uint32_t adler) {
    uint32_t s1 = adler & 0xFFFF;
    uint32_t s2 = adler >> 16;
    if (len >= 31) {
        while (reinterpret_cast<uintptr_t>(p) & 15) {
            s1 += *p++;
            s2 += s1;
            --len;
        }
        while (len >= 16) {
            size_t blocks = len / 16;
            if (blocks > kBlocksPerRun) blocks = kBlocksPerRun;
            len -= blocks * 16;
            while (blocks--) {
                for (int i = 0; i < 16; ++i) {
                    s1 += p[i];
                    s2 += s1;
                }
                p += 16;
            }
            s1 %= kBase;
            s2 %= kBase;
        }
    }
    while (len--) {
        s1 += *p++;
        s2 += s1;
    }
    return (s1 % kBase) | ((s2 % kBase) << 16);
}

}  // namespace vek::checksum
