// Exported checksums: argument checks in their documented order, then the
// per-call path selection of the checksum subsystem.
#include "checksum/checksum.h"
#include "vekdc.h"

using namespace vek::checksum;

extern "C" {

VEKDC_API vekStatus veksCRC32_8u(const uint8_t* pSrc, int32_t len, uint32_t* pCRC) {
    if (!pSrc || !pCRC) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pCRC = crc32(pSrc, static_cast<size_t>(len), *pCRC);
    return vekStatusOk;
}

VEKDC_API vekStatus veksCRC32C_8u(const uint8_t* pSrc, uint32_t len, uint32_t* pCRC) {
    if (!pSrc || !pCRC) return vekStatusNullPtrErr;
    if (len == 0) return vekStatusSizeErr;
    *pCRC = crc32c(pSrc, len, *pCRC);
    return vekStatusOk;
}

// A null source is how callers ask for the starting value. The length is not
// checked: one that is not positive as a signed number processes no bytes
// but still reduces both halves.
VEKDC_API vekStatus veksAdler32_8u(const uint8_t* pSrc, uint32_t len, uint32_t* pAdler) {
    if (!pAdler) return vekStatusNullPtrErr;
    if (!pSrc) {
        *pAdler = 1;
        return vekStatusOk;
    }
    const size_t n = static_cast<int32_t>(len) > 0 ? len : 0;
    *pAdler = adler32(pSrc, n, *pAdler);
    return vekStatusOk;
}

VEKDC_API vekStatus veksCRC32_BZ2_8u(const uint8_t* pSrc, int32_t len, uint32_t* pCRC) {
    if (!pSrc || !pCRC) return vekStatusNullPtrErr;
    if (len < 1) return vekStatusSizeErr;
    *pCRC = crc32_bz2(pSrc, static_cast<size_t>(len), *pCRC);
    return vekStatusOk;
}

}  // extern "C"
