// High-compression LZ4 encoder against the plain model of its rules
// (lz4_hc_model.h): every block must equal the model's byte for byte, over
// streams of several blocks on one pair of tables in prefix and dictionary
// mode, every level, and inputs built to reach every branch of the parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lz4_hc_model.h"
#include "test_data.h"
#include "vekdc.h"

namespace {

using Bytes = std::vector<uint8_t>;
using vek::testref::Lz4HcModel;

const int32_t kLevels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 12, -3};

// The sanitizer build runs without optimisation: every other level there.
constexpr size_t kLevelStep = vek::testdata::kSanitized ? 2 : 1;

// ---------------------------------------------------------------- inputs

// Stretches copied from earlier in the input with a few bytes changed, mixed
// with fresh bytes of a small alphabet: many overlapping candidates of every
// length, at short, middle and long distances.
Bytes edited_copies(size_t n, uint32_t seed, uint32_t alphabet) {
    std::mt19937 rng(seed);
    Bytes v;
    v.reserve(n + 300);
    while (v.size() < n) {
        const uint32_t r = rng() % 10;
        if (v.size() < 16 || r == 0) {
            for (uint32_t k = 1 + rng() % 12; k > 0; --k)
                v.push_back(static_cast<uint8_t>('a' + rng() % alphabet));
            continue;
        }
        const size_t reach = r < 4 ? 24 : r < 8 ? 700 : 65534;
        const size_t d = 1 + rng() % std::min(v.size(), reach);
        const size_t len = 3 + rng() % (r % 2 ? 14 : 90);
        const uint32_t edit = 8 + rng() % 40;
        for (size_t k = 0; k < len; ++k) {
            const uint8_t b = v[v.size() - d];
            v.push_back(rng() % edit == 0 ? static_cast<uint8_t>('a' + rng() % alphabet) : b);
        }
    }
    v.resize(n);
    return v;
}

// Random bytes with copies of earlier stretches placed at distances around
// the 65534 limit, and a few nearer ones.
Bytes far_copies(size_t n, uint32_t seed) {
    static const size_t kDist[] = {65532, 65533, 65534, 65535, 65536, 65537, 65600, 64000, 300};
    Bytes v = vek::testdata::random_bytes(n, seed);
    std::mt19937 rng(seed ^ 0x5151u);
    for (size_t p = 65600; p + 64 < n; p += 40 + rng() % 900) {
        const size_t d = kDist[rng() % 9];
        const size_t len = 4 + rng() % 40;
        for (size_t k = 0; k < len; ++k) v[p + k] = v[p + k - d];
    }
    return v;
}

// A few short phrases repeated with shifted starts and changed bytes: the
// second and third matches often begin inside the first.
Bytes phrase_mosaic(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes base = edited_copies(96, seed + 1, 3);
    Bytes v;
    while (v.size() < n) {
        const size_t from = rng() % 64, len = 4 + rng() % 32;
        v.insert(v.end(), base.begin() + static_cast<std::ptrdiff_t>(from),
                 base.begin() + static_cast<std::ptrdiff_t>(from + len));
        if (rng() % 3 == 0) v.push_back(static_cast<uint8_t>('a' + rng() % 3));
        if (rng() % 5 == 0) base[rng() % base.size()] = static_cast<uint8_t>('a' + rng() % 3);
    }
    v.resize(n);
    return v;
}

Bytes make_input(int kind, size_t n, uint32_t seed) {
    static const uint32_t kAlphabet[] = {2, 4, 0, 0, 0, 0, 16, 3};
    if (kind == 2) return phrase_mosaic(n, seed);
    if (kind == 3) return vek::testdata::text_bytes(n, seed);
    if (kind == 4) return vek::testdata::runs_bytes(n, seed);
    if (kind == 5) return vek::testdata::random_bytes(n, seed);
    return edited_copies(n, seed, kAlphabet[kind]);
}
const char* const kKindNames[] = {"copies/2", "copies/4", "mosaic",    "text",
                                  "runs",     "random",   "copies/16", "copies/3"};

