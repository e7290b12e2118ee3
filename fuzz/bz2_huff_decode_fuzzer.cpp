// Context unpacker and Huffman decoder of the bzip2 format on arbitrary
// bytes, in exact-size heap buffers. The source is fed once whole and once
// in random pieces with random destination sizes; both runs must end with
// the same status and the same symbols. The first two bytes choose the
// alphabet size and the piece sizes.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "bwt/huff_bz2.h"
#include "vekdc.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

struct Result {
    vekStatus unpack = vekStatusOk;
    vekStatus decode = vekStatusOk;
    std::vector<uint16_t> sym;
};

Result run(const uint8_t* data, size_t size, int32_t alpha, uint32_t seed, bool pieces) {
    std::mt19937 rng(seed);
    int32_t stateSize = 0;
    check(veksDecodeHuffGetSize_BZ2_8u16u(vek::bwt::kBz2DecodeMinLen, &stateSize) == vekStatusOk);
    std::unique_ptr<uint8_t[]> mem(new uint8_t[static_cast<size_t>(stateSize)]);
    auto* st = reinterpret_cast<vekHuffDecState_BZ2*>(mem.get());
    check(veksDecodeHuffInit_BZ2_8u16u(alpha, st) == vekStatusOk);
    // Each piece lives in its own exact-size copy.
    size_t pos = 0;
    auto next_piece = [&](std::vector<uint8_t>* buf) {
        const size_t k = pieces ? std::min<size_t>(size - pos, 1 + rng() % 9) : size - pos;
        buf->assign(data + pos, data + pos + k);
        return static_cast<int32_t>(k);
    };
    uint32_t code = 0;
    int32_t bits = 0;
    Result r;
    r.unpack = vekStatusSrcTooSmall;
    while (r.unpack == vekStatusSrcTooSmall && pos < size) {
        std::vector<uint8_t> buf;
        int32_t len = next_piece(&buf);
        const uint8_t* p = buf.data();
        const int32_t before = len;
        r.unpack = veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &p, &len, st);
        check(len >= 0 && len <= before && p == buf.data() + (before - len));
        check(bits >= 0 && bits <= 32);
        pos += static_cast<size_t>(before - len);
    }
    if (r.unpack != vekStatusOk) return r;
    for (;;) {
        std::vector<uint8_t> buf;
        int32_t len = next_piece(&buf);
        if (buf.empty()) buf.push_back(0);  // a valid pointer for an empty piece
        const uint8_t* p = buf.data();
        const int32_t before = len;
        const int32_t cap = pieces ? 1 + static_cast<int32_t>(rng() % 70) : 4096;
        std::unique_ptr<uint16_t[]> dst(new uint16_t[static_cast<size_t>(cap)]);
        int32_t n = cap;
        r.decode = veksDecodeHuff_BZ2_8u16u(&code, &bits, &p, &len, dst.get(), &n, st);
        check(n >= 0 && n <= cap && len >= 0 && len <= before);
        pos += static_cast<size_t>(before - len);
        r.sym.insert(r.sym.end(), dst.get(), dst.get() + n);
        if (r.decode == vekStatusOk) {
            check(n < cap && dst[static_cast<size_t>(n)] == alpha - 1);
            break;
        }
        if (r.decode == vekStatusDstTooSmall) {
            if (!pieces && r.sym.size() > 20000) break;
            continue;
        }
        if (r.decode != vekStatusSrcTooSmall || pos == size) break;
    }
    for (uint16_t s : r.sym) check(s < alpha - 1 || alpha == 1);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int32_t alpha = 1 + static_cast<int32_t>((data[0] | (data[1] << 8)) % 258);
    const uint32_t seed = data[2];
    const Result whole = run(data + 3, size - 3, alpha, seed, false);
    const Result split = run(data + 3, size - 3, alpha, seed, true);
    check(whole.unpack == split.unpack);
    if (whole.unpack != vekStatusOk) return 0;
    // The whole run stops after 20000 symbols of a long block; compare the prefix.
    if (whole.decode == vekStatusDstTooSmall) {
        check(split.sym.size() >= whole.sym.size());
        check(std::equal(whole.sym.begin(), whole.sym.end(), split.sym.begin()));
        return 0;
    }
    check(whole.decode == split.decode);
    check(whole.sym == split.sym);
    return 0;
}
