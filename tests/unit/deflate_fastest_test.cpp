// Fastest Deflate: argument-check order; code tables and headers against
// plain models of their steps; the encoders and the statistics pass against
// a bit-by-bit model of the match rule, call by call, with random splits,
// rooms and separate window buffers; round trips through the reference
// inflater; room tests at their exact boundaries; guard bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "deflate/huff.h"
#include "deflate_lz77_model.h"
#include "deflate_reference_inflate.h"
#include "test_data.h"
#include "deflate_huff_codes.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Codes = std::vector<vekDeflateHuffCode>;
namespace ref = vek::testref;

constexpr uint8_t kGuard = 0xA5;

// The sanitizer build runs without optimisation: fewer cases there.
constexpr uint32_t kSlow = vek::testdata::kSanitized ? 4 : 1;

using vek::testref::lz77model::crc32c_word;
using vek::testref::lz77model::length_code;
int dist_code(int d) {
    return vek::testref::lz77model::distance_code(d);
}

using vek::testsupport::canonical;

using vek::testsupport::CodeSet;

CodeSet fixed_codes() {
    std::vector<uint32_t> l(288), d(30, 5);
    for (int i = 0; i < 288; ++i) l[size_t(i)] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
    return {canonical(l), canonical(d)};
}

struct Bits {
    std::vector<uint8_t> b;
    void put(uint32_t v, uint32_t k) {
        for (uint32_t i = 0; i < k; ++i) b.push_back(uint8_t((v >> i) & 1u));
    }
    Bytes bytes(size_t n) const {  // the first n bytes, the last one padded with zeros
        Bytes out(n);
        for (size_t i = 0; i < std::min(n * 8, b.size()); ++i)
            out[i / 8] |= uint8_t(b[i] << (i % 8));
        return out;
    }
};

// ---------------------------------------------------------------------------
// Model of the match rule, the statistics pass and both encoders, over the
// whole stream `all` (position p is all[p]), one bit at a time.

struct Model {
    const Bytes& all;
    uint32_t winSize, hashSize;
    std::vector<int32_t>& head;

    uint32_t hash(uint32_t p) const {
        const uint32_t w = all[p] | all[p + 1] << 8 | all[p + 2] << 16 | uint32_t(all[p + 3]) << 24;
        return crc32c_word(w) & (hashSize - 1);
    }
    void insert(uint32_t p, uint32_t end) const {
        if (p + 4 <= end) head[hash(p)] = int32_t(p);
    }
    // Match length at p (0 for a literal) and the candidate; no table writes.
    uint32_t probe(uint32_t p, uint32_t cap, uint32_t* h, int64_t* cand) const {
        *h = hash(p);
        *cand = head[*h];
        const int64_t d = int64_t(p) - *cand;
        if (d <= 0 || d >= int64_t(winSize)) return 0;
        for (int k = 0; k < 4; ++k)
            if (all[size_t(*cand + k)] != all[p + k]) return 0;
        uint32_t len = 4;
        while (len < cap && all[size_t(*cand + len)] == all[p + len]) ++len;
        return len;
    }
};

void item_bits(Bits& b, const CodeSet& cs, const Bytes& all, uint32_t p, uint32_t len,
               uint32_t dist) {
    if (len == 0) {
        b.put(cs.lit[all[p]].code, cs.lit[all[p]].len);
        return;
    }
    const int lc = length_code(int(len)), dc = dist_code(int(dist));
    b.put(cs.lit[size_t(257 + lc)].code, cs.lit[size_t(257 + lc)].len);
    b.put(len - ref::kRefLengthBase[lc], ref::kRefLengthExtra[lc]);
    b.put(cs.dist[size_t(dc)].code, cs.dist[size_t(dc)].len);
    b.put(dist - ref::kRefDistBase[dc], ref::kRefDistExtra[dc]);
}

struct Call {
    uint32_t srcIdx, srcLen;
    uint16_t code;
    uint32_t codeBits, dstIdx, dstLen, flush;
};
struct Outcome {
    vekStatus st;
    Bytes out;
    uint16_t code;
    uint32_t bits, consumed;
    bool operator==(const Outcome& o) const {
        return st == o.st && out == o.out && code == o.code && bits == o.bits &&
               consumed == o.consumed;
    }
};
std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "{st " << o.st << ", " << o.out.size() << " bytes, code " << o.code << "/"
              << o.bits << ", consumed " << o.consumed << "}";
}

// dyn null: the fixed-code encoder. header null: no header pointer.
Outcome model_encode(const Model& m, const Call& c, const CodeSet* dyn, const Bytes* header,
                     int32_t headerBits) {
    const CodeSet cs = dyn ? *dyn : fixed_codes();
    const bool fixed = dyn == nullptr;
    const uint32_t end = c.srcIdx + c.srcLen;
    uint32_t p = c.srcIdx;
    Bits b;
    b.put(c.code, std::min(c.codeBits, 16u));
    // The header must fit the room: (pending + header bits - 3) / 8 + 1 bytes.
    if (!fixed && header && c.srcIdx == 0 &&
        (int64_t(std::min(c.codeBits, 16u)) + headerBits - 3) / 8 + 1 >
            int64_t(c.dstLen) - c.dstIdx)
        return {vekStatusSizeErr, {}, c.code, c.codeBits, 0};
    if (!fixed && header && c.srcIdx == 0)
        for (int i = 3; i < headerBits; ++i) b.put((*header)[size_t(i / 8)] >> (i % 8), 1);
    const int64_t room = int64_t(c.dstLen) - c.dstIdx;
    int64_t stored = 0;
    if (!fixed && header && c.dstLen >= 8 && c.srcLen >= 1 && end >= 1 && end <= 258) {
        if (int64_t(c.dstIdx) + int64_t(b.b.size() / 8) + 8 > int64_t(c.dstLen) - 8)
            return {vekStatusSizeErr, {}, c.code, c.codeBits, 0};
        m.insert(p, end);
        item_bits(b, cs, m.all, p, 0, 0);
        ++p;
        stored = int64_t(b.b.size() / 8);
    }
    stored = std::min<int64_t>(int64_t(b.b.size() / 8), room);
    while (int64_t(p) < int64_t(end) - (fixed ? 274 : 258) &&
           int64_t(c.dstIdx) + stored < int64_t(c.dstLen) - 8) {
        uint32_t h;
        int64_t cand;
        const uint32_t len = m.probe(p, 258, &h, &cand);
        m.head[h] = int32_t(p);
        item_bits(b, cs, m.all, p, len, uint32_t(p - cand));
        if (len) {
            for (uint32_t q = p + 1; q <= p + 3; ++q) m.insert(q, end);
        }
        p += len ? len : 1;
        if (!fixed)
            stored = int64_t(b.b.size() / 8);
        else if (int64_t(b.b.size()) - stored * 8 >= 32)
            stored += 4;
    }
    stored = std::min<int64_t>(int64_t(b.b.size() / 8), room);
    if (c.flush >= 2) {
        bool full = false;
        auto fits = [&](size_t k) {
            return int64_t((b.b.size() - size_t(stored) * 8 + k) / 8) <= room - stored;
        };
        while (end - p > 3) {
            uint32_t h;
            int64_t cand;
            const uint32_t len = m.probe(p, std::min(end - p, 258u), &h, &cand);
            Bits item;
            item_bits(item, cs, m.all, p, len, uint32_t(p - cand));
            if (!fits(item.b.size())) {
                full = true;
                break;
            }
            b.b.insert(b.b.end(), item.b.begin(), item.b.end());
            stored = int64_t(b.b.size() / 8);
            m.head[h] = int32_t(p);
            if (len) {
                for (uint32_t q = p + 1; q <= p + 3; ++q) m.insert(q, end);
            }
            p += len ? len : 1;
        }
        for (; !full && p < end; ++p) {
            if (!fits(cs.lit[m.all[p]].len)) break;
            item_bits(b, cs, m.all, p, 0, 0);
            stored = int64_t(b.b.size() / 8);
        }
    }
    Outcome o{vekStatusOk, b.bytes(size_t(stored)), 0, uint32_t(b.b.size() - size_t(stored) * 8),
              p - c.srcIdx};
    for (uint32_t i = 0; i < o.bits; ++i)
        o.code = uint16_t(o.code | b.b[size_t(stored) * 8 + i] << i);
    return o;
}

