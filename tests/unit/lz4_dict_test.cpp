// LZ4 history encoders: argument order with the table bounding first,
// prefix and dictionary modes against the plain model, streams of blocks
// sharing one table, and round trips through the dictionary decoder.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <vector>

#include "lz4_encoder_model.h"
#include "lz4_reference.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::testref::Lz4History;

struct Table {
    alignas(64) int32_t e[4096];
    uint8_t* t() { return reinterpret_cast<uint8_t*>(e); }
};

TEST(Lz4Dict, ArgumentChecksAndTableBounding) {
    Table tab;
    Bytes src(200, 'a'), dst(400), dict(50, 'd');
    int32_t dl = 400, sl = 200;
    EXPECT_EQ(veksEncodeLZ4DictHashTableInit_8u(nullptr, 1), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4DictHashTableInit_8u(tab.t(), 0), vekStatusSizeErr);
    EXPECT_EQ(veksEncodeLZ4LoadDict_8u(nullptr, dict.data(), 50), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4LoadDict_8u(tab.t(), nullptr, 50), vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4LoadDict_8u(tab.t(), dict.data(), 0), vekStatusSizeErr);

    // srcIdx -1 clears the table, then is rejected.
    for (auto& v : tab.e) v = 12345;
    EXPECT_EQ(veksEncodeLZ4Dict_8u(src.data(), -1, 200, dst.data(), &dl, tab.t(), dict.data(), 50),
              vekStatusBadArgErr);
    EXPECT_EQ(tab.e[77], 0);
    for (auto& v : tab.e) v = 12345;
    EXPECT_EQ(veksEncodeLZ4Dict_8u(src.data(), -1, 200, dst.data(), &dl, tab.t(), nullptr, 0),
              vekStatusBadArgErr);
    EXPECT_EQ(tab.e[4095], 0);
    // Bounding happens before the other checks: srcIdx - 1 for the unchecked
    // encoder, srcIdx for the checked one.
    for (auto& v : tab.e) v = 12345;
    EXPECT_EQ(veksEncodeLZ4Dict_8u(nullptr, 100, 200, dst.data(), &dl, tab.t(), dict.data(), 50),
              vekStatusNullPtrErr);
    EXPECT_EQ(tab.e[0], 99);
    for (auto& v : tab.e) v = 12345;
    EXPECT_EQ(veksEncodeLZ4DictSafe_8u(src.data(), 100, nullptr, dst.data(), &dl, tab.t(),
                                       dict.data(), 50),
              vekStatusNullPtrErr);
    EXPECT_EQ(tab.e[0], 100);
    EXPECT_EQ(veksEncodeLZ4Dict_8u(src.data(), 10, 200, dst.data(), &dl, nullptr, dict.data(), 50),
              vekStatusNullPtrErr);
    EXPECT_EQ(veksEncodeLZ4Dict_8u(src.data(), 10, 200, dst.data(), &dl, tab.t(), dict.data(), -1),
              vekStatusSizeErr);
    EXPECT_EQ(veksEncodeLZ4Dict_8u(src.data(), 10, 0, dst.data(), &dl, tab.t(), dict.data(), 50),
              vekStatusSizeErr);
    EXPECT_EQ(veksEncodeLZ4Dict_8u(src.data(), 10, 0, dst.data(), &dl, tab.t(), nullptr, 0),
              vekStatusSizeErr);
    dl = 0;
    EXPECT_EQ(
        veksEncodeLZ4DictSafe_8u(src.data(), 10, &sl, dst.data(), &dl, tab.t(), dict.data(), 50),
        vekStatusSizeErr);
}

