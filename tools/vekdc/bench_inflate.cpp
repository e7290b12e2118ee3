// Benchmark rows of Deflate decompression. Every corpus item is compressed
// into three raw Deflate streams (no container, no checksum) by the peer
// compressors of the Deflate rows (peers_deflate.cpp):
//
//   zlib -6 stream          deflate() at level 6, windowBits -15
//   libdeflate -12 stream   libdeflate_deflate_compress at level 12
//   zlib -6 4 KiB-flushed   deflate() at level 6 fed 4 KiB at a time, a sync
//     stream                flush after each piece: blocks of 4 KiB, where
//                           the cost of each block's tables shows
//
// and each stream is decoded by
//
//   vekdc        one-shot: the tool's inflate_buffer (inflate_buffer.cpp),
//                every block body in one veksInflate_8u call straight into
//                the output buffer, the output so far as history
//   vekdc stream the tool's InflateStream (inflate_stream.cpp) reading the
//                stream from memory through its 64 KiB input and output
//                buffers and 32 KiB window, as the decompress command does,
//                copying its output into a preallocated buffer
//   zlib         inflate() with windowBits -15, one z_stream reset per stream
//   libdeflate   libdeflate_deflate_decompress, one decompressor reused
//   ISA-L        isal_inflate, raw (ISAL_DEFLATE), one state initialised per
//                stream
//
// each writing the whole output into one preallocated buffer. The ratio
// column is the item's size over the stream's, speeds are of the
// decompressed size, and "vs best peer" is our speed over the fastest
// peer's on the same stream. Before any timing every decoder's output must
// equal the item. The streams come from the peers, so a build without them
// (no peers linked) has no Inflate rows.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench.h"
#include "codec_io.h"
#include "inflate_buffer.h"
#include "inflate_stream.h"
#include "peers.h"

#if defined(VEKDC_HAVE_PEERS)
#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zlib.h>
#endif

namespace vekdc {

namespace {

#if defined(VEKDC_HAVE_PEERS)

// Wall time one stream's measurement (all decoders, all samples) should
// stay within; slow streams take fewer samples, never fewer than 3.
constexpr double kStreamBudgetSeconds = 6.0;

// Decodes the raw stream src[0..n) into dst (capacity cap); returns the
// decoded size, or -1 when the decoder failed or the output did not fit.
using DecodeFn = std::function<long long(const uint8_t* src, size_t n, uint8_t* dst, size_t cap)>;

struct Decoder {
    std::string implementation;
    bool ours = false;
    DecodeFn decode;
};

// Copies the decoder's output into a caller's buffer.
class SpanWriter : public Writer {
  public:
    SpanWriter(uint8_t* dst, size_t cap) : dst_(dst), cap_(cap) {}
    void write(const uint8_t* src, size_t n) override {
        if (n > cap_ - written_) {
            overflow_ = true;
            n = static_cast<size_t>(cap_ - written_);
        }
        std::memcpy(dst_ + written_, src, n);
        written_ += n;
    }
    bool overflow() const { return overflow_; }

