// Fastest Deflate round trip: the fixed-code encoder, and the dynamic one
// with codes from the statistics pass, in calls of fuzzer-chosen input
// pieces and output room, each piece and window in its own exactly sized
// buffer; the stream must inflate (reference decoder) to the input. Also:
// statistics gathered in pieces equal those of one call, and the pair
// writer gives the same bytes in short calls as in one long call.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "deflate_reference_inflate.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;

void check(bool ok) {
    if (!ok) std::abort();
}

// Deterministic choices from the fuzzer's seed bytes.
struct Dice {
    uint32_t s;
    uint32_t next(uint32_t n) {
        s = s * 1103515245u + 12345u;
        return n ? (s >> 8) % n : 0;
    }
};

struct Codes {
    vekDeflateHuffCode lit[286], dist[30];
    uint8_t header[700];
    uint32_t headerLen = 0, headerBits = 0;
};

void stats(const Bytes& in, uint32_t winSize, uint32_t hashSize, Dice& d, uint32_t* ls,
           uint32_t* ds) {
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    uint32_t pos = 0;
    for (;;) {
        const uint32_t left = uint32_t(in.size()) - pos;
        const uint32_t len = d.next(3) ? left : d.next(left + 1);
        const uint32_t hist = pos < winSize ? pos : winSize;
        Bytes win(in.begin() + (pos - hist), in.begin() + pos),
            piece(in.begin() + pos, in.begin() + pos + len);
        win.push_back(0);
        piece.push_back(0);
        const uint8_t* src = piece.data();
        uint32_t srcLen = len, srcIdx = pos;
        check(veksDeflateLZ77FastestGetStat_8u(&src, &srcLen, &srcIdx, win.data() + hist, winSize,
                                               head.data(), hashSize, ls, ds,
                                               len == left ? 2 : 0) == vekStatusOk);
        check(srcIdx == pos + (len - srcLen) && src == piece.data() + (len - srcLen));
        pos = srcIdx;
        if (len == left) break;
    }
    check(pos == in.size());
}

// With `joined` the window is the input itself, right before each piece
// (the encoders' main loops then read candidates at their source offset).
Bytes encode(const Bytes& in, const Codes* c, uint32_t winSize, uint32_t hashSize, Dice& d,
             bool joined) {
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    Bytes out;
    uint16_t code = c ? 5 : 3;
    uint32_t bits = 3, pos = 0;
    for (int guard = 0; guard < 1000000; ++guard) {
        const uint32_t left = uint32_t(in.size()) - pos;
        uint32_t len = d.next(4) ? left : d.next(left + 1);
        if (pos == 0 && left > 0 && len == 0) len = 1;  // the header goes out with progress
        const bool last = len == left;
        const uint32_t flush = last ? 2 + d.next(2) : d.next(2);
        uint32_t room = d.next(4) ? 2 * len + 1000 : 1 + d.next(64);
        if (c && pos == 0) room = c->headerLen + 2 * len + 1000;
        const uint32_t dstIdx = d.next(50);
        const uint32_t hist = pos < winSize ? pos : winSize;
        Bytes win(in.begin() + (pos - hist), in.begin() + pos),
            piece(in.begin() + pos, in.begin() + pos + len);
        win.push_back(0);
        piece.push_back(0);
        piece.pop_back();
        Bytes dst(room);  // exactly the room: a write past dstLen trips the sanitizer
        const uint8_t* const at = joined ? in.data() + pos : piece.data();
        const uint8_t* const window = joined ? at : win.data() + hist;
        const uint8_t* src = at;
        uint32_t srcLen = len, srcIdx = pos, idx = dstIdx;
        const vekStatus st = c ? veksDeflateLZ77FastestPrecompHeader_8u(
                                     &src, &srcLen, &srcIdx, window, winSize, head.data(), hashSize,
                                     &code, &bits, dst.data(), dstIdx + room, &idx, c->lit, c->dist,
                                     c->header, int32_t(c->headerBits), flush)
                               : veksDeflateLZ77Fastest_8u(&src, &srcLen, &srcIdx, window, winSize,
                                                           head.data(), hashSize, &code, &bits,
                                                           dst.data(), dstIdx + room, &idx, flush);
        if (st == vekStatusSizeErr && c) continue;  // a short stream's literal wants more room
        check(st == vekStatusOk);
        check(idx >= dstIdx && idx - dstIdx <= room && bits < 8);
        check(srcIdx == pos + (len - srcLen));
        out.insert(out.end(), dst.begin(), dst.begin() + (idx - dstIdx));
        pos = srcIdx;
        if (last && flush >= 2 && srcLen == 0) {
            uint64_t acc = code;
            uint32_t n = bits;
            if (c)
                acc |= uint64_t(c->lit[256].code) << n, n += c->lit[256].len;
            else
                n += 7;
            for (; n > 0; n = n > 8 ? n - 8 : 0, acc >>= 8) out.push_back(uint8_t(acc));
            return out;
        }
    }
    std::abort();
}

