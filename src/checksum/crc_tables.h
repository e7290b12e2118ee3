// Constant tables of the checksums, generated at compile time from their
// polynomials so that no magic numbers need to be trusted.
#pragma once
#include <array>
#include <cstdint>

namespace vek::checksum {

inline constexpr uint32_t kCrc32Poly = 0xEDB88320u;   // reflected 0x04C11DB7
inline constexpr uint32_t kCrc32cPoly = 0x82F63B78u;  // reflected 0x1EDC6F41
inline constexpr uint32_t kBz2Poly = 0x04C11DB7u;     // MSB-first

constexpr uint32_t bswap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

constexpr uint32_t reflect32(uint32_t v) {
    uint32_t r = 0;
    for (int i = 0; i < 32; ++i) r |= ((v >> i) & 1u) << (31 - i);
    return r;
}

// Slicing tables of a reflected CRC: T0 is the byte table, Tk[i] advances
// Tk-1[i] over one more zero byte.
template <int N>
constexpr std::array<std::array<uint32_t, 256>, N> make_reflected_tables(uint32_t poly) {
    std::array<std::array<uint32_t, 256>, N> t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i;
        for (int b = 0; b < 8; ++b) r = (r >> 1) ^ ((r & 1u) ? poly : 0u);
        t[0][i] = r;
    }
    for (int k = 1; k < N; ++k)
        for (int i = 0; i < 256; ++i) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
    return t;
}

// Slicing tables of the MSB-first bzip2 CRC, each word stored byte-reversed so
// the register can run with right shifts.
constexpr std::array<std::array<uint32_t, 256>, 8> make_bz2_tables() {
    std::array<std::array<uint32_t, 256>, 8> u{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b) r = (r << 1) ^ ((r & 0x80000000u) ? kBz2Poly : 0u);
        u[0][i] = r;
    }
    for (int k = 1; k < 8; ++k)
        for (int i = 0; i < 256; ++i) u[k][i] = (u[k - 1][i] << 8) ^ u[0][u[k - 1][i] >> 24];
    for (auto& row : u)
        for (auto& w : row) w = bswap32(w);
    return u;
}

constexpr std::array<uint32_t, 256> make_bz2_msb_table() {
    std::array<uint32_t, 256> u{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int b = 0; b < 8; ++b) r = (r << 1) ^ ((r & 0x80000000u) ? kBz2Poly : 0u);
        u[i] = r;
    }
    return u;
}

// reflect32(x^k mod P) for a reflected polynomial: x^0 is the top bit and a
// multiplication by x is a right shift.
constexpr uint32_t xpow_reflected(uint32_t k, uint32_t poly) {
    uint32_t v = 0x80000000u;
    for (uint32_t i = 0; i < k; ++i) v = (v >> 1) ^ ((v & 1u) ? poly : 0u);
    return v;
}

// The 33-bit reversal of x^k mod P, the form carry-less folding multiplies by.
constexpr uint64_t fold_const_reflected(uint32_t k, uint32_t poly) {
    return uint64_t(xpow_reflected(k, poly)) << 1;
}

// x^k mod P for the MSB-first polynomial (32 bits, not reflected).
constexpr uint32_t xpow_msb(uint32_t k, uint32_t poly) {
    uint32_t v = 1;
    for (uint32_t i = 0; i < k; ++i) v = (v << 1) ^ ((v & 0x80000000u) ? poly : 0u);
    return v;
}

// Multiplication table that carries a CRC-32C register over n zero bytes
// (one byte of the register per lookup).
constexpr std::array<uint32_t, 256> make_crc32c_shift_table(uint32_t nbytes) {
    std::array<uint32_t, 8> bit{};
    uint32_t v = xpow_reflected(8 * nbytes + 24, kCrc32cPoly);
    for (int j = 7; j >= 0; --j) {  // bit j uses x^(8n + 31 - j)
        bit[j] = v;
        v = (v >> 1) ^ ((v & 1u) ? kCrc32cPoly : 0u);
    }
    std::array<uint32_t, 256> t{};
    for (int b = 0; b < 256; ++b) {
        uint32_t e = 0;
        for (int j = 0; j < 8; ++j)
            if (b & (1 << j)) e ^= bit[j];
        t[b] = e;
    }
    return t;
}

inline constexpr auto kCrc32Tables = make_reflected_tables<8>(kCrc32Poly);
inline constexpr auto kCrc32cTables = make_reflected_tables<4>(kCrc32cPoly);
inline constexpr auto kBz2Tables = make_bz2_tables();
inline constexpr auto kBz2MsbTable = make_bz2_msb_table();

static_assert(kCrc32Tables[0][1] == 0x77073096u);
static_assert(kCrc32cTables[0][1] == 0xF26B8303u);
static_assert(kBz2MsbTable[1] == 0x04C11DB7u);

// Byte steps, the definitions every faster path must agree with.
inline uint32_t crc32_byte(uint32_t r, uint8_t b) {
    return (r >> 8) ^ kCrc32Tables[0][(r ^ b) & 0xFF];
}
inline uint32_t crc32c_byte(uint32_t r, uint8_t b) {
    return (r >> 8) ^ kCrc32cTables[0][(r ^ b) & 0xFF];
}
inline uint32_t bz2_byte(uint32_t r, uint8_t b) {
    return (r << 8) ^ kBz2MsbTable[(r >> 24) ^ b];
}

}  // namespace vek::checksum