// Block lengths that add up to `total`: a mix of tiny blocks (14 bytes and
// around the smallest searchable length) and larger ones.
std::vector<size_t> split(size_t total, uint32_t seed) {
    static const size_t kTiny[] = {14, 15, 16, 17, 18, 20, 25, 31};
    std::mt19937 rng(seed);
    std::vector<size_t> lens;
    size_t left = total;
    while (left > 0) {
        const uint32_t r = rng() % 6;
        size_t len = r == 0 ? kTiny[rng() % 8] : r < 3 ? 32 + rng() % 400 : 400 + rng() % 9000;
        if (len > left || left - len < 14) len = left;
        lens.push_back(len);
        left -= len;
    }
    return lens;
}

// ---------------------------------------------------------------- harness

struct LibTables {
    std::vector<int32_t> head, chain;
    uint8_t* ptr[2];
    LibTables() {
        int32_t h = 0, c = 0;
        EXPECT_EQ(veksEncodeLZ4HCHashTableGetSize_8u(&h, &c), vekStatusOk);
        head.assign(static_cast<size_t>(h) / 4, 0x3C3C3C3C);
        chain.assign(static_cast<size_t>(c) / 4, 0x3C3C3C3C);
        ptr[0] = reinterpret_cast<uint8_t*>(head.data());
        ptr[1] = reinterpret_cast<uint8_t*>(chain.data());
        EXPECT_EQ(veksEncodeLZ4HCHashTableInit_8u(ptr), vekStatusOk);
    }
};

// Difference between two blocks, or "" when equal.
std::string compare(const Bytes& got, const Bytes& want) {
    const size_t common = std::min(got.size(), want.size());
    size_t i = 0;
    while (i < common && got[i] == want[i]) ++i;
    if (i == common && got.size() == want.size()) return "";
    return "block differs from the model at byte " + std::to_string(i) + " (library " +
           std::to_string(got.size()) + " bytes, model " + std::to_string(want.size()) + ")";
}

// One stream: the library's tables and the model's, side by side.
struct Stream {
    LibTables lib;
    Lz4HcModel model;
    std::string name;
    int calls = 0;

    explicit Stream(std::string n) : name(std::move(n)) {}

    // One library call, then the model's block for the same positions.
    // mem holds position x at mem[x] for lowest <= x < srcIdx + n.
    void call(const uint8_t* src, int32_t srcIdx, int32_t n, const uint8_t* dict, int32_t dictLen,
              const uint8_t* mem, int32_t lowest, bool dictMode, int32_t level) {
        if (::testing::Test::HasFatalFailure()) return;
        ++calls;
        Bytes got(static_cast<size_t>(n) + static_cast<size_t>(n) / 128 + 64);
        int32_t sl = n, dl = static_cast<int32_t>(got.size());
        const vekStatus st =
            veksEncodeLZ4HC_8u(src, srcIdx, &sl, got.data(), &dl, lib.ptr, dict, dictLen, level);
        const std::string where = name + ", call " + std::to_string(calls) + " (srcIdx " +
                                  std::to_string(srcIdx) + ", " + std::to_string(n) +
                                  " bytes, level " + std::to_string(level) + ")";
        ASSERT_EQ(st, vekStatusOk) << where;
        ASSERT_EQ(sl, n) << where;
        got.resize(static_cast<size_t>(dl));
        const Bytes want = model.encode(mem, srcIdx, n, lowest, dictMode, level);
        ASSERT_FALSE(model.readFault) << where << ": the model needed a byte outside the history";
        ASSERT_FALSE(model.sequenceFault) << where << ": the parse produced an invalid sequence";
        ASSERT_EQ(compare(got, want), "") << where;
    }
};