TEST(Lz4Dict, LoadDictRecordsEveryThirdPositionWithEightBytesLeft) {
    Table tab;
    const Bytes d9 = vek::testdata::random_bytes(9, 1);
    std::memset(tab.e, 0xFF, sizeof tab.e);
    ASSERT_EQ(veksEncodeLZ4LoadDict_8u(tab.t(), d9.data(), 9), vekStatusOk);
    int recorded = 0;
    for (int32_t v : tab.e) recorded += v != -1;
    EXPECT_EQ(recorded, 1);  // position 0 only
    std::memset(tab.e, 0xFF, sizeof tab.e);
    ASSERT_EQ(veksEncodeLZ4LoadDict_8u(tab.t(), d9.data(), 8), vekStatusOk);
    for (int32_t v : tab.e) ASSERT_EQ(v, -1);
    const Bytes d100 = vek::testdata::random_bytes(100, 2);
    std::memset(tab.e, 0xFF, sizeof tab.e);
    ASSERT_EQ(veksEncodeLZ4LoadDict_8u(tab.t(), d100.data(), 100), vekStatusOk);
    for (int32_t v : tab.e) ASSERT_TRUE(v == -1 || (v % 3 == 0 && v <= 91));
}

// The model's history: a separate dictionary when dict is set, else the
// bytes before the source.
Lz4History history(const uint8_t* dict, int32_t dictLen, int32_t srcIdx,
                   std::vector<int32_t>* table) {
    Lz4History h;
    h.kind = dict ? Lz4History::kDict : Lz4History::kPrefix;
    h.srcIdx = srcIdx;
    h.dict = dict;
    h.dictLen = dictLen;
    h.table = table;
    return h;
}

// Encodes `blocks` of src one after another on one table; `dict` (may be
// empty) is loaded first. Separate: the dictionary is its own buffer;
// otherwise everything sits in one buffer (dictionary then source).
struct StreamResult {
    std::vector<Bytes> ours, model;
};

StreamResult encode_stream(const Bytes& dict, const Bytes& src, size_t blockSize, bool separate,
                           bool checked) {
    Bytes all(dict);
    all.insert(all.end(), src.begin(), src.end());
    Table tab;
    std::vector<int32_t> modelTable(4096, 0);
    veksEncodeLZ4DictHashTableInit_8u(tab.t(), 1);
    if (!dict.empty()) {
        veksEncodeLZ4LoadDict_8u(tab.t(), dict.data(), int32_t(dict.size()));
        for (int32_t k = 0; int32_t(dict.size()) - k > 8; k += 3)
            modelTable[vek::testref::lz4model::hash(dict.data() + k, 0xFFF)] = k;
    }
    StreamResult r;
    for (size_t pos = 0; pos < src.size(); pos += blockSize) {
        const int32_t n = int32_t(std::min(blockSize, src.size() - pos));
        const int32_t srcIdx = int32_t(dict.size() + pos);
        const uint8_t* p = all.data() + dict.size() + pos;
        Bytes dst(n + n / 255 + 64);
        int32_t dl = int32_t(dst.size()), sl = n;
        // Separate dictionary mode needs the dictionary elsewhere in memory.
        const Bytes dictCopy(dict);
        const uint8_t* dptr = separate && !dict.empty() ? dictCopy.data() : nullptr;
        const int32_t dlen = separate ? int32_t(dict.size()) : 0;
        vekStatus st =
            checked ? veksEncodeLZ4DictSafe_8u(p, srcIdx, &sl, dst.data(), &dl, tab.t(), dptr, dlen)
                    : veksEncodeLZ4Dict_8u(p, srcIdx, n, dst.data(), &dl, tab.t(), dptr, dlen);
        EXPECT_EQ(st, vekStatusOk);
        dst.resize(dl);
        r.ours.push_back(dst);

        for (auto& v : modelTable)
            if (srcIdx < 1)
                v = 0;
            else if (v > srcIdx - (checked ? 0 : 1))
                v = srcIdx - (checked ? 0 : 1);
        Lz4History h = history(dptr, dlen, srcIdx, &modelTable);
        h.prefixUnchecked = !dptr && !checked;
        int32_t covered = 0;
        r.model.push_back(vek::testref::lz4_model_encode(
            p, n, checked ? int32_t(dst.size()) + 1000 : -1, &covered, h));
    }
    return r;
}