void model_stat(const Model& m, uint32_t srcIdx, uint32_t srcLen, uint32_t flush,
                std::vector<uint32_t>& lit, std::vector<uint32_t>& dist, uint32_t* consumed) {
    const uint32_t end = srcIdx + srcLen;
    uint32_t p = srcIdx;
    auto item = [&](uint32_t cap) {
        uint32_t h;
        int64_t cand;
        const uint32_t len = m.probe(p, cap, &h, &cand);
        m.head[h] = int32_t(p);
        if (len == 0) {
            ++lit[m.all[p++]];
            return;
        }
        ++lit[size_t(257 + length_code(int(len)))];
        ++dist[size_t(dist_code(int(p - cand)))];
        for (uint32_t q = p + 1; q <= p + 3; ++q) m.insert(q, end);
        p += len;
    };
    while (int64_t(p) < int64_t(end) - 258) item(258);
    if (flush >= 2) {
        if (end - p > 3) item(std::min(end - p, 258u));
        for (; p < end; ++p) ++lit[m.all[p]];
    }
    *consumed = p - srcIdx;
}

// ---------------------------------------------------------------------------
// Calls into the library with the input and the window in buffers of their
// own, exactly sized, so that reads outside them are caught by the sanitizer
// builds, and with guard bytes after dstLen.

struct Lib {
    const Bytes& all;
    uint32_t winSize, hashSize;
    std::vector<int32_t>& head;
    bool contiguous = false;  // window and input as one buffer instead

    Outcome encode(const Call& c, const CodeSet* dyn, const Bytes* header,
                   int32_t headerBits) const {
        const uint32_t hist = std::min(c.srcIdx, winSize);
        Bytes win(all.begin() + (c.srcIdx - hist), all.begin() + c.srcIdx);
        Bytes chunk(all.begin() + c.srcIdx, all.begin() + c.srcIdx + c.srcLen);
        win.push_back(0);  // never read: keeps the data pointer valid when empty
        chunk.push_back(0);
        chunk.pop_back();
        const bool joined = contiguous && !all.empty();
        const uint8_t* src = joined ? all.data() + c.srcIdx : chunk.data();
        const uint8_t* window = joined ? all.data() + c.srcIdx : win.data() + hist;
        const uint32_t room = c.dstLen - c.dstIdx;
        Bytes dst(size_t(room) + 16, kGuard);
        uint32_t srcLen = c.srcLen, srcIdx = c.srcIdx, bits = c.codeBits, dstIdx = c.dstIdx;
        uint16_t code = c.code;
        const vekStatus st =
            dyn ? veksDeflateLZ77FastestPrecompHeader_8u(
                      &src, &srcLen, &srcIdx, window, winSize, head.data(), hashSize, &code, &bits,
                      dst.data(), c.dstLen, &dstIdx, dyn->lit.data(), dyn->dist.data(),
                      header ? header->data() : nullptr, headerBits, c.flush)
                : veksDeflateLZ77Fastest_8u(&src, &srcLen, &srcIdx, window, winSize, head.data(),
                                            hashSize, &code, &bits, dst.data(), c.dstLen, &dstIdx,
                                            c.flush);
        for (size_t k = room; k < dst.size(); ++k)
            EXPECT_EQ(dst[k], kGuard) << "written past dstLen at " << k;
        if (!dyn) {  // the fixed-code encoder writes only the bytes it reports
            for (size_t k = dstIdx - c.dstIdx; k < dst.size(); ++k)
                EXPECT_EQ(dst[k], kGuard) << "at " << k;
        }
        EXPECT_EQ(srcIdx - c.srcIdx, c.srcLen - srcLen);
        dst.resize(dstIdx - c.dstIdx);
        return {st, dst, code, bits, c.srcLen - srcLen};
    }
};

struct Stream {
    CodeSet codes;
    bool fixed = true;
    Bytes header;
    uint32_t headerBits = 0;
};

Stream dynamic_stream(const std::vector<uint32_t>& ls, const std::vector<uint32_t>& ds) {
    Stream s;
    s.fixed = false;
    s.codes.lit.resize(286);
    s.codes.dist.resize(30);
    EXPECT_EQ(veksDeflateLZ77FastestGenHuffTable_8u(ls.data(), ds.data(), s.codes.lit.data(),
                                                    s.codes.dist.data()),
              vekStatusOk);
    s.header.assign(700, 0);
    uint32_t len = 0;
    EXPECT_EQ(veksDeflateLZ77FastestGenHeader_8u(s.codes.lit.data(), s.codes.dist.data(),
                                                 s.header.data(), &len, &s.headerBits),
              vekStatusOk);
    s.header.resize(len);
    return s;
}

// Statistics of the whole input in one flushing call.
Stream dynamic_stream_for(const Bytes& in, uint32_t winSize, uint32_t hashSize) {
    std::vector<uint32_t> ls(286), ds(30);
    std::vector<int32_t> head(hashSize, -int32_t(winSize));
    const uint8_t one = 0;
    const uint8_t* src = in.empty() ? &one : in.data();
    uint32_t len = uint32_t(in.size()), idx = 0;
    EXPECT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, winSize, head.data(),
                                               hashSize, ls.data(), ds.data(), 2),
              vekStatusOk);
    return dynamic_stream(ls, ds);
}

struct RunOpts {
    uint32_t winSize = 32768, hashSize = 65536;
    bool contiguous = false;
};

// Encodes `in` as one final block in calls of random size, room and flush,
// comparing every call with the model; returns the finished stream.
Bytes run_stream(const Bytes& in, const Stream& s, std::mt19937& rng, const RunOpts& o) {
    std::vector<int32_t> head(o.hashSize, -int32_t(o.winSize)), mhead = head;
    const Lib lib{in, o.winSize, o.hashSize, head, o.contiguous};
    const Model model{in, o.winSize, o.hashSize, mhead};
    Bits total;
    uint16_t code = s.fixed ? 3 : 5;  // BFINAL 1 with BTYPE 1 or 2
    uint32_t bits = 3, pos = 0;
    for (int guard = 0; guard < 200000; ++guard) {
        const uint32_t left = uint32_t(in.size()) - pos;
        uint32_t len = left;
        if (rng() % 3 && left > 0)
            len = std::min(left, uint32_t(rng() % 2 ? rng() % 600 : rng() % 70000));
        if (pos == 0 && left > 0) len = std::max(len, 1u);
        const bool last = len == left;
        Call c{pos, len, code, bits, uint32_t(rng() % 100), 0, 0};
        uint32_t room = rng() % 4 ? 100000 + len * 2 : 1 + rng() % 200;
        if (pos == 0) room = 2000 + len * 2;  // the header goes out on the first call
        c.dstLen = c.dstIdx + room;
        c.flush = last && rng() % 2 ? 2 + rng() % 2 : (rng() % 8 == 0 ? 2 : rng() % 2);
        // A call at position 0 that consumes nothing would leave the next
        // call to place the header again: an empty input goes in one call.
        if (in.empty()) c.flush = 2;
        const CodeSet* dyn = s.fixed ? nullptr : &s.codes;
        const Bytes* hdr = s.fixed ? nullptr : &s.header;
        const Outcome got = lib.encode(c, dyn, hdr, int32_t(s.headerBits));
        const Outcome want = model_encode(model, c, dyn, hdr, int32_t(s.headerBits));
        EXPECT_EQ(got, want) << "call at " << pos << " len " << len << " room " << room;
        EXPECT_EQ(head, mhead) << "hash heads after the call at " << pos;
        if (!(got == want) || head != mhead) return {};
        if (got.st != vekStatusOk) continue;  // a short first block wants more room
        for (uint8_t byte : got.out) total.put(byte, 8);
        code = got.code;
        bits = got.bits;
        pos += got.consumed;
        if (pos == in.size() && last && c.flush >= 2 && got.consumed == len) {
            total.put(code, bits);
            if (s.fixed)
                total.put(0, 7);
            else
                total.put(s.codes.lit[256].code, s.codes.lit[256].len);
            return total.bytes((total.b.size() + 7) / 8);
        }
    }
    ADD_FAILURE() << "stream did not finish";
    return {};
}