// Prefix mode: all blocks one after the other in one buffer of exactly the
// stream's size. Every other call names the history as an adjacent
// dictionary with dictLen = srcIdx, which also selects prefix mode.
void prefix_stream(const Bytes& data, const std::vector<size_t>& lens,
                   const std::vector<int32_t>& levels, const std::string& name) {
    Stream s("prefix " + name);
    size_t off = 0;
    for (size_t i = 0; i < lens.size(); ++i) {
        const int32_t idx = static_cast<int32_t>(off), n = static_cast<int32_t>(lens[i]);
        const bool adjacent = i % 2 == 1;
        s.call(data.data() + off, idx, n, adjacent ? data.data() : nullptr, adjacent ? idx : 0,
               data.data(), 0, false, levels[i % levels.size()]);
        off += lens[i];
    }
}

enum class DictKind {
    kPrevious,           // the previous block, in its own buffer
    kWhole,              // the whole history, in its own buffer
    kTail,               // only the last part of the previous block
    kAdjacent,           // the previous block, in place right before the source
    kLongerThanHistory,  // more dictionary bytes than positions before the source
};

// Dictionary mode: each block in its own buffer; the dictionary in another
// (or, kAdjacent, the previous block in the stream buffer).
void dict_stream(const Bytes& data, const std::vector<size_t>& lens,
                 const std::vector<int32_t>& levels, DictKind kind, const std::string& name) {
    Stream s("dictionary " + name);
    std::mt19937 rng(static_cast<uint32_t>(data.size()) * 7u + static_cast<uint32_t>(kind));
    size_t off = 0;
    Bytes mem;
    for (size_t i = 0; i < lens.size(); ++i) {
        const int32_t idx = static_cast<int32_t>(off), n = static_cast<int32_t>(lens[i]);
        const int32_t level = levels[i % levels.size()];
        const Bytes src(data.begin() + static_cast<std::ptrdiff_t>(off),
                        data.begin() + static_cast<std::ptrdiff_t>(off + lens[i]));
        off += lens[i];
        if (i == 0) {
            // First block: no history, prefix mode. It enters the bytes the
            // next block uses as its dictionary into the tables.
            s.call(src.data(), 0, n, nullptr, 0, src.data(), 0, false, level);
            continue;
        }
        size_t dictLen = kind == DictKind::kWhole ? off - lens[i] : lens[i - 1];
        if (kind == DictKind::kTail) dictLen = std::min<size_t>(dictLen, 9 + rng() % 600);
        Bytes dict(data.begin() + idx - static_cast<std::ptrdiff_t>(dictLen), data.begin() + idx);
        int32_t srcIdx = idx;
        const bool last = i + 1 == lens.size();
        if (kind == DictKind::kLongerThanHistory && last) {
            // A last call that places the source at fewer positions than the
            // dictionary holds bytes.
            dict.insert(dict.begin(), 40 + rng() % 200, static_cast<uint8_t>('a' + rng() % 3));
            srcIdx =
                static_cast<int32_t>(rng() % std::min(static_cast<size_t>(idx) + 1, dict.size()));
        }
        const int32_t dl = static_cast<int32_t>(dict.size());
        const int32_t lowest = std::max(0, srcIdx - dl);
        mem.assign(static_cast<size_t>(srcIdx) + static_cast<size_t>(n), 0xEE);
        for (int32_t x = lowest; x < srcIdx; ++x)
            mem[static_cast<size_t>(x)] = dict[static_cast<size_t>(dl - srcIdx + x)];
        std::copy(src.begin(), src.end(), mem.begin() + srcIdx);
        if (kind == DictKind::kAdjacent) {
            s.call(data.data() + idx, srcIdx, n, data.data() + idx - dl, dl, mem.data(), lowest,
                   dl < srcIdx, level);
        } else {
            s.call(src.data(), srcIdx, n, dict.empty() ? nullptr : dict.data(), dl, mem.data(),
                   lowest, !dict.empty(), level);
        }
    }
}