  private:
    uint8_t* dst_;
    size_t cap_;
    bool overflow_ = false;
};

Decoder our_buffer_decoder() {
    return {kOurName, true,
            [](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> long long {
                const InflateBufferResult r = inflate_buffer(src, n, dst, cap);
                if (r.status != InflateBufferResult::kOk || r.in_used != n) return -1;
                return static_cast<long long>(r.out_len);
            }};
}

Decoder our_stream_decoder() {
    return {std::string(kOurName) + " stream", true,
            [](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> long long {
                Reader in(src, n);
                SpanWriter out(dst, cap);
                InflateStream s(in, out, "deflate");
                s.begin(nullptr);
                try {
                    s.inflate();
                    if (!s.at_end()) return -1;  // bytes after the stream
                } catch (const CodecFailure&) {
                    return -1;
                }
                return out.overflow() ? -1 : static_cast<long long>(out.written());
            }};
}

Decoder zlib_decoder() {
    struct State {
        z_stream z{};
        State() {
            if (inflateInit2(&z, -15) != Z_OK) z.state = nullptr;
        }
        ~State() {
            if (z.state) inflateEnd(&z);
        }
    };
    auto st = std::make_shared<State>();
    return {"zlib", false,
            [st](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> long long {
                z_stream& z = st->z;
                if (!z.state || inflateReset(&z) != Z_OK) return -1;
                z.next_in = const_cast<Bytef*>(src);
                z.avail_in = static_cast<uInt>(n);
                z.next_out = dst;
                z.avail_out = static_cast<uInt>(cap);
                if (inflate(&z, Z_FINISH) != Z_STREAM_END || z.avail_in != 0) return -1;
                return static_cast<long long>(z.total_out);
            }};
}

Decoder libdeflate_decoder() {
    std::shared_ptr<libdeflate_decompressor> d(libdeflate_alloc_decompressor(),
                                               [](libdeflate_decompressor* p) {
                                                   if (p) libdeflate_free_decompressor(p);
                                               });
    return {"libdeflate", false,
            [d](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> long long {
                size_t out = 0;
                if (!d || libdeflate_deflate_decompress(d.get(), src, n, dst, cap, &out) !=
                              LIBDEFLATE_SUCCESS)
                    return -1;
                return static_cast<long long>(out);
            }};
}

Decoder isal_decoder() {
    auto st = std::make_shared<inflate_state>();
    return {"ISA-L", false,
            [st](const uint8_t* src, size_t n, uint8_t* dst, size_t cap) -> long long {
                inflate_state& s = *st;
                isal_inflate_init(&s);
                s.crc_flag = ISAL_DEFLATE;
                s.next_in = const_cast<uint8_t*>(src);
                s.avail_in = static_cast<uint32_t>(n);
                s.next_out = dst;
                s.avail_out = static_cast<uint32_t>(cap);
                if (isal_inflate(&s) != ISAL_DECOMP_OK || s.block_state != ISAL_BLOCK_FINISH)
                    return -1;
                return static_cast<long long>(s.total_out);
            }};
}

BenchOptions options_for(const BenchOptions& base, double seconds_per_round) {
    return within_budget(base, kStreamBudgetSeconds, seconds_per_round);
}

void run_inflate(BenchContext& ctx) {
    std::vector<DeflatePeer> makers;
    for (DeflatePeer& p : deflate_peers())
        if (p.name == "zlib -6" || p.name == "libdeflate -12") makers.push_back(std::move(p));
    if (makers.empty()) return;
    makers.push_back(zlib_flushed_peer(6, 4096));

    std::vector<Decoder> decoders = {our_buffer_decoder(), our_stream_decoder(), zlib_decoder(),
                                     libdeflate_decoder(), isal_decoder()};

    for (const CorpusItem& item : ctx.corpus().items) {
        const uint8_t* src = item.data.data();
        const size_t n = item.data.size();
        for (const DeflatePeer& maker : makers) {
            const std::string setting = item.name + ", " + maker.name + " stream";
            ctx.progress("Inflate: making the " + setting);
            auto stream = std::make_shared<std::vector<uint8_t>>(deflate_peer_bound(n));
            const size_t size = maker.compress(src, n, stream->data(), stream->size());
            if (size == 0)
                throw BenchMismatch("Inflate: " + maker.name + " failed on " + item.name);
            stream->resize(size);
            // One spare byte so that an overlong output shows.
            auto out = std::make_shared<std::vector<uint8_t>>(n + 1);

            std::vector<Contender> contenders;
            double round = 0;
            for (const Decoder& d : decoders) {
                ctx.progress("Inflate " + d.implementation + " " + setting);
                std::fill(out->begin(), out->end(), uint8_t(0xA5));
                const double t0 = monotonic_seconds();
                const long long got = d.decode(stream->data(), size, out->data(), out->size());
                const double seconds = monotonic_seconds() - t0;
                if (got != static_cast<long long>(n) || std::memcmp(out->data(), src, n) != 0)
                    throw BenchMismatch("Inflate: " + d.implementation + " does not decode the " +
                                        setting + " to the input");
                round += seconds;
                const DecodeFn fn = d.decode;
                contenders.push_back(
                    {d.implementation, d.ours,
                     [fn, stream, out](uint64_t reps) {
                         uint64_t acc = 0;
                         for (uint64_t r = 0; r < reps; ++r)
                             acc += static_cast<uint64_t>(
                                 fn(stream->data(), stream->size(), out->data(), out->size()));
                         bench_consume(acc);
                     },
                     seconds});
            }
            ctx.progress("Inflate " + setting);
            const std::vector<double> seconds =
                measure_interleaved(contenders, options_for(ctx.options(), round));
            for (size_t i = 0; i < decoders.size(); ++i) {
                BenchRow r;
                r.family = "Inflate";
                r.implementation = decoders[i].implementation;
                r.ours = decoders[i].ours;
                r.setting = setting;
                r.bytes = n;
                r.ratio = static_cast<double>(n) / static_cast<double>(size);
                r.bytes_per_second = static_cast<double>(n) / seconds[i];
                r.unit = SpeedUnit::MBps;
                ctx.add_row(std::move(r));
            }
        }
    }
}

#else

void run_inflate(BenchContext&) {}  // the streams come from the peers

#endif

}  // namespace

VEKDC_BENCH_FAMILY("Inflate", 40, run_inflate);

}  // namespace vekdc
