// LZ4 decoders on arbitrary blocks, in exact-size heap buffers so any read
// or write outside them trips AddressSanitizer; status, counts and bytes
// must equal the byte-level model. The first three input bytes choose the
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

// A negative dstIdx puts the output window before pDst: the buffer then
// starts at the window, pDst - dstIdx bytes into it.
void run(const uint8_t* block, int32_t len, int32_t cap, int32_t dictLen, int32_t dstIdx) {
    std::vector<uint8_t> in(block, block + len);
    std::vector<uint8_t> dict(dictLen > 0 ? dictLen : 1);
    for (size_t i = 0; i < dict.size(); ++i) dict[i] = uint8_t(i * 13 + 1);
    const int32_t lead = dstIdx < 0 ? -dstIdx : 0, before = dstIdx < 0 ? 0 : dstIdx;
    std::vector<uint8_t> oursBuf(before + cap), modelBuf(before + cap);
    uint8_t* const ours = oursBuf.data() + lead;
    uint8_t* const model = modelBuf.data() + lead;
    for (int32_t i = 0; i < before; ++i) oursBuf[i] = modelBuf[i] = uint8_t(i * 5);
    int32_t sl = len, dl = cap;
    vekStatus st;
    vek::testref::Lz4Result want;
    if (dictLen == 0) {
        st = veksDecodeLZ4_8u(in.data(), len, ours, &dl);
        want = vek::testref::lz4_reference_decode(in.data(), len, model, 0, cap, nullptr, 0);
        want.srcLen = len;
    } else {
        st = veksDecodeLZ4Dict_8u(in.data(), &sl, ours, dstIdx, &dl, dict.data(), dictLen);
        want = vek::testref::lz4_reference_decode(in.data(), len, model, dstIdx, cap, dict.data(),
                                                  dictLen);
    }
    check(st == want.status);
    if (st == vekStatusBadDataErr || st == vekStatusSizeErr) return;
    check(dl == want.dstLen && sl == want.srcLen);
    int32_t produced = dl > 0 ? dl : 0;
    if (want.zeroOffsetAt >= 0 && want.zeroOffsetAt < produced) produced = want.zeroOffsetAt;
    check(std::memcmp(oursBuf.data(), modelBuf.data(), size_t(before + produced)) == 0);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 200000) return 0;
    const int32_t cap = 1 + (data[0] | data[1] << 8) % 70000;
    const int layout = data[2] % 5;
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
        case 3:
            run(data, len, cap, 3000, 100);
            break;  // output overlapping the dictionary's addresses
        default:
            run(data, len, cap, 700, -(cap < 300 ? cap : 300));
            break;  // output starting before pDst
    }
    return 0;
}