TEST(Lz4Dict, StreamsEqualThePlainModel) {
    using namespace vek::testdata;
    const Bytes dict = text_bytes(20000, 3);
    for (const Bytes& src :
         {text_bytes(300000, 4), runs_bytes(200000, 5), random_bytes(100000, 6)}) {
        for (bool separate : {false, true})
            for (bool checked : {false, true})
                for (size_t bs : {size_t(4096), size_t(65536), size_t(100000)}) {
                    for (const Bytes& d : {dict, Bytes()}) {
                        if (separate && d.empty()) continue;
                        const StreamResult r = encode_stream(d, src, bs, separate, checked);
                        ASSERT_EQ(r.ours.size(), r.model.size());
                        for (size_t i = 0; i < r.ours.size(); ++i)
                            ASSERT_EQ(r.ours[i], r.model[i])
                                << "block " << i << " separate " << separate << " checked "
                                << checked << " bs " << bs;
                    }
                }
    }
}

// Decoding a stream: the dictionary decoder with the dictionary's addresses
// at the start of one output buffer.
TEST(Lz4Dict, StreamsRoundTripThroughTheDictionaryDecoder) {
    using namespace vek::testdata;
    const Bytes dict = text_bytes(30000, 7);
    const Bytes src = text_bytes(500000, 8);
    for (bool separate : {false, true}) {
        const size_t bs = 65536;
        const StreamResult r = encode_stream(dict, src, bs, separate, false);
        Bytes out(dict.size() + src.size());
        for (size_t i = 0; i < r.ours.size(); ++i) {
            const int32_t n = int32_t(std::min(bs, src.size() - i * bs));
            int32_t sl = int32_t(r.ours[i].size()), dl = n;
            ASSERT_EQ(veksDecodeLZ4Dict_8u(r.ours[i].data(), &sl, out.data(),
                                           int32_t(dict.size() + i * bs), &dl, dict.data(),
                                           int32_t(dict.size())),
                      vekStatusOk);
            ASSERT_EQ(dl, n);
        }
        EXPECT_EQ(Bytes(out.begin() + dict.size(), out.end()), src);
    }
}

TEST(Lz4Dict, NullAndContiguousDictionariesArePrefixMode) {
    const Bytes all = vek::testdata::text_bytes(50000, 9);
    const int32_t idx = 20000, n = 30000;
    Table t1, t2;
    for (Table* t : {&t1, &t2}) veksEncodeLZ4DictHashTableInit_8u(t->t(), 1);
    Bytes a(n + 500), b(n + 500);
    int32_t la = 0, lb = 0;
    ASSERT_EQ(veksEncodeLZ4Dict_8u(all.data() + idx, idx, n, a.data(), &la, t1.t(), nullptr, 0),
              vekStatusOk);
    ASSERT_EQ(
        veksEncodeLZ4Dict_8u(all.data() + idx, idx, n, b.data(), &lb, t2.t(), all.data(), idx),
        vekStatusOk);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + la), Bytes(b.begin(), b.begin() + lb));
}

// The checked history encoders under every tight capacity: the room test
// and the shortened last literals as for the block encoder, with
// candidates in the dictionary or the prefix.
TEST(Lz4Dict, CheckedEncodersAtTightCapacities) {
    using namespace vek::testdata;
    const Bytes dict = text_bytes(4000, 31);
    Bytes all(dict);
    const Bytes src = text_bytes(3000, 32);
    all.insert(all.end(), src.begin(), src.end());
    const int32_t dl = int32_t(dict.size()), n = int32_t(src.size());
    const uint8_t* p = all.data() + dl;
    for (bool separate : {false, true}) {
        const uint8_t* dptr = separate ? dict.data() : nullptr;
        const int32_t dlen = separate ? dl : 0;
        std::vector<int32_t> start(4096, 0);
        for (int32_t k = 0; dl - k > 8; k += 3)
            start[vek::testref::lz4model::hash(dict.data() + k, 0xFFF)] = k;
        for (auto& v : start) v = v > dl ? dl : v;  // the checked bounding
        for (int32_t cap = 1; cap < n; cap += cap < 64 ? 1 : 7) {
            Table tab;
            std::memcpy(tab.e, start.data(), sizeof tab.e);
            std::vector<int32_t> modelTable(start);
            Bytes dst(cap + 8, 0xEE);
            int32_t sl = n, len = cap;
            const vekStatus st =
                veksEncodeLZ4DictSafe_8u(p, dl, &sl, dst.data(), &len, tab.t(), dptr, dlen);
            const Lz4History h = history(dptr, dlen, dl, &modelTable);
            int32_t covered = 0;
            const Bytes want = vek::testref::lz4_model_encode(p, n, cap, &covered, h);
            ASSERT_EQ(Bytes(dst.begin(), dst.begin() + len), want) << separate << " " << cap;
            ASSERT_EQ(sl, covered);
            ASSERT_EQ(st, covered == n ? vekStatusOk : vekStatusDstTooSmall);
            for (int32_t k = cap; k < cap + 8; ++k) ASSERT_EQ(dst[k], 0xEE);
        }
    }
}

