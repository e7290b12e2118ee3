// Checksum functions of the peer libraries, adapted to our state
// conventions: CRC-32 and Adler-32 carry finished values exactly as ours,
// and ISA-L's CRC-32C runs the same uninverted register as ours.
#include "peers.h"

#if defined(VEKDC_HAVE_PEERS)
#include <isa-l/crc.h>
#include <libdeflate.h>
#include <zlib.h>

#endif

namespace vekdc {

#if defined(VEKDC_HAVE_PEERS)

namespace {

// Peer length parameters are unsigned int or int; split larger inputs.
constexpr size_t kPiece = size_t(1) << 30;

uint32_t zlib_crc32(uint32_t s, const uint8_t* p, size_t n) {
    for (; n > kPiece; p += kPiece, n -= kPiece)
        s = static_cast<uint32_t>(crc32(s, p, static_cast<uInt>(kPiece)));
    return static_cast<uint32_t>(crc32(s, p, static_cast<uInt>(n)));
}
uint32_t zlib_adler32(uint32_t s, const uint8_t* p, size_t n) {
    for (; n > kPiece; p += kPiece, n -= kPiece)
        s = static_cast<uint32_t>(adler32(s, p, static_cast<uInt>(kPiece)));
    return static_cast<uint32_t>(adler32(s, p, static_cast<uInt>(n)));
}
uint32_t libdeflate_crc(uint32_t s, const uint8_t* p, size_t n) {
    return libdeflate_crc32(s, p, n);
}
uint32_t libdeflate_adler(uint32_t s, const uint8_t* p, size_t n) {
    return libdeflate_adler32(s, p, n);
}
uint32_t isal_crc32(uint32_t s, const uint8_t* p, size_t n) {
    return crc32_gzip_refl(s, p, n);
}
uint32_t isal_crc32c(uint32_t s, const uint8_t* p, size_t n) {
    for (; n > kPiece; p += kPiece, n -= kPiece)
        s = crc32_iscsi(const_cast<uint8_t*>(p), static_cast<int>(kPiece), s);
    return crc32_iscsi(const_cast<uint8_t*>(p), static_cast<int>(n), s);
}

const ChecksumPeer kPeers[] = {
    {"zlib", ChecksumKind::Crc32, zlib_crc32},
    {"libdeflate", ChecksumKind::Crc32, libdeflate_crc},
    {"ISA-L", ChecksumKind::Crc32, isal_crc32},
    {"ISA-L", ChecksumKind::Crc32c, isal_crc32c},
    {"zlib", ChecksumKind::Adler32, zlib_adler32},
    {"libdeflate", ChecksumKind::Adler32, libdeflate_adler},
    // No peer exports the bzip2 CRC on its own.
};

}  // namespace

std::vector<ChecksumPeer> checksum_peers(ChecksumKind kind) {
    std::vector<ChecksumPeer> out;
    for (const ChecksumPeer& p : kPeers)
        if (p.kind == kind) out.push_back(p);
    return out;
}

#else

std::vector<ChecksumPeer> checksum_peers(ChecksumKind) {
    return {};
}

#endif

}  // namespace vekdc
