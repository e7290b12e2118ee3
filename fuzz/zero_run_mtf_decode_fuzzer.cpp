// Zero-run decoder and inverse move-to-front on arbitrary input, in
// exact-size heap buffers. The zero-run decoder must match the plain model
// at the capacity the input chooses; the decoded bytes then go through the
// inverse move-to-front in random pieces, whose forward transform must give
// them back.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "bz2_stage_models.h"
#include "vekdc.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void mtf_pieces(const uint8_t* src, uint8_t* dst, size_t n, bool forward, std::mt19937& rng) {
    uint8_t state[256];
    auto* st = reinterpret_cast<vekMTFState_8u*>(state);
    check(veksMTFInit_8u(st) == vekStatusOk);
    for (size_t pos = 0; pos < n;) {
        const size_t k = std::min<size_t>(n - pos, 1 + rng() % 300);
        const vekStatus s = forward ? veksMTFFwd_8u(src + pos, dst + pos, int32_t(k), st)
                                    : veksMTFInv_8u(src + pos, dst + pos, int32_t(k), st);
        check(s == vekStatusOk);
        pos += k;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 200000) return 0;
    const int32_t cap = 1 + int32_t((data[0] | data[1] << 8) % 20000);
    std::mt19937 rng(data[2]);
    data += 3;
    size -= 3;
    const size_t n = size / 2;
    if (n == 0) return 0;
    std::unique_ptr<uint16_t[]> syms(new uint16_t[n]);
    vek::testref::Syms model_in(n);
    for (size_t i = 0; i < n; ++i) {
        // Mostly digits and byte symbols; the high byte sometimes goes wild.
        uint16_t v = uint16_t(data[2 * i] | data[2 * i + 1] << 8);
        if ((v >> 8) < 0xF0) v = uint16_t(v % 258);
        syms[i] = model_in[i] = v;
    }
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(cap)]);
    const uint16_t* q = syms.get();
    int32_t sl = int32_t(n), dl = cap;
    const vekStatus st = veksDecodeZ1Z2_BZ2_16u8u(&q, &sl, out.get(), &dl);
    const vek::testref::Z1Z2Decoded want = vek::testref::model_z1z2_decode(model_in, size_t(cap));
    check(st == want.st);
    check(size_t(sl) == n - want.consumed && q == syms.get() + want.consumed);
    check(size_t(dl) == want.out.size() &&
          std::memcmp(out.get(), want.out.data(), want.out.size()) == 0);

    if (dl > 0) {
        const size_t m = size_t(dl);
        std::unique_ptr<uint8_t[]> symbols(new uint8_t[m]), ranks(new uint8_t[m]);
        mtf_pieces(out.get(), symbols.get(), m, false, rng);
        mtf_pieces(symbols.get(), ranks.get(), m, true, rng);
        check(std::memcmp(ranks.get(), out.get(), m) == 0);
    }
    return 0;
}