// Histories so long that the source would pass INT32_MAX: every encoder
// still writes a block that decodes with the dictionary, and reads nothing
// outside its buffers (the sanitizer build checks). The tables hold entries
// of an earlier block just below the limit.
TEST(Lz4Dict, HistoriesReachingTheLargestPosition) {
    using vek::testdata::text_bytes;
    const Bytes dict = text_bytes(3000, 21), first = text_bytes(2000, 22);
    Bytes src = text_bytes(5000, 23);
    std::memcpy(&src[1000], &dict[500], 700);  // worth finding in the dictionary
    const int32_t dl = int32_t(dict.size()), n = int32_t(src.size());
    auto decodes = [&](const Bytes& block, int32_t len) {
        Bytes out(dict.size() + src.size());
        const vek::testref::Lz4Result r = vek::testref::lz4_reference_decode(
            block.data(), len, out.data(), dl, n, dict.data(), dl);
        EXPECT_EQ(r.status, vekStatusOk);
        EXPECT_EQ(r.dstLen, n);
        return Bytes(out.begin() + dl, out.end()) == src;
    };
    for (int32_t idx : {INT32_MAX - 3000, INT32_MAX - 1, INT32_MAX}) {
        for (int variant = 0; variant < 3; ++variant) {
            Table tab;
            alignas(64) static int32_t head[32768], chain[65536];
            uint8_t* hc[2] = {reinterpret_cast<uint8_t*>(head), reinterpret_cast<uint8_t*>(chain)};
            veksEncodeLZ4DictHashTableInit_8u(tab.t(), 1);
            veksEncodeLZ4HCHashTableInit_8u(hc);
            Bytes block(n + n / 255 + 64);
            int32_t sl = int32_t(first.size()), len = int32_t(block.size());
            const int32_t before = INT32_MAX - 2 * int32_t(first.size());
            // The earlier block, in the representable range.
            if (variant == 2) {
                ASSERT_EQ(veksEncodeLZ4HC_8u(first.data(), before, &sl, block.data(), &len, hc,
                                             dict.data(), dl, 9),
                          vekStatusOk);
            } else {
                ASSERT_EQ(veksEncodeLZ4Dict_8u(first.data(), before, sl, block.data(), &len,
                                               tab.t(), dict.data(), dl),
                          vekStatusOk);
            }
            sl = n;
            len = int32_t(block.size());
            vekStatus st;
            if (variant == 0)
                st = veksEncodeLZ4Dict_8u(src.data(), idx, n, block.data(), &len, tab.t(),
                                          dict.data(), dl);
            else if (variant == 1)
                st = veksEncodeLZ4DictSafe_8u(src.data(), idx, &sl, block.data(), &len, tab.t(),
                                              dict.data(), dl);
            else
                st = veksEncodeLZ4HC_8u(src.data(), idx, &sl, block.data(), &len, hc, dict.data(),
                                        dl, 9);
            ASSERT_EQ(st, vekStatusOk) << idx << " " << variant;
            EXPECT_EQ(sl, n);
            EXPECT_LT(len, n - 500) << idx << " " << variant;  // matches were found
            EXPECT_TRUE(decodes(block, len)) << idx << " " << variant;
        }
    }
}

}  // namespace
