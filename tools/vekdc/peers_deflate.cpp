// Deflate compressors of the peer libraries for the Deflate rows, and
// zlib's raw inflate that checks every stream before it is timed.
#include "peers.h"

#if defined(VEKDC_HAVE_PEERS)
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <string>
#endif

namespace vekdc {

#if defined(VEKDC_HAVE_PEERS)

namespace {

// One raw stream (windowBits -15) per call from a stream set up once, the
// input fed `every` bytes at a time with a sync flush after each piece but
// the last.
DeflatePeer zlib_fed(int level, size_t every, std::string name) {
    struct State {
        z_stream z{};
        explicit State(int level) {
            if (deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                z.state = nullptr;
        }
        ~State() {
            if (z.state) deflateEnd(&z);
        }
    };
    auto st = std::make_shared<State>(level);
    return {std::move(name),
            [st, every](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> size_t {
                z_stream& z = st->z;
                if (!z.state || deflateReset(&z) != Z_OK) return 0;
                z.next_out = dst;
                z.avail_out = static_cast<uInt>(cap);
                for (size_t off = 0;;) {
                    const size_t k = n - off < every ? n - off : every;
                    z.next_in = const_cast<Bytef*>(src + off);
                    z.avail_in = static_cast<uInt>(k);
                    off += k;
                    const int flush = off == n ? Z_FINISH : Z_SYNC_FLUSH;
                    const int r = deflate(&z, flush);
                    if (flush == Z_FINISH) return r == Z_STREAM_END ? z.total_out : 0;
                    if (r != Z_OK || z.avail_in != 0) return 0;
                }
            }};
}

DeflatePeer zlib_peer(int level) {
    return zlib_fed(level, SIZE_MAX, "zlib -" + std::to_string(level));
}

}  // namespace

DeflatePeer zlib_flushed_peer(int level, size_t every) {
    return zlib_fed(
        level, every,
        "zlib -" + std::to_string(level) + " " + std::to_string(every / 1024) + " KiB-flushed");
}

namespace {

DeflatePeer libdeflate_peer(int level) {
    std::shared_ptr<libdeflate_compressor> c(libdeflate_alloc_compressor(level),
                                             [](libdeflate_compressor* p) {
                                                 if (p) libdeflate_free_compressor(p);
                                             });
    return {"libdeflate -" + std::to_string(level),
            [c](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> size_t {
                return c ? libdeflate_deflate_compress(c.get(), src, n, dst, cap) : 0;
            }};
}

// isal_deflate in one call with the whole input and end_of_stream set,
// raw output (IGZIP_DEFLATE), and the default level buffer size of the
// level from the ISA-L header.
DeflatePeer isal_peer(int level) {
    static const uint32_t kLevelBuf[] = {ISAL_DEF_LVL0_DEFAULT, ISAL_DEF_LVL1_DEFAULT,
                                         ISAL_DEF_LVL2_DEFAULT, ISAL_DEF_LVL3_DEFAULT};
    const uint32_t buf_size = kLevelBuf[level];
    auto buf = std::make_shared<std::vector<uint8_t>>(buf_size);
    auto stream = std::make_shared<isal_zstream>();
    return {"ISA-L -" + std::to_string(level),
            [buf, stream, level, buf_size](const uint8_t* src, size_t n, uint8_t* dst,
                                           size_t cap) -> size_t {
                isal_zstream& s = *stream;
                isal_deflate_init(&s);
                s.level = static_cast<uint32_t>(level);
                s.level_buf = buf_size ? buf->data() : nullptr;
                s.level_buf_size = buf_size;
                s.gzip_flag = IGZIP_DEFLATE;
                s.flush = NO_FLUSH;
                s.end_of_stream = 1;
                s.next_in = const_cast<uint8_t*>(src);
                s.avail_in = static_cast<uint32_t>(n);
                s.next_out = dst;
                s.avail_out = static_cast<uint32_t>(cap);
                if (isal_deflate(&s) != COMP_OK || s.avail_in != 0 ||
                    s.internal_state.state != ZSTATE_END)
                    return 0;
                return s.total_out;
            }};
}

long long zlib_inflate_raw(const uint8_t* src, size_t n, uint8_t* dst, size_t cap) {
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return -1;
    z.next_in = const_cast<Bytef*>(src);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = dst;
    z.avail_out = static_cast<uInt>(cap);
    const int st = inflate(&z, Z_FINISH);
    const long long out = static_cast<long long>(z.total_out);
    const bool whole = st == Z_STREAM_END && z.avail_in == 0;
    inflateEnd(&z);
    return whole ? out : -1;
}

}  // namespace

std::vector<DeflatePeer> deflate_peers() {
    std::vector<DeflatePeer> v;
    for (int level : {1, 6, 9}) v.push_back(zlib_peer(level));
    for (int level : {1, 6, 9, 12}) v.push_back(libdeflate_peer(level));
    for (int level = 0; level <= 3; ++level) v.push_back(isal_peer(level));
    return v;
}

RawInflateFn raw_inflate_peer() {
    return zlib_inflate_raw;
}

#else

std::vector<DeflatePeer> deflate_peers() {
    return {};
}

DeflatePeer zlib_flushed_peer(int, size_t) {
    return {};
}

RawInflateFn raw_inflate_peer() {
    return nullptr;
}

#endif

// Twice the input: ISA-L's level 0 codes incompressible data with its
// static codes (about 1.23 times the input) rather than storing it; the
// others stay below 1.01 times.
size_t deflate_peer_bound(size_t n) {
    return 2 * n + 4096;
}

}  // namespace vekdc