void expect_round_trip(const Bytes& in, const Bytes& stream) {
    Bytes out;
    ASSERT_EQ(ref::inflate_raw(stream.data(), stream.size(), &out, in.size() + 1),
              ref::InflateStatus::Ok);
    ASSERT_EQ(out, in);
}

std::vector<Bytes> inputs(std::mt19937& rng) {
    using namespace vek::testdata;
    std::vector<Bytes> v = {Bytes(),
                            Bytes{7},
                            Bytes{1, 2, 3},
                            Bytes(4, 'x'),
                            text_bytes(100, 1),
                            Bytes(258, 'a'),
                            Bytes(259, 'a'),
                            Bytes(275, 0),
                            random_bytes(300, 2),
                            text_bytes(40000, 3),
                            runs_bytes(30000, 4),
                            random_bytes(20000, 5),
                            Bytes(70000, 'z')};
    Bytes periodic;  // long matches at distances just above 256 and across 32K
    for (int i = 0; i < 90000; ++i)
        periodic.push_back(uint8_t(i % (rng() % 64 ? 300 : 32768) % 251));
    v.push_back(periodic);
    return v;
}

// ---------------------------------------------------------------------------

TEST(DeflateFastest, EncodersMatchTheModelCallByCall) {
    std::mt19937 rng(11);
    for (const Bytes& in : inputs(rng)) {
        // Fixed codes; codes from the input's statistics; codes from unrelated
        // statistics; fixed codes, then the input's codes, with window and
        // input in one buffer.
        for (int variant = 0; variant < 5; ++variant) {
            RunOpts o;
            const uint32_t wins[] = {256, 1024, 4096, 32768, 3000};
            o.winSize = wins[rng() % 5];
            o.hashSize = 256u << (rng() % 9);
            o.contiguous = variant >= 3;
            std::vector<uint32_t> ls(286), ds(30);
            for (auto& v : ls) v = rng() % 5 ? 0 : rng() % 1000;
            for (auto& v : ds) v = rng() % 3 ? 0 : rng() % 50;
            const Stream s = variant == 1 || variant == 4
                                 ? dynamic_stream_for(in, o.winSize, o.hashSize)
                             : variant == 2 ? dynamic_stream(ls, ds)
                                            : Stream{};
            const Bytes stream = run_stream(in, s, rng, o);
            SCOPED_TRACE(testing::Message() << "size " << in.size() << " variant " << variant);
            expect_round_trip(in, stream);
        }
    }
}

TEST(DeflateFastest, JoinedWindowMatchesTheModelOverMixedData) {
    // Long calls over stretches of random bytes (about half the candidates
    // too old or missing) and of text (nearly all usable), with the window
    // right before the input: the candidate test changes its form between
    // stretches, and every form must give the model's stream.
    using namespace vek::testdata;
    std::mt19937 rng(14);
    Bytes in;
    for (int k = 0; k < 3; ++k) {
        const Bytes r = random_bytes(45000, 20 + k), t = text_bytes(25000, 30 + k);
        in.insert(in.end(), r.begin(), r.end());
        in.insert(in.end(), t.begin(), t.end());
    }
    for (bool fixed : {true, false}) {
        for (uint32_t hashSize : {65536u, 16384u}) {
            RunOpts o;
            o.hashSize = hashSize;
            o.contiguous = true;
            const Stream s = fixed ? Stream{} : dynamic_stream_for(in, o.winSize, o.hashSize);
            expect_round_trip(in, run_stream(in, s, rng, o));
        }
    }
}

TEST(DeflateFastest, JoinedWindowMatchesTheModelWhereMostMatchesAreFourBytes) {
    // Words drawn from 64 four-byte tokens with distinct first bytes: nearly
    // every match is exactly 4 bytes, the case the main loop advances over
    // without waiting for the length. Stretches of runs and random bytes in
    // between make it leave that case and come back.
    using namespace vek::testdata;
    std::mt19937 rng(15);
    uint8_t tokens[64][4];
    for (int i = 0; i < 64; ++i) {
        tokens[i][0] = static_cast<uint8_t>(i * 4);
        for (int k = 1; k < 4; ++k) tokens[i][k] = static_cast<uint8_t>(rng());
    }
    Bytes in;
    for (int k = 0; k < 3; ++k) {
        for (int i = 0; i < 6000; ++i) {
            const uint8_t* t = tokens[rng() % 64];
            in.insert(in.end(), t, t + 4);
        }
        const Bytes r = random_bytes(3000, 50 + k);
        in.insert(in.end(), r.begin(), r.end());
        in.insert(in.end(), 2000 + 700 * k, static_cast<uint8_t>(k));
    }
    for (bool fixed : {true, false}) {
        for (uint32_t hashSize : {65536u, 4096u}) {
            RunOpts o;
            o.hashSize = hashSize;
            o.contiguous = true;
            const Stream s = fixed ? Stream{} : dynamic_stream_for(in, o.winSize, o.hashSize);
            expect_round_trip(in, run_stream(in, s, rng, o));
        }
    }
}

TEST(DeflateFastest, StatisticsMatchTheModel) {
    std::mt19937 rng(14);
    for (const Bytes& in : inputs(rng)) {
        const uint32_t winSize = 256u << (rng() % 8), hashSize = 256u << (rng() % 9);
        std::vector<int32_t> head(hashSize, -int32_t(winSize)), mhead = head;
        std::vector<uint32_t> ls(286, 7), ds(30, 3), mls = ls, mds = ds;
        const Model m{in, winSize, hashSize, mhead};
        uint32_t pos = 0;
        for (int guard = 0; guard < 10000 && pos <= in.size(); ++guard) {
            const uint32_t left = uint32_t(in.size()) - pos;
            const uint32_t len = rng() % 2 ? left : std::min(left, uint32_t(rng() % 5000));
            const uint32_t flush = len == left ? 2 : rng() % 2;
            const uint32_t hist = std::min(pos, winSize);
            Bytes win(in.begin() + (pos - hist), in.begin() + pos),
                chunk(in.begin() + pos, in.begin() + pos + len);
            win.push_back(0);
            chunk.push_back(0);
            const uint8_t* src = chunk.data();
            uint32_t srcLen = len, srcIdx = pos, mconsumed = 0;
            ASSERT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &srcLen, &srcIdx, win.data() + hist,
                                                       winSize, head.data(), hashSize, ls.data(),
                                                       ds.data(), flush),
                      vekStatusOk);
            model_stat(m, pos, len, flush, mls, mds, &mconsumed);
            ASSERT_EQ(len - srcLen, mconsumed);
            ASSERT_EQ(srcIdx, pos + mconsumed);
            ASSERT_EQ(src, chunk.data() + mconsumed);
            ASSERT_EQ(ls, mls);
            ASSERT_EQ(ds, mds);
            ASSERT_EQ(head, mhead);
            pos += mconsumed;
            if (flush >= 2) break;
        }
        EXPECT_EQ(pos, in.size());
    }
}

