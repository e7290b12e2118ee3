// bzip2-format Huffman encoder on arbitrary symbol blocks: the tables must
// be complete prefix codes of at most 17 bits, and the packed context and
// coded symbols must decode back to the block, also when the destination
// of the encoder is too small (the call then stops with a valid prefix).
// The first two bytes choose the alphabet size and a destination limit.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bwt/huff_bz2.h"
#include "vekdc.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int32_t alpha = 2 + data[0] % 257;
    const size_t limit = data[1];
    std::vector<uint16_t> sym;
    // Skewed symbols: each byte picks a rank, small ranks most often.
    for (size_t i = 2; i < size; ++i)
        sym.push_back(
            static_cast<uint16_t>(data[i] % (data[i] & 0x80 ? alpha - 1 : 4) % (alpha - 1)));
    sym.push_back(static_cast<uint16_t>(alpha - 1));
    const int32_t len = static_cast<int32_t>(sym.size());
    std::vector<uint32_t> freq(static_cast<size_t>(alpha), 0);
    for (uint16_t s : sym) ++freq[s];

    int32_t encSize = 0;
    check(veksEncodeHuffGetSize_BZ2_16u8u(len, &encSize) == vekStatusOk);
    std::unique_ptr<uint8_t[]> encMem(new uint8_t[static_cast<size_t>(encSize)]);
    auto* enc = reinterpret_cast<vekHuffEncState_BZ2*>(encMem.get());
    check(veksEncodeHuffInit_BZ2_16u8u(alpha, freq.data(), sym.data(), len, enc) == vekStatusOk);
    for (int32_t t = 0; t < enc->nGroups; ++t) {
        uint64_t kraft = 0;
        for (int32_t s = 0; s < alpha; ++s) {
            check(enc->lengths[t][s] >= 1 && enc->lengths[t][s] <= 17);
            kraft += uint64_t{1} << (17 - enc->lengths[t][s]);
        }
        check(kraft == (uint64_t{1} << 17));
    }

    const size_t cap = static_cast<size_t>(len) * 3 + 4096;
    std::unique_ptr<uint8_t[]> out(new uint8_t[cap + 4]);
    uint32_t code = 0;
    int32_t bits = 0;
    int32_t n = static_cast<int32_t>(cap);
    check(veksPackHuffContext_BZ2_16u8u(&code, &bits, out.get(), &n, enc) == vekStatusOk);
    const size_t ctxBytes = static_cast<size_t>(n);
    const uint32_t ctxCode = static_cast<uint32_t>(code);
    const int32_t ctxBits = bits;
    size_t used = ctxBytes;
    const uint16_t* p = sym.data();
    int32_t left = len;
    n = static_cast<int32_t>(cap - used);
    check(veksEncodeHuff_BZ2_16u8u(&code, &bits, &p, &left, out.get() + used, &n, enc) ==
          vekStatusOk);
    check(left == 0 && p == sym.data() + len && bits <= 24);
    used += static_cast<size_t>(n);
    for (; bits > 0; bits -= 8, code <<= 8) out[used++] = static_cast<uint8_t>(code >> 24);
    for (int k = 0; k < 3; ++k) out[used++] = 0;

    // A short destination: the call stops with a valid prefix of the same bits.
    if (limit > 0) {
        std::unique_ptr<uint8_t[]> part(new uint8_t[limit]);
        uint32_t c2 = ctxCode;
        int32_t b2 = ctxBits, n2 = static_cast<int32_t>(limit), left2 = len;
        const uint16_t* p2 = sym.data();
        const vekStatus st = veksEncodeHuff_BZ2_16u8u(&c2, &b2, &p2, &left2, part.get(), &n2, enc);
        check(st == vekStatusOk || st == vekStatusDstTooSmall);
        check(n2 >= 0 && n2 <= static_cast<int32_t>(limit) && b2 >= 0 && b2 <= 32);
        check(left2 == len - (p2 - sym.data()));
        check(std::equal(part.get(), part.get() + n2, out.get() + ctxBytes));
        if (st == vekStatusDstTooSmall) check(b2 > 8 || left2 > 0);
        // The pending bits continue the stream.
        for (int32_t k = 0; k + 8 <= b2; k += 8)
            check(static_cast<uint8_t>(c2 >> (24 - k)) ==
                  out[ctxBytes + static_cast<size_t>(n2 + k / 8)]);
    }

    int32_t decSize = 0;
    check(veksDecodeHuffGetSize_BZ2_8u16u(vek::bwt::kBz2DecodeMinLen, &decSize) == vekStatusOk);
    std::unique_ptr<uint8_t[]> decMem(new uint8_t[static_cast<size_t>(decSize)]);
    auto* dec = reinterpret_cast<vekHuffDecState_BZ2*>(decMem.get());
    check(veksDecodeHuffInit_BZ2_8u16u(alpha, dec) == vekStatusOk);
    code = 0, bits = 0;
    const uint8_t* q = out.get();
    int32_t avail = static_cast<int32_t>(used);
    check(veksUnpackHuffContext_BZ2_8u16u(&code, &bits, &q, &avail, dec) == vekStatusOk);
    std::vector<uint16_t> back(static_cast<size_t>(len));
    n = len;
    check(veksDecodeHuff_BZ2_8u16u(&code, &bits, &q, &avail, back.data(), &n, dec) == vekStatusOk);
    check(n == len - 1);
    check(back == sym);
    return 0;
}
