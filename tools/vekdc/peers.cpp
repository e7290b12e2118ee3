// Which peer libraries this build links.
#include "peers.h"

#include <string>

#if defined(VEKDC_HAVE_PEERS)
#include <bzlib.h>
#include <libdeflate.h>
#include <lz4.h>
#include <lzo/lzoconf.h>
#include <zfp.h>
#include <zlib.h>
#endif

namespace vekdc {

const char* peer_libraries() {
#if defined(VEKDC_HAVE_PEERS)
    // libbz2 tells its version only at run time.
    static const std::string names =
        std::string("zlib " ZLIB_VERSION ", libdeflate " LIBDEFLATE_VERSION_STRING
                    ", ISA-L, liblz4 " LZ4_VERSION_STRING ", liblzo2 " LZO_VERSION_STRING
                    ", libbz2 ") +
        BZ2_bzlibVersion() + ", libzfp " ZFP_VERSION_STRING;
    return names.c_str();
#else
    return "none in this build";
#endif
}

}  // namespace vekdc