TEST(DeflateFastest, StatisticsFlushIsOneItemThenLiterals) {
    // 300 bytes 'a': a literal, a 258-byte match at distance 1; then, with
    // flush, one more match (41 bytes at distance 255, from the head entry
    // of position 4), and nothing left for literals.
    const Bytes in(300, 'a');
    std::vector<int32_t> head(1024, -1024);
    std::vector<uint32_t> ls(286), ds(30);
    const uint8_t* src = in.data();
    uint32_t len = 300, idx = 0;
    ASSERT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, 1024, head.data(), 1024,
                                               ls.data(), ds.data(), 1),
              vekStatusOk);
    EXPECT_EQ(idx, 259u);
    EXPECT_EQ(len, 41u);
    EXPECT_EQ(ls['a'], 1u);
    EXPECT_EQ(ls[285], 1u);
    EXPECT_EQ(ds[0], 1u);
    ASSERT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, 1024, head.data(), 1024,
                                               ls.data(), ds.data(), 2),
              vekStatusOk);
    EXPECT_EQ(len, 0u);
    EXPECT_EQ(idx, 300u);
    EXPECT_EQ(ls[257 + length_code(41)], 1u);
    EXPECT_EQ(ds[dist_code(255)], 1u);
    EXPECT_EQ(ls['a'], 1u);

    // "abcd" repeated: the one flush item is the literal 'a' (empty table),
    // and every later byte counts as a literal although it repeats.
    Bytes rep;
    for (int i = 0; i < 5; ++i) rep.insert(rep.end(), {'a', 'b', 'c', 'd'});
    std::fill(ls.begin(), ls.end(), 0);
    std::fill(head.begin(), head.end(), -1024);
    src = rep.data(), len = uint32_t(rep.size()), idx = 0;
    ASSERT_EQ(veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, 1024, head.data(), 1024,
                                               ls.data(), ds.data(), 3),
              vekStatusOk);
    EXPECT_EQ(ls['a'] + ls['b'] + ls['c'] + ls['d'], 20u);
    EXPECT_EQ(std::count(ls.begin() + 257, ls.end(), 0u), 29);
}

// The statistics pass never rebases: at positions where both encoders would
// (srcIdx + srcLen + winSize reaching 0x7FFFFFFF - srcLen), the cursor goes
// on from where it was and every head entry the pass does not overwrite
// keeps its value. Stale entries are unusable at any position, so the counts
// equal those of the same input from position 0.
TEST(DeflateFastest, StatisticsNeverRebase) {
    const uint32_t winSize = 1024, hashSize = 4096, n = 3000;
    const uint32_t high = 0x7FFFFFFFu - 2 * n - winSize;
    const Bytes in = vek::testdata::text_bytes(n, 48);
    std::vector<uint32_t> counts[2][2];
    for (int run = 0; run < 2; ++run) {
        const uint32_t start = run == 0 ? 0 : high;
        const int32_t stale = run == 0 ? -int32_t(winSize) : int32_t(high - 5000);
        std::vector<int32_t> head(hashSize, stale);
        counts[run][0].assign(286, 0);
        counts[run][1].assign(30, 0);
        const uint8_t* src = in.data();
        uint32_t len = n, idx = start;
        ASSERT_EQ(
            veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, src, winSize, head.data(), hashSize,
                                             counts[run][0].data(), counts[run][1].data(), 2),
            vekStatusOk);
        EXPECT_EQ(len, 0u);
        EXPECT_EQ(idx, start + n);
        for (int32_t e : head) EXPECT_TRUE(e == stale || (e >= int32_t(start) && e < int32_t(idx)));
    }
    EXPECT_EQ(counts[1][0], counts[0][0]);
    EXPECT_EQ(counts[1][1], counts[0][1]);
}

// Positions are 32-bit stream positions taken modulo 2^32: the statistics
// pass (which never rebases) at positions past INT32_MAX, and any pass at
// positions wrapping past 2^32 (where the rebase test's sum wraps too), find
// the matches that the same bytes give from position 0, whether the window
// lies right before the input or in a buffer of its own. The split form
// serves the call's first winSize positions and the flush item, the joined
// form the rest.
TEST(DeflateFastest, PositionsPastTheSignedRangeMatchAsFromZero) {
    const uint32_t winSize = 1024, hashSize = 4096, n = 3000;
    const Bytes in = vek::testdata::text_bytes(n, 49);
    std::vector<int32_t> mhead(hashSize, -int32_t(winSize));
    std::vector<uint32_t> mls(286), mds(30);
    uint32_t mconsumed = 0;
    model_stat(Model{in, winSize, hashSize, mhead}, 0, n, 2, mls, mds, &mconsumed);
    ASSERT_EQ(mconsumed, n);
    const Stream dyn = dynamic_stream_for(in, winSize, hashSize);
    Outcome want[2];
    for (int fixed = 0; fixed < 2; ++fixed) {
        std::fill(mhead.begin(), mhead.end(), -int32_t(winSize));
        want[fixed] =
            model_encode(Model{in, winSize, hashSize, mhead}, Call{0, n, 0, 0, 0, 8000, 2},
                         fixed ? nullptr : &dyn.codes, nullptr, 0);
    }
    // History bytes before the input that no stale entry reaches.
    Bytes joined(winSize, 0);
    joined.insert(joined.end(), in.begin(), in.end());
    const Bytes win(winSize, 0);
    for (const uint32_t start : {0x7FFFFE00u, 0x80000000u, 0xFFFFFE00u}) {
        for (const bool split : {true, false}) {
            SCOPED_TRACE(testing::Message() << "start " << start << (split ? " split" : " joined"));
            const uint8_t* const first = split ? in.data() : joined.data() + winSize;
            const uint8_t* const window = split ? win.data() + winSize : first;
            const int32_t stale = int32_t(start - 5000);  // 5000 positions back
            std::vector<int32_t> head(hashSize, stale);
            std::vector<uint32_t> ls(286), ds(30);
            const uint8_t* src = first;
            uint32_t len = n, idx = start;
            ASSERT_EQ(
                veksDeflateLZ77FastestGetStat_8u(&src, &len, &idx, window, winSize, head.data(),
                                                 hashSize, ls.data(), ds.data(), 2),
                vekStatusOk);
            EXPECT_EQ(idx, start + n);
            EXPECT_EQ(ls, mls);
            EXPECT_EQ(ds, mds);
            // The encoders rebase, unless the rebase test's sum wraps.
            if (start != 0xFFFFFE00u) continue;
            for (int fixed = 0; fixed < 2; ++fixed) {
                std::fill(head.begin(), head.end(), stale);
                src = first, len = n, idx = start;
                uint32_t bits = 0, dstIdx = 0;
                uint16_t code = 0;
                Bytes dst(8000);
                const vekStatus st =
                    fixed ? veksDeflateLZ77Fastest_8u(&src, &len, &idx, window, winSize,
                                                      head.data(), hashSize, &code, &bits,
                                                      dst.data(), 8000, &dstIdx, 2)
                          : veksDeflateLZ77FastestPrecompHeader_8u(
                                &src, &len, &idx, window, winSize, head.data(), hashSize, &code,
                                &bits, dst.data(), 8000, &dstIdx, dyn.codes.lit.data(),
                                dyn.codes.dist.data(), nullptr, 0, 2);
                dst.resize(dstIdx);
                EXPECT_EQ((Outcome{st, dst, code, bits, n - len}), want[fixed]) << fixed;
                EXPECT_EQ(idx, start + n);
            }
        }
    }
}

// ---------------------------------------------------------------------------
// Code tables and headers.

