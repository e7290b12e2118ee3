// Which peer libraries this build links.
#include "peers.h"

#if defined(VEKDC_HAVE_PEERS)
#include <libdeflate.h>
#include <lz4.h>
#include <zlib.h>
#endif

namespace vekdc {

const char* peer_libraries() {
#if defined(VEKDC_HAVE_PEERS)
    return "zlib " ZLIB_VERSION ", libdeflate " LIBDEFLATE_VERSION_STRING
           ", ISA-L, liblz4 " LZ4_VERSION_STRING;
#else
    return "none in this build";
#endif
}

} // namespace vekdc
