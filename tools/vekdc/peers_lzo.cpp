// LZO1X functions of liblzo2 for the benchmark.
#include "lzo_peer.h"

#if defined(VEKDC_HAVE_PEERS)
#include <lzo/lzo1x.h>
#endif

namespace vekdc {

#if defined(VEKDC_HAVE_PEERS)

namespace {

int compress_1(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len, void* work) {
    lzo_uint len = *dst_len;
    const int r = lzo1x_1_compress(src, n, dst, &len, work);
    *dst_len = len;
    return r;
}

int compress_999(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len, void* work) {
    lzo_uint len = *dst_len;
    const int r = lzo1x_999_compress(src, n, dst, &len, work);
    *dst_len = len;
    return r;
}

int decompress_safe(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len) {
    lzo_uint len = *dst_len;
    const int r = lzo1x_decompress_safe(src, n, dst, &len, nullptr);
    *dst_len = len;
    return r;
}

int decompress(const uint8_t* src, size_t n, uint8_t* dst, size_t* dst_len) {
    lzo_uint len = *dst_len;
    const int r = lzo1x_decompress(src, n, dst, &len, nullptr);
    *dst_len = len;
    return r;
}

const LzoPeer kLzo = {"liblzo2",  LZO1X_1_MEM_COMPRESS, LZO1X_999_MEM_COMPRESS,
                      compress_1, compress_999,         decompress_safe,
                      decompress};

}  // namespace

const LzoPeer* lzo_peer() {
    static const bool ready = lzo_init() == LZO_E_OK;
    return ready ? &kLzo : nullptr;
}

#else

const LzoPeer* lzo_peer() {
    return nullptr;
}

#endif

}  // namespace vekdc
