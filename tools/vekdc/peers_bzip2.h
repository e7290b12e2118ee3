// libbz2's one-call buffer functions for the block-sorting benchmark rows.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vekdc {

struct Bzip2Peer {
    const char* name;  // "libbz2"
    // Whole .bz2 stream of src at block size 9 (900 kB blocks) into dst of
    // capacity cap; returns the stream size, or 0 when libbz2 failed.
    size_t (*compress)(const uint8_t* src, size_t n, uint8_t* dst, size_t cap);
    // Decodes a whole stream into dst of capacity cap; returns the decoded
    // size, or -1 on failure.
    long long (*decompress)(const uint8_t* src, size_t n, uint8_t* dst, size_t cap);
};

// Null when this build links no libbz2.
const Bzip2Peer* bzip2_peer();

// Capacity no bzip2 stream of n bytes exceeds (libbz2's own rule of thumb:
// 1% plus 600 bytes).
inline size_t bzip2_bound(size_t n) {
    return n + n / 100 + 600;
}

}  // namespace vekdc
