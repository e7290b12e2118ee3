#include "checksums.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "vekdc.h"

namespace vekdc {

namespace {

// Largest piece handed to one library call: the length parameters are 32-bit
// (signed for some functions).
constexpr size_t kMaxPiece = size_t(1) << 30;

[[noreturn]] void library_failed(const char* function, vekStatus status) {
    std::fprintf(stderr, "vekdc: internal error: %s returned status %d\n", function,
                 static_cast<int>(status));
    std::exit(3);
}

template <typename Len, vekStatus (*Fn)(const uint8_t*, Len, uint32_t*)>
uint32_t run_pieces(const char* name, uint32_t state, const uint8_t* p, size_t n) {
    // A zero length is rejected by the CRC functions; it changes nothing anyway.
    while (n > 0) {
        const size_t piece = n < kMaxPiece ? n : kMaxPiece;
        const vekStatus st = Fn(p, static_cast<Len>(piece), &state);
        if (st != vekStatusOk) library_failed(name, st);
        p += piece;
        n -= piece;
    }
    return state;
}

uint32_t crc32_update(uint32_t s, const uint8_t* p, size_t n) {
    return run_pieces<int32_t, veksCRC32_8u>("veksCRC32_8u", s, p, n);
}
uint32_t crc32c_update(uint32_t s, const uint8_t* p, size_t n) {
    return run_pieces<uint32_t, veksCRC32C_8u>("veksCRC32C_8u", s, p, n);
}
uint32_t adler32_update(uint32_t s, const uint8_t* p, size_t n) {
    return run_pieces<uint32_t, veksAdler32_8u>("veksAdler32_8u", s, p, n);
}
uint32_t bzip2_update(uint32_t s, const uint8_t* p, size_t n) {
    return run_pieces<int32_t, veksCRC32_BZ2_8u>("veksCRC32_BZ2_8u", s, p, n);
}

uint32_t as_is(uint32_t s) {
    return s;
}
// The CRC-32C register runs without inversions; the customary value is its
// complement.
uint32_t inverted(uint32_t s) {
    return ~s;
}

const ChecksumAlgo kAlgos[] = {
    {ChecksumKind::Crc32, "--crc32", "CRC-32", 0u, crc32_update, as_is},
    {ChecksumKind::Crc32c, "--crc32c", "CRC-32C", 0xFFFFFFFFu, crc32c_update, inverted},
    {ChecksumKind::Adler32, "--adler32", "Adler-32", 1u, adler32_update, as_is},
    {ChecksumKind::Bzip2Crc, "--bzip2-crc", "bzip2 CRC", 0u, bzip2_update, as_is},
};

}  // namespace

const ChecksumAlgo* checksum_algos(size_t* count) {
    *count = sizeof kAlgos / sizeof kAlgos[0];
    return kAlgos;
}

const ChecksumAlgo& checksum_algo(ChecksumKind kind) {
    for (const ChecksumAlgo& a : kAlgos)
        if (a.kind == kind) return a;
    std::abort();
}

const ChecksumAlgo* find_checksum_option(const char* option) {
    for (const ChecksumAlgo& a : kAlgos)
        if (std::string_view(a.option) == option) return &a;
    return nullptr;
}

}  // namespace vekdc