std::vector<uint32_t> lens_of(const Codes& c) {
    std::vector<uint32_t> l;
    for (const auto& e : c) l.push_back(e.len);
    return l;
}

double kraft(const Codes& c) {
    double k = 0;
    for (const auto& e : c) k += std::ldexp(1.0, -int(e.len));
    return k;
}

std::vector<uint32_t> builder(const std::vector<uint32_t>& f, int32_t limit, int* r) {
    std::vector<uint32_t> l(f.size());
    *r = vek::deflate::ownGenHuff1(f.data(), l.data(), int32_t(f.size()), limit);
    return l;
}

TEST(DeflateFastestTables, ArgumentChecks) {
    uint32_t ls[286] = {}, ds[30] = {};
    vekDeflateHuffCode lc[286] = {}, dc[30] = {};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(
            veksDeflateLZ77FastestGenHuffTable_8u(k == 0 ? nullptr : ls, k == 1 ? nullptr : ds,
                                                  k == 2 ? nullptr : lc, k == 3 ? nullptr : dc),
            vekStatusNullPtrErr);
    EXPECT_EQ(lc[0].len, 0);
    uint8_t hdr[700];
    uint32_t n = 0, bits = 0;
    for (int k = 0; k < 5; ++k)
        EXPECT_EQ(veksDeflateLZ77FastestGenHeader_8u(k == 0 ? nullptr : lc, k == 1 ? nullptr : dc,
                                                     k == 2 ? nullptr : hdr, k == 3 ? nullptr : &n,
                                                     k == 4 ? nullptr : &bits),
                  vekStatusNullPtrErr);
    EXPECT_EQ(bits, 0u);
}

// Lengths from the length-limited builder (15 for literals, 9 for
// distances), canonical codes from the lengths.
TEST(DeflateFastestTables, CanonicalCodesFromTheBuilderLengths) {
    // All-zero statistics still give complete codes.
    const Stream z = dynamic_stream(std::vector<uint32_t>(286, 0), std::vector<uint32_t>(30, 0));
    const std::vector<uint32_t> zl = lens_of(z.codes.lit), zd = lens_of(z.codes.dist);
    EXPECT_EQ(std::count(zl.begin(), zl.end(), 8u), 226);
    EXPECT_EQ(std::count(zl.begin(), zl.end(), 9u), 60);
    EXPECT_EQ(std::count(zd.begin(), zd.end(), 4u), 2);
    EXPECT_EQ(std::count(zd.begin(), zd.end(), 5u), 28);
    std::mt19937 rng(31);
    for (int iter = 0; iter < int(200 / kSlow); ++iter) {
        std::vector<uint32_t> ls(286), ds(30);
        const uint32_t range = 1u << (rng() % 16);
        for (auto& v : ls) v = iter && rng() % 4 ? rng() % range : 0;
        for (auto& v : ds) v = iter && rng() % 4 ? rng() % range : 0;
        Codes lc(286), dc(30);
        ASSERT_EQ(veksDeflateLZ77FastestGenHuffTable_8u(ls.data(), ds.data(), lc.data(), dc.data()),
                  vekStatusOk);
        int r1, r2;
        const std::vector<uint32_t> ll = builder(ls, 15, &r1), dl = builder(ds, 9, &r2);
        ASSERT_EQ(r1 + r2, 0);
        const Codes wl = canonical(ll), wd = canonical(dl);
        for (size_t i = 0; i < 286; ++i)
            ASSERT_TRUE(lc[i].code == wl[i].code && lc[i].len == wl[i].len);
        for (size_t i = 0; i < 30; ++i)
            ASSERT_TRUE(dc[i].code == wd[i].code && dc[i].len == wd[i].len);
        ASSERT_DOUBLE_EQ(kraft(lc), 1.0);
        ASSERT_DOUBLE_EQ(kraft(dc), 1.0);
    }
}

TEST(DeflateFastestTables, LengthLimitFailures) {
    // Distances: eight doubling counts from 2^22 keep a length of 13 even
    // at the last bias; over the limit of 9 that is a failure.
    std::vector<uint32_t> ls(286, 1), ds(30, 0);
    for (int i = 0; i < 8; ++i) ds[size_t(i)] = 1u << (22 + i);
    Codes lc(286), dc(30);
    EXPECT_EQ(veksDeflateLZ77FastestGenHuffTable_8u(ls.data(), ds.data(), lc.data(), dc.data()),
              vekStatusErr);
    int r;
    const std::vector<uint32_t> dl = builder(ds, 9, &r);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(lens_of(dc), dl);
    const uint32_t longest = *std::max_element(dl.begin(), dl.end());
    EXPECT_TRUE(longest >= 10 && longest <= 15) << longest;
    EXPECT_EQ(lens_of(lc), builder(ls, 15, &r));  // the literal table is written too
    // Literals: doubling counts up to 2^30 stay deeper than 15.
    std::vector<uint32_t> ls2(286, 0), ds2(30, 1);
    for (int i = 0; i < 31; ++i) ls2[size_t(i * 9)] = 1u << i;
    EXPECT_EQ(veksDeflateLZ77FastestGenHuffTable_8u(ls2.data(), ds2.data(), lc.data(), dc.data()),
              vekStatusErr);
    const std::vector<uint32_t> ll = lens_of(lc);
    EXPECT_GT(*std::max_element(ll.begin(), ll.end()), 15u);  // the last attempt, as it is
    EXPECT_DOUBLE_EQ(kraft(lc), 1.0);
}

// Run-length coding of one list, from the steps.
std::vector<ref::RunSymbol> model_rle(const Codes& c) {
    std::vector<ref::RunSymbol> out;
    int prev = -1;  // none yet, or a zero run just ended
    for (size_t i = 0; i < c.size();) {
        const int v = c[i].len;
        size_t run = 1;
        if (v == 0) {
            while (i + run < c.size() && run < 138 && c[i + run].len == 0) ++run;
            if (run >= 11)
                out.push_back({18, int(run) - 11});
            else if (run >= 3)
                out.push_back({17, int(run) - 3});
            else
                out.insert(out.end(), run, ref::RunSymbol{0, 0});
            prev = -1;
        } else if (v != prev) {
            out.push_back({v, 0});
            prev = v;
        } else {
            while (i + run < c.size() && run < 6 && c[i + run].len == v) ++run;
            if (run >= 3)
                out.push_back({16, int(run) - 3});
            else
                out.insert(out.end(), run, ref::RunSymbol{v, 0});
        }
        i += run;
    }
    return out;
}

Bytes model_header(const Codes& lit, const Codes& dist, uint32_t* nbits) {
    static const int order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::vector<ref::RunSymbol> runs = model_rle(lit), d = model_rle(dist);
    runs.insert(runs.end(), d.begin(), d.end());
    std::vector<uint32_t> count(19), used, cl(19);
    for (auto& r : runs) ++count[size_t(r.sym)];
    for (uint32_t v : count)
        if (v) used.push_back(v);
    int r;
    const std::vector<uint32_t> ul = builder(used, 7, &r);
    for (size_t s = 0, j = 0; s < 19; ++s)
        if (count[s]) cl[s] = ul[j++];
    const Codes clc = canonical(cl);
    int kept = 19;
    while (kept > 4 && cl[size_t(order[kept - 1])] == 0) --kept;
    Bits b;
    b.put(1, 1);
    b.put(2, 2);
    b.put(29, 5);
    b.put(29, 5);
    b.put(uint32_t(kept - 4), 4);
    for (int i = 0; i < kept; ++i) b.put(cl[size_t(order[i])], 3);
    for (auto& x : runs) {
        b.put(clc[size_t(x.sym)].code, clc[size_t(x.sym)].len);
        if (x.sym >= 16) b.put(uint32_t(x.extra), x.sym == 16 ? 2 : x.sym == 17 ? 3 : 7);
    }
    *nbits = uint32_t(b.b.size());
    return b.bytes((b.b.size() + 7) / 8);
}