void pair_writer(const uint8_t* data, size_t size, const Codes& c) {
    const size_t n = size / 3;
    Bytes lit(n + 1);
    std::vector<uint16_t> dist(n + 1);
    for (size_t i = 0; i < n; ++i) {
        lit[i] = data[3 * i];
        const uint32_t v = data[3 * i + 1] | uint32_t(data[3 * i + 2]) << 8;
        dist[i] = uint16_t(v % 3 == 0 ? 0 : 1 + v % 32768);
    }
    Bytes a(n * 6 + 16), b(n * 6 + 16);
    uint16_t ca = 0x5, cb = 0x5;
    uint32_t ba = 3, bb = 3, ia = 0, ib = 0;
    check(veksDeflateHuff_8u(lit.data(), dist.data(), uint32_t(n), &ca, &ba, c.lit, c.dist,
                             a.data(), &ia) == vekStatusOk);
    for (size_t i = 0; i < n; i += 1000) {
        const uint32_t k = uint32_t(n - i < 1000 ? n - i : 1000);
        check(veksDeflateHuff_8u(lit.data() + i, dist.data() + i, k, &cb, &bb, c.lit, c.dist,
                                 b.data(), &ib) == vekStatusOk);
    }
    check(ia == ib && ca == cb && ba == bb && std::memcmp(a.data(), b.data(), ia) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 200000) return 0;
    static const uint32_t kWin[4] = {256, 1024, 4096, 32768};
    const uint32_t winSize = kWin[data[0] & 3], hashSize = 256u << ((data[0] >> 2) % 9);
    Dice d{uint32_t(data[1]) | uint32_t(data[2]) << 8};
    const Bytes in(data + 3, data + size);

    uint32_t ls[286] = {}, ds[30] = {}, ls1[286] = {}, ds1[30] = {};
    stats(in, winSize, hashSize, d, ls, ds);
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    {  // the same statistics in one call
        const uint8_t* src = in.empty() ? data : in.data();
        uint32_t len = uint32_t(in.size()), idx = 0;
        check(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, winSize, head.data(),
                                               hashSize, ls1, ds1, 2) == vekStatusOk);
        check(len == 0 && idx == in.size());
    }
    check(std::memcmp(ls, ls1, sizeof ls) == 0 && std::memcmp(ds, ds1, sizeof ds) == 0);

    static Codes c;
    check(veksDeflateLZ77FastestGenHuffTable_8u(ls, ds, c.lit, c.dist) == vekStatusOk);
    check(veksDeflateLZ77FastestGenHeader_8u(c.lit, c.dist, c.header, &c.headerLen,
                                             &c.headerBits) == vekStatusOk);
    check(c.headerLen == (c.headerBits + 7) / 8);

    for (const Codes* codes : {static_cast<const Codes*>(nullptr), static_cast<const Codes*>(&c)}) {
        Dice same = d;  // the same pieces and rooms, with the window joined
        const Bytes stream = encode(in, codes, winSize, hashSize, d, false);
        if (!in.empty()) check(encode(in, codes, winSize, hashSize, same, true) == stream);
        Bytes out;
        check(vek::testref::inflate_raw(stream.data(), stream.size(), &out, in.size() + 1) ==
              vek::testref::InflateStatus::Ok);
        check(out == in);
    }
    pair_writer(data, size, c);
    return 0;
}
