// LZO1X encoders on arbitrary input: the stream of each method must equal
// the plain matcher model, fit exactly into a capacity of its own length
// (and give vekStatusDstTooSmall one byte short, without writing past it),
// and decode back through both decoders. The first byte picks the method
// and whether the single-probe dictionary starts from leftovers.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "lzo_model.h"
#include "vekdc.h"

namespace {
void check(bool ok) {
    if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 200000) return 0;
    const int32_t method = data[0] & 1 ? 2 : 0;
    const bool leftovers = data[0] & 2;
    std::vector<uint8_t> src(data + 1, data + size);
    const uint32_t n = uint32_t(src.size());

    std::vector<uint64_t> mem(131096 / 8 + 1);
    auto* state = reinterpret_cast<vekLZOState_8u*>(mem.data());
    check(veksEncodeLZOInit_8u(method, n, state) == vekStatusOk);
    uint32_t* dict = reinterpret_cast<uint32_t*>(mem.data() + 3);
    std::vector<uint32_t> model_dict(32768, 0);
    for (uint32_t k = 0; k < 32768; ++k) {
        // Leftover positions, some valid for this input and some not.
        dict[k] = model_dict[k] = leftovers ? (k * 2654435761u) % (n + 100) : 0;
    }

    const std::vector<uint8_t> want = method == 0 ? vek::testref::lzo_model_method0(src, model_dict)
                                                  : vek::testref::lzo_model_method2(src);
    const uint32_t len = uint32_t(want.size());
    std::vector<uint8_t> z(len + 16, 0xC5);
    uint32_t zl = len;
    check(veksEncodeLZO_8u(src.data(), n, z.data(), &zl, state) == vekStatusOk);
    check(zl == len && std::memcmp(z.data(), want.data(), len) == 0);
    for (size_t k = len; k < z.size(); ++k) check(z[k] == 0xC5);

    std::vector<uint8_t> shortbuf(len + 16, 0x3A);
    uint32_t sl = len - 1;
    if (method == 0)
        for (uint32_t k = 0; k < 32768; ++k)
            dict[k] = leftovers ? (k * 2654435761u) % (n + 100) : 0;
    check(veksEncodeLZO_8u(src.data(), n, shortbuf.data(), &sl, state) == vekStatusDstTooSmall);
    for (size_t k = len - 1; k < shortbuf.size(); ++k) check(shortbuf[k] == 0x3A);

    for (int safe = 0; safe < 2; ++safe) {
        std::vector<uint8_t> back(n + 16, 0x11);
        uint32_t bl = n;
        const vekStatus st = safe ? veksDecodeLZOSafe_8u(z.data(), zl, back.data(), &bl)
                                  : veksDecodeLZO_8u(z.data(), zl, back.data(), &bl);
        check(st == vekStatusOk && bl == n && std::memcmp(back.data(), src.data(), n) == 0);
        for (size_t k = n; k < back.size(); ++k) check(back[k] == 0x11);
    }
    return 0;
}
