// libbz2's buffer-to-buffer functions, adapted for the benchmark.
#include "peers_bzip2.h"

#include <climits>

#if defined(VEKDC_HAVE_PEERS)
#include <bzlib.h>
#endif

namespace vekdc {

#if defined(VEKDC_HAVE_PEERS)

namespace {

size_t compress9(const uint8_t* src, size_t n, uint8_t* dst, size_t cap) {
    if (n > UINT_MAX || cap > UINT_MAX) return 0;
    unsigned int len = static_cast<unsigned int>(cap);
    const int rc = BZ2_bzBuffToBuffCompress(reinterpret_cast<char*>(dst), &len,
                                            const_cast<char*>(reinterpret_cast<const char*>(src)),
                                            static_cast<unsigned int>(n), 9, 0, 0);
    return rc == BZ_OK ? len : 0;
}

long long decompress(const uint8_t* src, size_t n, uint8_t* dst, size_t cap) {
    if (n > UINT_MAX || cap > UINT_MAX) return -1;
    unsigned int len = static_cast<unsigned int>(cap);
    const int rc = BZ2_bzBuffToBuffDecompress(reinterpret_cast<char*>(dst), &len,
                                              const_cast<char*>(reinterpret_cast<const char*>(src)),
                                              static_cast<unsigned int>(n), 0, 0);
    return rc == BZ_OK ? static_cast<long long>(len) : -1;
}

const Bzip2Peer kBzip2 = {"libbz2", compress9, decompress};

}  // namespace

const Bzip2Peer* bzip2_peer() {
    return &kBzip2;
}

#else

const Bzip2Peer* bzip2_peer() {
    return nullptr;
}

#endif

}  // namespace vekdc
