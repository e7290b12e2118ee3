// Run-length decoder on arbitrary bytes: the whole input as an exact-size
// heap source, the output in exact-size heap pieces of random sizes (so any
// access outside them trips AddressSanitizer), finished by flushes. The
// bytes must equal the plain model. The same input also goes through the
// encoder in random pieces, must match the encoding model and decode back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bz2_stage_models.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

void check(bool ok) {
    if (!ok) std::abort();
}

// Decodes all of `in`, destination pieces of 1..max_piece bytes.
Bytes decode_pieces(const Bytes& in, std::mt19937& rng, uint32_t max_piece, size_t limit) {
    vekRLEState_BZ2 st;
    check(veksDecodeRLEStateInit_BZ2_8u(&st) == vekStatusOk);
    std::unique_ptr<uint8_t[]> src(new uint8_t[in.size()]);
    std::memcpy(src.get(), in.data(), in.size());
    const uint8_t* p = src.get();
    int32_t sl = int32_t(in.size());
    Bytes out;
    for (;;) {
        const int32_t cap = int32_t(1 + rng() % max_piece);
        std::unique_ptr<uint8_t[]> dst(new uint8_t[size_t(cap)]);
        uint8_t* d = dst.get();
        int32_t dl = cap;
        const vekStatus s = sl > 0 ? veksDecodeRLEState_BZ2_8u(&p, &sl, &d, &dl, &st)
                                   : veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &dl);
        check(s == vekStatusOk || s == vekStatusDstTooSmall);
        check(dl >= 0 && dl <= cap && d == dst.get() + (cap - dl));
        check(sl >= 0 && p == src.get() + (int32_t(in.size()) - sl));
        out.insert(out.end(), dst.get(), dst.get() + (cap - dl));
        check(out.size() <= limit);
        if (sl == 0 && st.runLength == 0 && s == vekStatusOk) return out;
    }
}

Bytes encode_pieces(const Bytes& in, std::mt19937& rng, uint32_t max_piece) {
    vekRLEState_BZ2 st;
    check(veksEncodeRLEInit_BZ2_8u(&st) == vekStatusOk);
    Bytes out;
    size_t pos = 0;
    while (pos < in.size()) {
        const int32_t n = int32_t(std::min<size_t>(in.size() - pos, 1 + rng() % max_piece));
        std::unique_ptr<uint8_t[]> src(new uint8_t[size_t(n)]);
        std::memcpy(src.get(), in.data() + pos, size_t(n));
        const uint8_t* p = src.get();
        int32_t sl = n;
        while (sl > 0) {
            const int32_t cap = int32_t(1 + rng() % max_piece);
            std::unique_ptr<uint8_t[]> dst(new uint8_t[size_t(cap)]);
            int32_t dl = cap;
            const vekStatus s = veksEncodeRLE_BZ2_8u(&p, &sl, dst.get(), &dl, &st);
            check(s == (sl > 0 ? vekStatusDstTooSmall : vekStatusOk));
            out.insert(out.end(), dst.get(), dst.get() + dl);
        }
        pos += size_t(n);
    }
    uint8_t last[1];
    int32_t dl = 1;
    check(veksEncodeRLEFlush_BZ2_8u(last, &dl, &st) == vekStatusOk);
    out.insert(out.end(), last, last + dl);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 100000) return 0;
    const uint32_t max_piece = 1 + data[0] % 64 * (data[0] >= 128 ? 64 : 1);
    std::mt19937 rng(data[1]);
    const Bytes in(data + 2, data + size);
    if (in.empty()) return 0;

    const Bytes want = vek::testref::model_rle_decode(in);
    check(decode_pieces(in, rng, max_piece, want.size()) == want);

    const Bytes enc = encode_pieces(in, rng, max_piece);
    check(enc == vek::testref::model_rle_encode(in));
    check(decode_pieces(enc, rng, max_piece, in.size()) == in);
    return 0;
}
