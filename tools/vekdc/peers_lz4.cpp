// LZ4 block functions of liblz4 for the benchmark.
#include "peers.h"

#if defined(VEKDC_HAVE_PEERS)
#include <lz4.h>
#include <lz4hc.h>
#endif

namespace vekdc {

#if defined(VEKDC_HAVE_PEERS)

namespace {

int state_size_hc() {
    return LZ4_sizeofStateHC();
}

const Lz4Peer kLz4 = {"liblz4",      LZ4_compress_default,       LZ4_compress_fast,
                      state_size_hc, LZ4_compress_HC_extStateHC, LZ4_decompress_safe};

}  // namespace

const Lz4Peer* lz4_peer() {
    return &kLz4;
}

#else

const Lz4Peer* lz4_peer() {
    return nullptr;
}

#endif

}  // namespace vekdc
