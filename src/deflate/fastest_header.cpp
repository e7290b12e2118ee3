// Dynamic block header for a fastest-encoder code set: BFINAL 1, BTYPE 2,
// 286 literal/length and 30 distance code lengths, run-length coded with
// the code-length alphabet (RFC 1951, 3.2.7).
#include "deflate/deflate_tables.h"
#include "deflate/fastest.h"
#include "deflate/huff.h"

namespace vek::deflate {
namespace {

// Order in which the code-length code lengths are sent.
constexpr uint8_t kCodLenCod[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                    11, 4,  12, 3, 13, 2, 14, 1, 15};
// Extra bits of code-length symbols 16, 17, 18.
constexpr uint32_t kRunExtra[3] = {2, 3, 7};

struct RunSymbol {
    uint8_t sym;    // 0..18
    uint8_t extra;  // value of its extra bits (16, 17, 18 only)
};

// Run-length codes one list of code lengths; runs stay inside the list.
// Returns the number of symbols written to out.
int rle_lengths(const vekDeflateHuffCode* codes, int n, RunSymbol* out) {
    int k = 0, i = 0;
    uint32_t prev = 0;  // previous written length; 0 at the start and after zeros
    auto value = [codes](int j) -> uint32_t { return codes[j].len > 15 ? 15u : codes[j].len; };
    while (i < n) {
        const uint32_t x = value(i);
        int run = 1;
        if (x == 0) {
            while (i + run < n && run < 138 && value(i + run) == 0) ++run;
            if (run >= 11) {
                out[k++] = {18, static_cast<uint8_t>(run - 11)};
            } else if (run >= 3) {
                out[k++] = {17, static_cast<uint8_t>(run - 3)};
            } else {
                for (int r = 0; r < run; ++r) out[k++] = {0, 0};
            }
            prev = 0;
        } else if (x != prev) {
            out[k++] = {static_cast<uint8_t>(x), 0};
            prev = x;
        } else {
            while (i + run < n && run < 6 && value(i + run) == x) ++run;
            if (run >= 3) {
                out[k++] = {16, static_cast<uint8_t>(run - 3)};
            } else {
                for (int r = 0; r < run; ++r) out[k++] = {static_cast<uint8_t>(x), 0};
            }
        }
        i += run;
    }
    return k;
}

// LSB-first bit writer into the header buffer, a byte at a time.
struct HeaderBits {
    uint8_t* dst;
    uint32_t bytes = 0;
    uint64_t acc = 0;
    uint32_t n = 0;
    uint32_t total = 0;

    void put(uint32_t v, uint32_t k) {
        acc |= static_cast<uint64_t>(v) << n;
        n += k;
        total += k;
        while (n >= 8) {
            dst[bytes++] = static_cast<uint8_t>(acc);
            acc >>= 8;
            n -= 8;
        }
    }
    void finish() {
        if (n > 0) dst[bytes++] = static_cast<uint8_t>(acc);
    }
};

}  // namespace

void ownsDeflateLZ77FastestGenHeader_8u(const vekDeflateHuffCode* litCodes,
                                        const vekDeflateHuffCode* distCodes, uint8_t* pHeader,
                                        uint32_t* pHeaderLen, uint32_t* pHeaderLenBits) {
    RunSymbol syms[kNumLitLen + kNumDist];
    int count = rle_lengths(litCodes, kNumLitLen, syms);
    count += rle_lengths(distCodes, kNumDist, syms + count);

    // Code lengths for the code-length symbols that occur, listed in
    // increasing symbol order; the others get length 0. The limit 7 is always
    // met: at most 316 uses among up to 19 symbols flatten long before the
    // last bias attempt.
    uint32_t freq[19] = {}, used[19], symOf[19], lens[19];
    for (int i = 0; i < count; ++i) ++freq[syms[i].sym];
    int m = 0;
    for (uint32_t s = 0; s < 19; ++s) {
        if (freq[s] == 0) continue;
        used[m] = freq[s];
        symOf[m++] = s;
    }
    ownGenHuff1(used, lens, m, 7);
    vekDeflateHuffCode clc[19] = {};
    for (int j = 0; j < m; ++j) clc[symOf[j]].len = static_cast<uint16_t>(lens[j]);
    assign_canonical_codes(clc, 19);

    // Trailing zero lengths of the send order are dropped, keeping at least
    // the 4 entries the format requires.
    int kept = 19;
    while (kept > 4 && clc[kCodLenCod[kept - 1]].len == 0) --kept;

    HeaderBits w{pHeader};
    w.put(1, 1);                                // BFINAL
    w.put(2, 2);                                // BTYPE: dynamic codes
    w.put(kNumLitLen - 257, 5);                 // HLIT
    w.put(kNumDist - 1, 5);                     // HDIST
    w.put(static_cast<uint32_t>(kept - 4), 4);  // HCLEN
    for (int j = 0; j < kept; ++j) w.put(clc[kCodLenCod[j]].len, 3);
    for (int i = 0; i < count; ++i) {
        const vekDeflateHuffCode c = clc[syms[i].sym];
        w.put(code_bits(c), code_len(c));
        if (syms[i].sym >= 16) w.put(syms[i].extra, kRunExtra[syms[i].sym - 16]);
    }
    w.finish();
    *pHeaderLenBits = w.total;
    *pHeaderLen = w.bytes;
}

}  // namespace vek::deflate