Bytes lib_header(const Codes& lit, const Codes& dist, uint32_t* nbits) {
    Bytes h(800, kGuard);
    uint32_t n = 0;
    EXPECT_EQ(veksDeflateLZ77FastestGenHeader_8u(lit.data(), dist.data(), h.data(), &n, nbits),
              vekStatusOk);
    EXPECT_EQ(n, (*nbits + 7) / 8);
    for (size_t k = n; k < h.size(); ++k) EXPECT_EQ(h[k], kGuard);
    h.resize(n);
    return h;
}

Codes from_lens(const std::vector<int>& spans) {  // (count, length) pairs
    Codes c;
    for (size_t i = 0; i + 1 < spans.size(); i += 2)
        c.insert(c.end(), size_t(spans[i]), {0, uint16_t(spans[i + 1])});
    return c;
}

TEST(DeflateFastestHeader, RunsOfTheEdgeCases) {
    const Codes lit = from_lens({139, 0, 8, 8, 2, 0, 1, 8, 4, 7, 3, 0, 119, 9, 10, 0});
    const Codes dist = from_lens({5, 0, 8, 5, 3, 6, 1, 4, 13, 0});
    ASSERT_EQ(lit.size(), 286u);
    ASSERT_EQ(dist.size(), 30u);
    std::vector<std::pair<int, int>> want = {{18, 127}, {0, 0}, {8, 0}, {16, 3}, {8, 0},  {0, 0},
                                             {0, 0},    {8, 0}, {7, 0}, {16, 0}, {17, 0}, {9, 0}};
    for (int i = 0; i < 19; ++i) want.push_back({16, 3});
    want.insert(want.end(), {{16, 1}, {17, 7}});  // the literal list's last zeros stay in it
    want.insert(want.end(),
                {{17, 2}, {5, 0}, {16, 3}, {5, 0}, {6, 0}, {6, 0}, {6, 0}, {4, 0}, {18, 2}});
    uint32_t bits = 0, mbits = 0;
    const Bytes h = lib_header(lit, dist, &bits);
    EXPECT_EQ(h, model_header(lit, dist, &mbits));
    EXPECT_EQ(bits, mbits);
    ref::BitReader br(h.data(), h.size());
    EXPECT_EQ(br.bits(3), 5u);  // BFINAL 1, BTYPE 2
    ref::DynamicHeader dh;
    ASSERT_TRUE(read_dynamic_header(br, &dh));
    EXPECT_EQ(dh.hlit, 29);
    EXPECT_EQ(dh.hdist, 29);
    std::vector<std::pair<int, int>> got;
    for (auto& r : dh.runs) got.push_back({r.sym, r.extra});
    EXPECT_EQ(got, want);
    EXPECT_EQ(br.pos, bits);

    // A run of exactly 138 zeros is one symbol 18.
    const Codes lit138 = from_lens({138, 0, 148, 8});
    const Bytes h2 = lib_header(lit138, dist, &bits);
    ref::BitReader r2(h2.data(), h2.size());
    r2.bits(3);
    ref::DynamicHeader d2;
    read_dynamic_header(r2, &d2);
    ASSERT_GE(d2.runs.size(), 3u);
    EXPECT_EQ(d2.runs[0].sym, 18);
    EXPECT_EQ(d2.runs[0].extra, 127);
    EXPECT_EQ(d2.runs[1].sym, 8);
}

TEST(DeflateFastestHeader, MatchesTheModelAndReadsBack) {
    std::mt19937 rng(32);
    for (int iter = 0; iter < 300; ++iter) {
        Codes lit(286), dist(30);
        if (iter % 3 == 0) {  // arbitrary length lists, with runs
            for (size_t i = 0; i < 286;) {
                const size_t n = std::min<size_t>(286 - i, 1 + rng() % (rng() % 4 ? 12 : 160));
                const uint16_t l = uint16_t(rng() % 3 ? rng() % 16 : 0);
                for (size_t k = 0; k < n; ++k) lit[i++] = {0, l};
            }
            for (auto& c : dist) c = {0, uint16_t(rng() % 3 ? rng() % 16 : 0)};
            lit[256].len = uint16_t(1 + rng() % 15);
        } else {
            std::vector<uint32_t> ls(286), ds(30);
            for (auto& v : ls) v = rng() % (iter % 3 == 1 ? 3 : 5000);
            for (auto& v : ds) v = rng() % 100;
            veksDeflateLZ77FastestGenHuffTable_8u(ls.data(), ds.data(), lit.data(), dist.data());
        }
        uint32_t bits = 0, mbits = 0;
        const Bytes h = lib_header(lit, dist, &bits);
        ASSERT_EQ(h, model_header(lit, dist, &mbits)) << "iter " << iter;
        ASSERT_EQ(bits, mbits);
        ASSERT_LE(bits, 17u + 19 * 3 + 316 * 14);
        ref::BitReader br(h.data(), h.size());
        ASSERT_EQ(br.bits(3), 5u);
        ref::DynamicHeader dh;
        ASSERT_TRUE(read_dynamic_header(br, &dh)) << "iter " << iter;
        const std::vector<uint32_t> ll = lens_of(lit), dl = lens_of(dist);
        ASSERT_EQ(dh.litLens, std::vector<uint8_t>(ll.begin(), ll.end()));
        ASSERT_EQ(dh.distLens, std::vector<uint8_t>(dl.begin(), dl.end()));
        ASSERT_EQ(br.pos, bits);
        ASSERT_FALSE(ref::CanonicalDecoder(dh.clLens).oversubscribed);
    }
}

TEST(DeflateFastestHeader, AllZeroListsStillSendFourCodeLengthLengths) {
    const Codes lit(286, {0, 0}), dist(30, {0, 0});
    uint32_t bits = 0, mbits = 0;
    const Bytes h = lib_header(lit, dist, &bits);
    EXPECT_EQ(h, model_header(lit, dist, &mbits));
    ref::BitReader br(h.data(), h.size());
    EXPECT_EQ(br.bits(17), 7661u);  // HCLEN 0
}

// ---------------------------------------------------------------------------
// Encoder argument checks and room tests at their boundaries.

struct Args {
    Bytes in = vek::testdata::text_bytes(1000, 41);
    std::vector<int32_t> head = std::vector<int32_t>(4096, -1024);
    Bytes dst = Bytes(4096, kGuard);
    const uint8_t* src = in.data();
    const uint8_t** ppSrc = &src;
    uint32_t srcLen = 1000, srcIdx = 0, winSize = 1024, hashSize = 4096, bits = 3, dstLen = 4096,
             dstIdx = 0;
    uint32_t* pSrcLen = &srcLen;
    uint32_t* pSrcIdx = &srcIdx;
    const uint8_t* window = in.data();
    int32_t* pHead = head.data();
    uint16_t code = 5;
    uint16_t* pCode = &code;
    uint32_t* pBits = &bits;
    uint8_t* pDst = dst.data();
    uint32_t* pDstIdx = &dstIdx;
    Stream s = dynamic_stream(std::vector<uint32_t>(286, 1), std::vector<uint32_t>(30, 1));
    const vekDeflateHuffCode* lit = s.codes.lit.data();
    const vekDeflateHuffCode* dist = s.codes.dist.data();
    const uint8_t* header = s.header.data();
    int32_t headerBits = int32_t(s.headerBits);
    uint32_t flush = 0;

