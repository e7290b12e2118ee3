// Portable slicing-table paths of the three CRCs. They are the twins of the
// instruction-based paths and run on any processor.
#include "checksum.h"
#include "core/load.h"
#include "crc_tables.h"

namespace vek::checksum {

uint32_t crc32_table(const uint8_t* p, size_t len, uint32_t crc) {
    const auto& T = kCrc32Tables;
    uint32_t r = ~crc;
    if (len >= 15) {
        while (reinterpret_cast<uintptr_t>(p) & 7) {
            r = crc32_byte(r, *p++);
            --len;
        }
        for (; len >= 8; len -= 8, p += 8) {
            const uint32_t w0 = r ^ load32(p);
            const uint32_t w1 = load32(p + 4);
            r = T[7][w0 & 0xFF] ^ T[6][(w0 >> 8) & 0xFF] ^ T[5][(w0 >> 16) & 0xFF] ^
                T[4][w0 >> 24] ^ T[3][w1 & 0xFF] ^ T[2][(w1 >> 8) & 0xFF] ^
                T[1][(w1 >> 16) & 0xFF] ^ T[0][w1 >> 24];
        }
    }
    while (len--) r = crc32_byte(r, *p++);
    return ~r;
}

uint32_t crc32c_table(const uint8_t* p, size_t len, uint32_t r) {
    auto step4 = [](uint32_t w) {
        const auto& t = kCrc32cTables;
        return t[0][w >> 24] ^ t[1][(w >> 16) & 0xFF] ^ t[2][(w >> 8) & 0xFF] ^ t[3][w & 0xFF];
    };
    if (len >= 11) {
        while (reinterpret_cast<uintptr_t>(p) & 3) {
            r = crc32c_byte(r, *p++);
            --len;
        }
        for (; len >= 8; len -= 8, p += 8) {
            r = step4(r ^ load32(p));
            r = step4(r ^ load32(p + 4));
        }
        if (len >= 4) {
            r = step4(r ^ load32(p));
            p += 4;
            len -= 4;
        }
    }
    while (len--) r = crc32c_byte(r, *p++);
    return r;
}

// The bzip2 register is kept byte-reversed so the MSB-first CRC runs with
// right shifts and the same slicing layout as the reflected CRCs.
uint32_t crc32_bz2_table(const uint8_t* p, size_t len, uint32_t crc) {
    const auto& T = kBz2Tables;
    uint32_t r = ~bswap32(crc);
    auto byte_step = [](uint32_t r, uint8_t b) { return (r >> 8) ^ kBz2Tables[0][(r ^ b) & 0xFF]; };
    if (len >= 7) {
        while (reinterpret_cast<uintptr_t>(p) & 3) {
            r = byte_step(r, *p++);
            --len;
        }
        for (; len >= 8; len -= 8, p += 8) {
            const uint32_t w0 = r ^ load32(p);
            const uint32_t w1 = load32(p + 4);
            r = T[7][w0 & 0xFF] ^ T[6][(w0 >> 8) & 0xFF] ^ T[5][(w0 >> 16) & 0xFF] ^
                T[4][w0 >> 24] ^ T[3][w1 & 0xFF] ^ T[2][(w1 >> 8) & 0xFF] ^
                T[1][(w1 >> 16) & 0xFF] ^ T[0][w1 >> 24];
        }
        if (len >= 4) {
            const uint32_t w = r ^ load32(p);
            r = T[3][w & 0xFF] ^ T[2][(w >> 8) & 0xFF] ^ T[1][(w >> 16) & 0xFF] ^ T[0][w >> 24];
            p += 4;
            len -= 4;
        }
    }
    while (len--) r = byte_step(r, *p++);
    return ~bswap32(r);
}

}  // namespace vek::checksum
