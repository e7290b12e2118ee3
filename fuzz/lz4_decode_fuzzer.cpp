// LZ4 decoders on arbitrary blocks, in exact-size heap buffers so any read
// or write outside them trips AddressSanitizer; status, counts and bytes
// must equal the byte-level model. The first two input bytes choose the
// capacity and the dictionary layout.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lz4_reference.h"
#include "vekdc.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}

void run(const uint8_t* block, int32_t len, int32_t cap, int32_t dictLen, int32_t dstIdx) {
    std::vector<uint8_t> in(block, block + len);
    std::vector<uint8_t> dict(dictLen > 0 ? dictLen : 1);
    for (size_t i = 0; i < dict.size(); ++i) dict[i] = uint8_t(i * 13 + 1);
    std::vector<uint8_t> ours(dstIdx + cap), model(dstIdx + cap);
    for (int32_t i = 0; i < dstIdx; ++i) ours[i] = model[i] = uint8_t(i * 5);
    int32_t sl = len, dl = cap;
    vekStatus st;
    vek::testref::Lz4Result want;
    if (dictLen == 0) {
        st = veksDecodeLZ4_8u(in.data(), len, ours.data(), &dl);
        want = vek::testref::lz4_reference_decode(in.data(), len, model.data(), 0, cap, nullptr, 0);
        want.srcLen = len;
    } else {
        st = veksDecodeLZ4Dict_8u(in.data(), &sl, ours.data(), dstIdx, &dl, dict.data(), dictLen);
        want = vek::testref::lz4_reference_decode(in.data(), len, model.data(), dstIdx, cap,
                                                  dict.data(), dictLen);
    }
    check(st == want.status);
    if (st == vekStatusBadDataErr || st == vekStatusSizeErr) return;
    check(dl == want.dstLen && sl == want.srcLen);
    int32_t produced = dl > 0 ? dl : 0;
    if (want.zeroOffsetAt >= 0 && want.zeroOffsetAt < produced) produced = want.zeroOffsetAt;
    check(std::memcmp(ours.data(), model.data(), size_t(dstIdx + produced)) == 0);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 200000) return 0;
    const int32_t cap = 1 + (data[0] | data[1] << 8) % 70000;
    const int layout = data[2] % 4;
    data += 3;
    size -= 3;
    if (size == 0) return 0;
    const int32_t len = int32_t(size);
    switch (layout) {
        case 0:
            run(data, len, cap, 0, 0);
            break;
        case 1:
            run(data, len, cap, 1000, 1000);
            break;  // dictionary right before the output
        case 2:
            run(data, len, cap, 500, 2000);
            break;  // earlier output between them
        default:
            run(data, len, cap, 3000, 100);
            break;  // output overlapping the dictionary's addresses
    }
    return 0;
}
