// The vekdc tool's container readers on arbitrary bytes, driven the way
// `vekdc decompress` drives them: a format's decompressor runs on a Reader
// over the input and writes to a Writer. The first byte picks the format
// (or, like the command without -F, detection by magic number); for zfp the
// next bytes give the shape and mode the command line would.
//
// A reader must end either with its output or with a CodecFailure; anything
// else (a crash, another exception, a sanitizer report) is a finding. Where a
// peer library decodes the same container, a successful decode must agree
// with it on the first stream: zlib for the zlib and gzip formats, libbz2
// for bzip2, liblz4 for an lz4 frame. The same codec object
// is then run a second time on the same bytes (the command reuses it for each
// file) and must give the same result.
#include <bzlib.h>
#include <lz4frame.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "codec_io.h"
#include "format.h"
#include "zlib_oracle.h"

namespace {

// Small inputs can expand enormously (bzip2 runs, lz4 matches); the command
// streams such outputs, here they are cut off as a write failure would be.
constexpr size_t kOutLimit = size_t(8) << 20;

class MemoryWriter : public vekdc::Writer {
  public:
    void write(const uint8_t* src, size_t n) override {
        if (n > kOutLimit - bytes.size())
            throw vekdc::CodecFailure(vekdc::CodecFailure::kOutput, "output limit");
        bytes.insert(bytes.end(), src, src + n);
        written_ += n;
    }
    std::vector<uint8_t> bytes;
};

struct Outcome {
    bool ok = false;
    bool output_failed = false;
    std::vector<uint8_t> bytes;
};

Outcome run_once(vekdc::Codec& codec, const uint8_t* data, size_t n) {
    Outcome r;
    vekdc::Reader reader(data, n);
    MemoryWriter writer;
    try {
        codec.run(reader, writer);
        writer.flush();
        r.ok = true;
    } catch (const vekdc::CodecFailure& e) {
        r.output_failed = e.side == vekdc::CodecFailure::kOutput;
    }
    if (writer.written() != writer.bytes.size()) std::abort();
    r.bytes = std::move(writer.bytes);
    return r;
}

// The first zlib stream of the input; false when zlib rejects it or it does
// not end within the input.
// window_bits 15 for a zlib stream, 31 for a gzip member.
bool zlib_first_stream(const uint8_t* src, size_t n, int window_bits, std::vector<uint8_t>* out,
                       size_t* used) {
    auto r = vek::testing::zlib_inflate_once(src, n, window_bits, kOutLimit);
    *out = std::move(r.out);
    *used = r.used;
    return r.rc == Z_STREAM_END;
}

// The same for the first bzip2 stream.
bool bz2_first_stream(const uint8_t* src, size_t n, std::vector<uint8_t>* out, size_t* used) {
    bz_stream z{};
    if (BZ2_bzDecompressInit(&z, 0, 0) != BZ_OK) return false;
    out->resize(kOutLimit);
    z.next_in = reinterpret_cast<char*>(const_cast<uint8_t*>(src));
    z.avail_in = static_cast<unsigned>(n);
    z.next_out = reinterpret_cast<char*>(out->data());
    z.avail_out = static_cast<unsigned>(out->size());
    int rc = BZ_OK;
    while (rc == BZ_OK && z.avail_in > 0 && z.avail_out > 0) rc = BZ2_bzDecompress(&z);
    out->resize(out->size() - z.avail_out);
    *used = n - z.avail_in;
    BZ2_bzDecompressEnd(&z);
    return rc == BZ_STREAM_END;
}

// The same for the first lz4 frame (legacy streams and skippable frames are
// left out: the caller only asks when the input starts with a frame).
bool lz4_first_frame(const uint8_t* src, size_t n, std::vector<uint8_t>* out, size_t* used) {
    LZ4F_dctx* dctx = nullptr;
    if (LZ4F_isError(LZ4F_createDecompressionContext(&dctx, LZ4F_VERSION))) return false;
    out->resize(kOutLimit);
    size_t in_at = 0, out_at = 0, rc = 1;
    while (rc != 0 && in_at < n && out_at < out->size()) {
        size_t in_len = n - in_at, out_len = out->size() - out_at;
        rc = LZ4F_decompress(dctx, out->data() + out_at, &out_len, src + in_at, &in_len, nullptr);
        if (LZ4F_isError(rc)) break;
        in_at += in_len;
        out_at += out_len;
        if (in_len == 0 && out_len == 0) break;
    }
    LZ4F_freeDecompressionContext(dctx);
    out->resize(out_at);
    *used = in_at;
    return rc == 0;
}

// A successful decode must start with the peer's first stream, and be exactly
// it when that stream spans the whole input.
void check_against_peer(const std::vector<uint8_t>& ours, const std::vector<uint8_t>& peer,
                        bool peer_ok, size_t peer_used, size_t n) {
    if (!peer_ok) {
        // A stream the peer rejects or finds unfinished is only acceptable
        // when it ran into the output limit on the peer's side.
        if (peer.size() < kOutLimit) std::abort();
        return;
    }
    if (peer.size() > ours.size()) std::abort();
    if (!std::equal(peer.begin(), peer.end(), ours.begin())) std::abort();
    if (peer_used == n && peer.size() != ours.size()) std::abort();
}

const char* const kNames[] = {"gzip", "zlib", "deflate", "lz4", "lzo", "bzip2", "lzss", "zfp"};
constexpr size_t kNameCount = sizeof(kNames) / sizeof(kNames[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > 200000) return 0;
    const uint8_t pick = data[0] % (kNameCount + 1);
    ++data;
    --size;

    vekdc::FormatSettings settings;
    const vekdc::Format* format = nullptr;
    if (pick == kNameCount) {
        // Detection, as the command does without -F.
        vekdc::Reader probe(data, size);
        const uint8_t* head = nullptr;
        const size_t n = probe.peek(&head, vekdc::Reader::kPeekMax);
        for (const vekdc::Format& f : vekdc::formats())
            if (!format && f.detect && f.detect(head, n)) format = vekdc::find_format(f.name);
        if (!format) return 0;
    } else {
        format = vekdc::find_format(kNames[pick]);
        if (!format) std::abort();
        if (format->name == std::string("zfp")) {
            // Shape 1..16 per axis, then one of the three modes.
            if (size < 5) return 0;
            settings.options.push_back("--dims=" + std::to_string(data[0] % 16 + 1) + "," +
                                       std::to_string(data[1] % 16 + 1) + "," +
                                       std::to_string(data[2] % 16 + 1));
            const uint8_t m = data[3], v = data[4];
            if (m % 3 == 0)
                settings.options.push_back("--rate=" + std::to_string(v % 64 + 1));
            else if (m % 3 == 1)
                settings.options.push_back("--precision=" + std::to_string(v % 32 + 1));
            else
                settings.options.push_back("--accuracy=" +
                                           std::to_string(std::ldexp(1.0, v % 40 - 20)));
            data += 5;
            size -= 5;
        }
    }

    std::string error;
    std::unique_ptr<vekdc::Codec> codec = format->decompressor(settings, &error);
    if (!codec) std::abort();  // every setting made above is a valid one

    const Outcome first = run_once(*codec, data, size);
    const Outcome again = run_once(*codec, data, size);
    if (first.ok != again.ok || first.bytes != again.bytes) std::abort();

    if (first.ok) {
        const std::string name = format->name;
        std::vector<uint8_t> peer;
        size_t used = 0;
        if (name == "zlib" || name == "gzip") {
            const bool peer_ok =
                zlib_first_stream(data, size, name == "zlib" ? 15 : 31, &peer, &used);
            check_against_peer(first.bytes, peer, peer_ok, used, size);
        } else if (name == "bzip2") {
            const bool peer_ok = bz2_first_stream(data, size, &peer, &used);
            check_against_peer(first.bytes, peer, peer_ok, used, size);
        } else if (name == "lz4" && size >= 4 && vekdc::load_le32(data) == 0x184D2204) {
            const bool peer_ok = lz4_first_frame(data, size, &peer, &used);
            check_against_peer(first.bytes, peer, peer_ok, used, size);
        }
    }
    return 0;
}
