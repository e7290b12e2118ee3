// LZ4 history encoders over a stream of blocks on one persistent table, in
// both modes (dictionary in its own exact-size buffer, or the history in
// memory right before each block), unchecked and checked: every block equals
// the plain model's, and decodes back through the dictionary decoder with
// the history the encoder saw.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lz4_encoder_model.h"
#include "vekdc.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 300000) return 0;
    const bool separate = data[0] & 1, checked = data[0] & 2, load = data[0] & 4;
    const size_t blockSize = 1 + (data[1] | data[2] << 8);
    const uint32_t capSeed = data[3];
    data += 4;
    size -= 4;
    const size_t dictLen = std::min<size_t>(size / 3, 1 + capSeed * 97);
    // all = dictionary, then the source; every block's history is all of
    // what precedes it (prefix) or the dictionary alone (separate).
    const std::vector<uint8_t> all(data, data + size);
    const std::vector<uint8_t> dict(data, data + dictLen);
    if (dictLen == 0 || dictLen == size) return 0;

    static uint8_t table[16384];
    std::vector<int32_t> model(4096, 0);
    check(veksEncodeLZ4DictHashTableInit_8u(table, 1) == vekStatusOk);
    if (load) {
        check(veksEncodeLZ4LoadDict_8u(table, dict.data(), int32_t(dictLen)) == vekStatusOk);
        for (int32_t k = 0; int32_t(dictLen) - k > 8; k += 3)
            model[vek::testref::lz4model::hash(dict.data() + k, 0xFFF)] = k;
    }
    for (size_t pos = dictLen; pos < size; pos += blockSize) {
        const int32_t n = int32_t(std::min(blockSize, size - pos));
        const int32_t srcIdx = int32_t(pos);
        const uint8_t* src = all.data() + pos;
        const int32_t bound = n + n / 255 + 32;
        const int32_t cap = checked ? 1 + int32_t((capSeed * 131u + pos) % uint32_t(bound)) : bound;
        std::vector<uint8_t> dst(
            static_cast<size_t>(cap));  // exact size: overruns trip the sanitizer
        int32_t sl = n, dl = cap;
        const uint8_t* pDict = separate ? dict.data() : nullptr;
        const int32_t dlen = separate ? int32_t(dictLen) : 0;
        const vekStatus st =
            checked
                ? veksEncodeLZ4DictSafe_8u(src, srcIdx, &sl, dst.data(), &dl, table, pDict, dlen)
                : veksEncodeLZ4Dict_8u(src, srcIdx, n, dst.data(), &dl, table, pDict, dlen);
        check(st == (sl == n ? vekStatusOk : vekStatusDstTooSmall));

        const int32_t limit = srcIdx - (checked ? 0 : 1);
        for (auto& v : model) v = v > limit ? limit : v;
        vek::testref::Lz4History h;
        h.kind = separate ? vek::testref::Lz4History::kDict : vek::testref::Lz4History::kPrefix;
        h.srcIdx = srcIdx;
        h.dict = pDict;
        h.dictLen = dlen;
        h.table = &model;
        h.prefixUnchecked = !separate && !checked;
        int32_t covered = 0;
        const std::vector<uint8_t> want =
            vek::testref::lz4_model_encode(src, n, checked ? cap : -1, &covered, h);
        check(dl == int32_t(want.size()) && std::memcmp(dst.data(), want.data(), want.size()) == 0);
        check(covered == sl);

        // Decode with the history as the encoder addressed it: the dictionary
        // (separate) or everything before the block, as the dictionary
        // right before the output.
        const uint8_t* hist = separate ? dict.data() : all.data();
        const int32_t histLen = separate ? int32_t(dictLen) : srcIdx;
        std::vector<uint8_t> out(size_t(histLen) + size_t(sl > 0 ? sl : 1));
        int32_t isl = dl, odl = sl;
        if (sl > 0) {
            check(veksDecodeLZ4Dict_8u(dst.data(), &isl, out.data(), histLen, &odl, hist,
                                       histLen) == vekStatusOk);
            check(odl == sl && isl == dl);
            check(std::memcmp(out.data() + histLen, src, size_t(sl)) == 0);
        }
        if (sl != n) break;  // the stream cannot go on past a shortened block
    }
    return 0;
}