TEST(LZ4HCModel, PrefixStreamsMatchModel) {
    uint32_t seed = 100;
    for (size_t li = 0; li < sizeof kLevels / sizeof kLevels[0]; li += kLevelStep) {
        const int32_t level = kLevels[li];
        for (int kind = 0; kind < 8; ++kind) {
            const size_t total = kind == 5 ? 3000 : 9000 + 1000 * static_cast<size_t>(kind);
            const Bytes data = make_input(kind, total, ++seed);
            prefix_stream(data, split(total, seed), {level},
                          std::string(kKindNames[kind]) + " level " + std::to_string(level));
            if (::testing::Test::HasFatalFailure()) return;
        }
    }
    // Long inputs (in the sanitizer build only those reaching the distance
    // limit): one large block, then several blocks of a long stream with the
    // levels changing from call to call.
    prefix_stream(far_copies(150000, 8), split(150000, 8), {1, 5, 9}, "far copies");
    prefix_stream(far_copies(140000, 9), {140000}, {3}, "far copies one block");
    if (kLevelStep > 1) return;
    prefix_stream(edited_copies(200000, 7, 3), {200000}, {9}, "copies/3 200000 bytes");
    prefix_stream(edited_copies(120000, 10, 2), split(120000, 10), {2, 9, 0, 6},
                  "copies/2 mixed levels");
    prefix_stream(vek::testdata::text_bytes(90000, 11), split(90000, 11), {8}, "text");
}

TEST(LZ4HCModel, DictionaryStreamsMatchModel) {
    static const DictKind kKinds[] = {DictKind::kPrevious, DictKind::kWhole, DictKind::kTail,
                                      DictKind::kAdjacent, DictKind::kLongerThanHistory};
    static const char* const kNames[] = {"previous", "whole", "tail", "adjacent", "longer"};
    uint32_t seed = 500;
    for (size_t li = 0; li < sizeof kLevels / sizeof kLevels[0]; li += kLevelStep) {
        const int32_t level = kLevels[li];
        for (int k = 0; k < 5; ++k) {
            for (int kind : {0, 2, 1 + 6 * (k % 2)}) {
                const size_t total = 6000 + 500 * static_cast<size_t>(k);
                const Bytes data = make_input(kind, total, ++seed);
                std::vector<size_t> lens = split(total, seed);
                if (kKinds[k] == DictKind::kLongerThanHistory && lens.size() < 2) continue;
                dict_stream(data, lens, {level}, kKinds[k],
                            std::string(kNames[k]) + " " + kKindNames[kind] + " level " +
                                std::to_string(level));
                if (::testing::Test::HasFatalFailure()) return;
            }
        }
    }
    dict_stream(far_copies(150000, 21), split(150000, 21), {9, 4}, DictKind::kPrevious,
                "far copies");
    dict_stream(edited_copies(100000, 22, 3), {30000, 35000, 35000}, {9}, DictKind::kPrevious,
                "copies/3 large");
    dict_stream(edited_copies(100000, 23, 2), split(100000, 23), {7, 1}, DictKind::kTail,
                "copies/2 tail");
}

// Short and uniform sources, and histories that reach the distance limit.
TEST(LZ4HCModel, ShortUniformAndPresetInputsMatchModel) {
    for (int32_t level : {1, 9}) {
        for (size_t n = 14; n <= 80; ++n) {
            prefix_stream(edited_copies(n, static_cast<uint32_t>(n), 2), {n}, {level},
                          "short " + std::to_string(n));
            prefix_stream(Bytes(n, 'z'), {n}, {level}, "uniform " + std::to_string(n));
        }
        prefix_stream(Bytes(1000, 7), {1000}, {level}, "1000 equal bytes");
        prefix_stream(Bytes(70000, 0), {30000, 40000}, {level}, "70000 zero bytes");
        // A preset dictionary on fresh tables: no call entered its positions,
        // so none of them may be a candidate.
        const Bytes data = edited_copies(9000, 31 + static_cast<uint32_t>(level), 3);
        const Bytes dict(data.begin(), data.begin() + 3000), src(data.begin() + 3000, data.end());
        Stream s("preset dictionary, fresh tables, level " + std::to_string(level));
        s.call(src.data(), 3000, 6000, dict.data(), 3000, data.data(), 0, true, level);
    }
}

}  // namespace
