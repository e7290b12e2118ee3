// LZSS decoder on arbitrary bits, fed in pieces of random size into
// destination chunks of random size; every piece and chunk sits in its own
// exact-size heap buffer so any access outside trips AddressSanitizer. The
// concatenated output must equal the plain model's decoding of the whole
// stream. The same bytes are then encoded in random pieces (compared with
// the model's stream) and must decode back to themselves, also when the
// encoder starts high in its position range, where it rebases positions.
//
// Input: byte 0 bounds the input pieces, byte 1 the output chunks, byte 2
// seeds the splits (its top two bits pick the encoder's start position);
// the rest is the stream (and the data to encode).
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "lzss/lzss.h"
#include "lzss_model.h"
#include "vekdc.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct Splitter {
    uint32_t state;
    uint32_t max;
    int32_t next() {
        state = state * 1103515245u + 12345u;
        return static_cast<int32_t>(1 + (state >> 8) % max);
    }
};

std::unique_ptr<vekLZSSState> zeroed_state() {
    auto s = std::make_unique<vekLZSSState>();
    std::memset(s.get(), 0, sizeof(vekLZSSState));
    return s;
}

// Each stop for a full destination must have read exactly the bytes a
// reader that takes a byte only when a token needs it would have read.
std::vector<uint8_t> decode_split(const std::vector<uint8_t>& stream, Splitter in_sizes,
                                  Splitter out_sizes) {
    std::vector<vek::lzss_model::TokenEnd> ends;
    vek::lzss_model::decode(stream, &ends);
    auto st = zeroed_state();
    check(veksDecodeLZSSInit_8u(st.get()) == vekStatusOk);
    std::vector<uint8_t> out;
    size_t at = 0;
    do {
        const size_t piece_len = std::min(stream.size() - at, static_cast<size_t>(in_sizes.next()));
        std::unique_ptr<uint8_t[]> piece(new uint8_t[piece_len ? piece_len : 1]);
        std::memcpy(piece.get(), stream.data() + at, piece_len);
        uint8_t* src = piece.get();
        int32_t len = static_cast<int32_t>(piece_len);
        for (;;) {
            const int32_t cap = out_sizes.next();
            std::unique_ptr<uint8_t[]> chunk(new uint8_t[cap]);
            uint8_t* dst = chunk.get();
            int32_t room = cap;
            const vekStatus s = veksDecodeLZSS_8u(&src, &len, &dst, &room, st.get());
            check(dst - chunk.get() == cap - room && room >= 0);
            check(src >= piece.get() && src - piece.get() == static_cast<int32_t>(piece_len) - len);
            out.insert(out.end(), chunk.get(), dst);
            if (s == vekStatusOk) {
                check(len == 0);
                break;
            }
            check(s == vekStatusDstTooSmall && room == 0);
            check(at + piece_len - static_cast<size_t>(len) ==
                  vek::lzss_model::lazy_bytes_read(ends, out.size(), at));
        }
        at += piece_len;
    } while (at < stream.size());
    return out;
}

std::vector<uint8_t> encode_split(const std::vector<uint8_t>& data, Splitter in_sizes,
                                  Splitter out_sizes, int32_t start, std::vector<size_t>* pieces) {
    auto st = zeroed_state();
    check(veksEncodeLZSSInit_8u(st.get()) == vekStatusOk);
    st->position = start;  // the encoder maps its window there itself
    std::vector<uint8_t> out;
    auto emit = [&](auto&& call) {
        const int32_t cap = out_sizes.next();
        std::unique_ptr<uint8_t[]> chunk(new uint8_t[cap]);
        uint8_t* dst = chunk.get();
        int32_t room = cap;
        const vekStatus s = call(&dst, &room);
        check(dst - chunk.get() == cap - room);
        out.insert(out.end(), chunk.get(), dst);
        return s;
    };
    size_t at = 0;
    while (at < data.size()) {
        const size_t piece_len = std::min(data.size() - at, static_cast<size_t>(in_sizes.next()));
        pieces->push_back(piece_len);
        std::unique_ptr<uint8_t[]> piece(new uint8_t[piece_len]);
        std::memcpy(piece.get(), data.data() + at, piece_len);
        uint8_t* src = piece.get();
        int32_t len = static_cast<int32_t>(piece_len);
        while (len > 0) {
            const vekStatus s = emit([&](uint8_t** d, int32_t* r) {
                return veksEncodeLZSS_8u(&src, &len, d, r, st.get());
            });
            if (s == vekStatusOk) break;
            check(s == vekStatusDstTooSmall);
        }
        check(len == 0);
        at += piece_len;
    }
    for (;;) {
        const vekStatus s =
            emit([&](uint8_t** d, int32_t* r) { return veksEncodeLZSSFlush_8u(d, r, st.get()); });
        if (s == vekStatusOk) break;
        check(s == vekStatusDstTooSmall);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 100000) return 0;
    const uint32_t in_max = 1 + data[0] * 8u;
    const uint32_t out_max = 1 + (data[1] & 0x7F) * (data[1] & 0x80 ? 64u : 1u);
    const uint32_t seed = data[2];
    // Every decoder call shifts its 32 KB history: tiny pieces or chunks
    // come with short inputs so that runs stay quick.
    size = std::min<size_t>(size, 3 + 64 * size_t(std::min(in_max, out_max)) + 64);
    const std::vector<uint8_t> body(data + 3, data + size);

    const std::vector<uint8_t> expected = vek::lzss_model::decode(body);
    check(decode_split(body, {seed, in_max}, {seed * 7u, out_max}) == expected);

    // Streams depend only on differences of positions.
    const int32_t starts[4] = {0, vek::lzss::kRebaseAt - static_cast<int32_t>(body.size() / 2),
                               INT32_MAX - static_cast<int32_t>(seed & 63), vek::lzss::kRebaseAt};
    std::vector<size_t> pieces;
    const std::vector<uint8_t> stream =
        encode_split(body, {seed * 3u, in_max}, {seed * 5u, out_max}, starts[seed >> 6], &pieces);
    check(stream == vek::lzss_model::encode(body, pieces, vek::lzss::kRandVec));
    check(decode_split(stream, {seed * 11u, in_max}, {seed * 13u, out_max}) == body);
    return 0;
}
