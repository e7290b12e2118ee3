// Peer libraries linked into the x86-64 build (zlib, libdeflate, ISA-L, liblz4),
// listed per primitive so that a benchmark family only asks for the peers
// of its own kind. Builds without peers (i686) get empty lists. A codec
// family adds its own list next to these, in its own peers_*.cpp file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "checksums.h"

namespace vekdc {

struct ChecksumPeer {
    const char* name;  // library, e.g. "zlib"
    ChecksumKind kind;
    ChecksumUpdate update;  // same state convention as ours for `kind`
};

// Peers computing `kind`; empty when none is linked or none exports it.
std::vector<ChecksumPeer> checksum_peers(ChecksumKind kind);

// LZ4 block functions of liblz4 with its own signatures, for the LZ4 rows.
struct Lz4Peer {
    const char* name;  // "liblz4"
    int (*compress_default)(const char* src, char* dst, int src_size, int dst_capacity);
    int (*compress_fast)(const char* src, char* dst, int src_size, int dst_capacity,
                         int acceleration);
    // The high-compression state is the caller's, of state_size_hc() bytes,
    // so that the timing does not include an allocation per call.
    int (*state_size_hc)();
    int (*compress_hc)(void* state, const char* src, char* dst, int src_size, int dst_capacity,
                       int level);
    int (*decompress_safe)(const char* src, char* dst, int compressed_size, int dst_capacity);
};

// Null when this build links no LZ4 peer.
const Lz4Peer* lz4_peer();

// A peer library's Deflate compressor at one level, with its state (zlib
// stream, libdeflate compressor, ISA-L level buffer) made once and reused,
// as ours is. compress() writes one complete raw Deflate stream (no
// container) of src into dst, of capacity deflate_peer_bound(n), and
// returns its size, or 0 when the peer failed.
struct DeflatePeer {
    std::string name;  // "zlib -6", "libdeflate -12", "ISA-L -3"
    std::function<size_t(const uint8_t* src, size_t n, uint8_t* dst, size_t cap)> compress;
};

// zlib levels 1, 6, 9; libdeflate 1, 6, 9, 12; ISA-L 0..3. Empty without peers.
std::vector<DeflatePeer> deflate_peers();
// zlib at `level`, the input fed `every` bytes at a time with a sync flush
// after each piece: a stream of small blocks, as protocols make them.
DeflatePeer zlib_flushed_peer(int level, size_t every);
// Output capacity that no peer (nor our encoder) fills for n bytes.
size_t deflate_peer_bound(size_t n);
// Decodes a raw Deflate stream with zlib into dst (capacity cap); returns
// the decoded size, or -1 when the stream is invalid, does not end where
// the input ends, or does not fit. Null without peers.
using RawInflateFn = long long (*)(const uint8_t* src, size_t n, uint8_t* dst, size_t cap);
RawInflateFn raw_inflate_peer();

// Names of all peer libraries in this build, for the report header.
const char* peer_libraries();

}  // namespace vekdc