    vekStatus dyn() {
        return veksDeflateLZ77FastestPrecompHeader_8u(
            ppSrc, pSrcLen, pSrcIdx, window, winSize, pHead, hashSize, pCode, pBits, pDst, dstLen,
            pDstIdx, lit, dist, header, headerBits, flush);
    }
    vekStatus fixed() {
        return veksDeflateLZ77Fastest_8u(ppSrc, pSrcLen, pSrcIdx, window, winSize, pHead, hashSize,
                                         pCode, pBits, pDst, dstLen, pDstIdx, flush);
    }
    vekStatus stat(uint32_t* ls, uint32_t* ds) {
        return veksDeflateLZ77FastestGetStat_8u(ppSrc, pSrcLen, pSrcIdx, window, winSize, pHead,
                                                hashSize, ls, ds, flush);
    }
    bool untouched(const uint8_t* srcWant) const {
        return srcLen == 1000 && src == srcWant && code == 5 && bits == 3 &&
               std::all_of(dst.begin(), dst.end(), [](uint8_t b) { return b == kGuard; }) &&
               std::all_of(head.begin(), head.end(), [](int32_t e) { return e == -1024; });
    }
};

// Each pointer alone, or with a bad size, which is checked later; kDyn,
// kFixed and kStat name the functions a case applies to.
enum { kDyn = 1, kFixed = 2, kStat = 4, kAll = 7 };

TEST(DeflateFastestEncoders, ArgumentChecksInOrder) {
    uint32_t ls[286] = {}, ds[30] = {};
    auto check = [&](void (*spoil)(Args&), vekStatus want, int which) {
        for (int f = kDyn; f <= kStat; f <<= 1) {
            if (!(which & f)) continue;
            Args a;
            spoil(a);
            const uint8_t* src = a.src;
            EXPECT_EQ(f == kDyn     ? a.dyn()
                      : f == kFixed ? a.fixed()
                                    : a.stat(ls, ds),
                      want)
                << "function " << f;
            EXPECT_TRUE(a.untouched(src)) << "function " << f;
        }
    };
    check([](Args& a) { a.ppSrc = nullptr, a.winSize = 1; }, vekStatusNullPtrErr, kAll);
    check([](Args& a) { a.pSrcLen = nullptr, a.hashSize = 1; }, vekStatusNullPtrErr, kAll);
    check([](Args& a) { a.pSrcIdx = nullptr; }, vekStatusNullPtrErr, kAll);
    check([](Args& a) { a.window = nullptr; }, vekStatusNullPtrErr, kAll);
    check([](Args& a) { a.pHead = nullptr; }, vekStatusNullPtrErr, kAll);
    check([](Args& a) { a.pCode = nullptr; }, vekStatusNullPtrErr, kDyn | kFixed);
    check([](Args& a) { a.pBits = nullptr; }, vekStatusNullPtrErr, kDyn | kFixed);
    check([](Args& a) { a.pDst = nullptr; }, vekStatusNullPtrErr, kDyn | kFixed);
    check([](Args& a) { a.pDstIdx = nullptr, a.dstLen = 0; }, vekStatusNullPtrErr, kDyn | kFixed);
    check([](Args& a) { a.src = nullptr, a.hashSize = 1; }, vekStatusNullPtrErr, kAll);
    // One code table missing: an error, not the fixed codes.
    check([](Args& a) { a.lit = nullptr, a.winSize = 1; }, vekStatusNullPtrErr, kDyn);
    check([](Args& a) { a.dist = nullptr, a.headerBits = 0; }, vekStatusNullPtrErr, kDyn);
    check([](Args& a) { a.winSize = 255, a.header = nullptr; }, vekStatusSizeErr, kAll);
    check([](Args& a) { a.winSize = 32769; }, vekStatusSizeErr, kAll);
    check([](Args& a) { a.hashSize = 255, a.headerBits = 0; }, vekStatusSizeErr, kAll);
    check([](Args& a) { a.hashSize = 65537; }, vekStatusSizeErr, kAll);
    check([](Args& a) { a.dstIdx = a.dstLen, a.header = nullptr; }, vekStatusSizeErr,
          kDyn | kFixed);
    check([](Args& a) { a.dstIdx = 5000; }, vekStatusSizeErr, kDyn | kFixed);
    check([](Args& a) { a.headerBits = 0, a.srcIdx = 7; }, vekStatusSizeErr, kDyn);
    check([](Args& a) { a.headerBits = -3; }, vekStatusSizeErr, kDyn);
    check([](Args& a) { a.header = nullptr; }, vekStatusNullPtrErr, kDyn);
    // The statistics tables come last.
    {
        Args a;
        EXPECT_EQ(a.stat(nullptr, ds), vekStatusNullPtrErr);
        EXPECT_EQ(a.stat(ls, nullptr), vekStatusNullPtrErr);
        a.winSize = 1;
        EXPECT_EQ(a.stat(nullptr, ds), vekStatusNullPtrErr);
        EXPECT_TRUE(a.untouched(a.in.data()));
        std::vector<int32_t> big(65536, -32768);
        a.winSize = 32768, a.hashSize = 65536, a.pHead = big.data();
        EXPECT_EQ(a.stat(ls, ds), vekStatusOk);
        a.winSize = 256, a.hashSize = 256;
        EXPECT_EQ(a.stat(ls, ds), vekStatusOk);
    }
    // Both code tables null: the fixed-code encoder, header ignored.
    {
        Args a, f;
        a.lit = a.dist = nullptr, a.header = nullptr, a.headerBits = -1, a.code = f.code = 3;
        EXPECT_EQ(a.dyn(), vekStatusOk);
        EXPECT_EQ(f.fixed(), vekStatusOk);
        EXPECT_EQ(a.dst, f.dst);
        EXPECT_EQ(a.srcLen, f.srcLen);
        EXPECT_LT(a.srcLen, 1000u);
        Args g;
        g.lit = g.dist = nullptr, g.ppSrc = nullptr;
        EXPECT_EQ(g.dyn(), vekStatusNullPtrErr);
        g.ppSrc = &g.src, g.dstIdx = g.dstLen;
        EXPECT_EQ(g.dyn(), vekStatusSizeErr);
    }
    // No header once the stream has started.
    Args c;
    c.header = nullptr, c.srcIdx = 5000, c.window = c.in.data() + 500;
    EXPECT_EQ(c.dyn(), vekStatusOk);
}

// One call of the dynamic encoder on a fresh stream, against the model.
Outcome dyn_call(const Bytes& in, uint32_t srcIdx, uint32_t srcLen, uint32_t dstIdx,
                 uint32_t dstLen, uint32_t flush, const Stream& s, bool header = true,
                 bool fixed = false, uint32_t codeBits = 3) {
    std::vector<int32_t> head(1024, -4096), mhead = head;
    const Lib lib{in, 4096, 1024, head};
    const Model m{in, 4096, 1024, mhead};
    const Call c{srcIdx, srcLen, uint16_t(fixed ? 3 : 5), codeBits, dstIdx, dstLen, flush};
    const CodeSet* dyn = fixed ? nullptr : &s.codes;
    const Bytes* hdr = header && !fixed ? &s.header : nullptr;
    const Outcome got = lib.encode(c, dyn, hdr, int32_t(s.headerBits));
    EXPECT_EQ(got, model_encode(m, c, dyn, hdr, int32_t(s.headerBits)));
    EXPECT_EQ(head, mhead);
    if (got.st != vekStatusOk) {
        EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](int32_t e) { return e == -4096; }));
    }
    return got;
}

