// LZO1X functions of liblzo2 for the LZO benchmark rows, with liblzo2's own
// calling convention (lzo_uint lengths, caller-provided work memory).
#pragma once

#include <cstddef>
#include <cstdint>

namespace vekdc {

struct LzoPeer {
    const char* name;  // "liblzo2"
    // Work memory the compressors need, in bytes.
    size_t work_1;
    size_t work_999;
    // Return 0 (LZO_E_OK) on success; *dst_len is the capacity on entry.
    int (*compress_1)(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len, void* work);
    int (*compress_999)(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len, void* work);
    int (*decompress_safe)(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len);
    int (*decompress)(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len);
};

// Null when this build links no LZO peer.
const LzoPeer* lzo_peer();

}  // namespace vekdc