TEST(DeflateFastestEncoders, HeaderRoomAtItsBoundary) {
    const Bytes in = vek::testdata::text_bytes(2000, 42);
    const Stream s = dynamic_stream_for(in, 4096, 1024);
    for (uint32_t pend : {0u, 3u, 9u}) {
        // (pending + header bits - 3) / 8 + 1 bytes from *pDstIdx on.
        const uint32_t need = (pend + s.headerBits - 3) / 8 + 1;
        for (uint32_t idx : {0u, 13u}) {
            EXPECT_EQ(dyn_call(in, 0, 2000, idx, idx + need - 1, 0, s, true, false, pend).st,
                      vekStatusSizeErr);
            const Outcome ok = dyn_call(in, 0, 2000, idx, idx + need, 0, s, true, false, pend);
            EXPECT_EQ(ok.st, vekStatusOk);
            EXPECT_EQ(ok.consumed, 0u);
            EXPECT_EQ(ok.out.size() * 8 + ok.bits, pend + s.headerBits - 3);
        }
    }
}

TEST(DeflateFastestEncoders, ShortFirstBlockRoom) {
    const Bytes in = vek::testdata::text_bytes(258, 43);
    const Stream s = dynamic_stream_for(in, 4096, 1024);
    // The header's whole bytes, then *pDstIdx + 8 must not exceed dstLen - 8.
    const uint32_t placed = s.headerBits / 8;
    for (uint32_t idx : {0u, 21u}) {
        EXPECT_EQ(dyn_call(in, 0, 258, idx, idx + placed + 15, 0, s).st, vekStatusSizeErr);
        const Outcome ok = dyn_call(in, 0, 258, idx, idx + placed + 16, 0, s);
        EXPECT_EQ(ok.st, vekStatusOk);
        EXPECT_EQ(ok.consumed, 1u);  // one literal, flush or not
    }
    // Later calls of a short stream: the same test without a header.
    EXPECT_EQ(dyn_call(in, 1, 100, 30, 45, 0, s).st, vekStatusSizeErr);
    EXPECT_EQ(dyn_call(in, 1, 100, 30, 46, 0, s).consumed, 1u);
    EXPECT_EQ(dyn_call(in, 1, 257, 30, 46, 0, s).consumed, 1u);
    const Outcome tail = dyn_call(in, 1, 257, 30, 46, 2, s);  // then byte by byte while items fit
    EXPECT_GT(tail.consumed, 1u);
    EXPECT_LT(tail.consumed, 257u);
    EXPECT_EQ(tail.out.size(), 16u);
    // Past 258 bytes, or below 8 bytes of destination, there is none.
    EXPECT_EQ(dyn_call(in, 2, 257, 0, 4000, 0, s).consumed, 0u);
    EXPECT_EQ(dyn_call(in, 1, 20, 0, 7, 0, s).consumed, 0u);
    EXPECT_EQ(dyn_call(in, 1, 20, 0, 7, 0, s).st, vekStatusOk);
    // No header pointer, or the fixed codes: none either.
    EXPECT_EQ(dyn_call(in, 1, 100, 0, 4000, 0, s, false).consumed, 0u);
    EXPECT_EQ(dyn_call(in, 0, 100, 0, 4000, 0, s, false, true).consumed, 0u);
}

TEST(DeflateFastestEncoders, EveryRoomSizeMatchesTheModel) {
    // Every stopping point: the main loop's margin of more than 8 bytes, the
    // flush tail's items and the final literals, each with the room ending on
    // it exactly.
    // Skewed literal codes (1 to 15 bits) make a later literal fit where an
    // earlier one did not.
    std::mt19937 rng(45);
    Bytes in = vek::testdata::text_bytes(1200, 46);
    for (size_t i = 900; i < in.size(); ++i) in[i] = uint8_t(rng() % 3 ? 'e' : rng());
    std::vector<uint32_t> ls(286, 0), ds(30, 1);
    for (int i = 0; i < 256; ++i) ls[size_t(i)] = 1u << (i % 16);
    ls['e'] = 1u << 20;
    const Stream s = dynamic_stream(ls, ds);
    for (bool fixed : {false, true}) {
        for (uint32_t srcLen : {3u, 5u, 40u, 280u, 300u}) {
            for (uint32_t flush : {0u, 2u}) {
                for (uint32_t room = 1 + rng() % kSlow; room <= srcLen * 2 + 20; room += kSlow) {
                    const uint32_t pend = rng() % 17;
                    const Outcome o = dyn_call(in, 1200 - srcLen, srcLen, 3, 3 + room, flush, s,
                                               false, fixed, pend);
                    ASSERT_EQ(o.st, vekStatusOk);
                    ASSERT_LE(o.out.size(), room);
                }
            }
        }
    }
}

// Code lengths above 16 and more than 16 pending bits, which the caller
// should never pass, act as 16: no accumulator shift runs past its width and
// the room margins still hold (guard bytes after dstLen).
TEST(DeflateFastestEncoders, CountsAndLengthsAbove16ActAs16) {
    std::mt19937 rng(47);
    const Bytes in = vek::testdata::text_bytes(6000, 48);
    const Stream s = dynamic_stream_for(in, 4096, 4096);
    CodeSet clamped;
    const CodeSet wide = vek::testsupport::widened(s.codes, rng, &clamped);
    for (uint32_t room : {60u, 3000u, 40000u}) {
        for (uint32_t flush : {0u, 2u}) {
            const Call c{1000, 5000, 0xBEEF, 40, 5, 5 + room, flush};
            std::vector<int32_t> head(4096, -4096), mhead = head;
            const Outcome got = Lib{in, 4096, 4096, head}.encode(c, &wide, nullptr, 0);
            const Outcome want =
                model_encode(Model{in, 4096, 4096, mhead}, c, &clamped, nullptr, 0);
            EXPECT_EQ(got, want) << room << " " << flush;
        }
    }
}

// Rebasing when srcIdx + srcLen + winSize >= 0x7FFFFFFF - srcLen (as 32-bit
// unsigned numbers) and srcIdx > winSize: the head table moves down and the
// position restarts at winSize. Stale entries stay unusable either way, so
// the bytes equal those of the same input at low positions.
TEST(DeflateFastestEncoders, RebaseStartsAtItsThreshold) {
    const uint32_t winSize = 1024, n = 3000, top = 0x7FFFFFFFu - 2 * n - winSize;
    const Bytes in = vek::testdata::text_bytes(n, 47);
    const Stream s = dynamic_stream_for(in, winSize, 4096);
    for (bool fixed : {true, false}) {
        Bytes low;
        for (uint32_t start : {winSize + 1, top, top - 1}) {
            std::vector<int32_t> head(4096);
            for (size_t k = 0; k < head.size(); ++k) head[k] = k % 2 ? 0x7FFF0000 : INT32_MIN;
            const uint8_t* src = in.data();
            uint32_t len = n, idx = start, bits = 0, dstIdx = 0;
            uint16_t code = 0;
            Bytes dst(8000);
            const vekStatus st =
                fixed ? veksDeflateLZ77Fastest_8u(&src, &len, &idx, src, winSize, head.data(), 4096,
                                                  &code, &bits, dst.data(), 8000, &dstIdx, 2)
                      : veksDeflateLZ77FastestPrecompHeader_8u(
                            &src, &len, &idx, src, winSize, head.data(), 4096, &code, &bits,
                            dst.data(), 8000, &dstIdx, s.codes.lit.data(), s.codes.dist.data(),
                            nullptr, 0, 2);
            ASSERT_EQ(st, vekStatusOk);
            ASSERT_EQ(len, 0u);
            dst.resize(dstIdx);
            dst.push_back(uint8_t(code));
            if (start == winSize + 1) low = dst;
            EXPECT_EQ(dst, low) << start;
            EXPECT_EQ(idx, (start == top ? winSize : start) + n) << start;
            if (start != top) continue;
            // Entries were 0x7FFF0000 - shift or -32768, then some were
            // replaced by new positions below winSize + n.
            for (int32_t e : head)
                EXPECT_TRUE(e == -32768 || (e > 0 && e < int32_t(winSize + n)) ||
                            e == 0x7FFF0000 - int32_t(top - winSize));
        }
    }
}

}  // namespace
