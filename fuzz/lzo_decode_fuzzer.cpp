// LZO1X validating decoder on arbitrary input, in exact-size heap buffers
// with guard bytes after the capacity. Plain streams must give the status
// and bytes of the grammar model; whenever the validating decoder accepts,
// the trusting decoder must produce the same bytes. The first two input
// bytes choose the capacity.
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
constexpr size_t kGuard = 32;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 300000) return 0;
    const uint32_t cap = (data[0] | data[1] << 8) * 4u + (data[0] & 3);
    std::vector<uint8_t> in(data + 2, data + size);  // exact size
    const uint32_t len = uint32_t(in.size());

    std::vector<uint8_t> out(cap + kGuard, 0xA7);
    uint32_t n = cap;
    const vekStatus st = veksDecodeLZOSafe_8u(in.data(), len, out.data(), &n);
    check(st == vekStatusOk || st == vekStatusCorruptStreamErr);
    for (size_t k = cap; k < out.size(); ++k) check(out[k] == 0xA7);
    if (st != vekStatusOk) {
        check(n == cap);
        return 0;
    }
    check(n <= cap);

    const bool special = len >= 3 && (in[0] == 0x55 || (in[0] == 0x11 && in[1] == 0 && in[2] == 0));
    if (!special) {
        const auto want = vek::testref::lzo_model_decode(in.data(), in.size(), cap);
        check(want.status == vekStatusOk && want.out.size() == n);
        check(std::memcmp(want.out.data(), out.data(), n) == 0);
    }

    // Same fill: a container's chunks may leave gaps in the output.
    std::vector<uint8_t> again(cap + kGuard, 0xA7);
    uint32_t m = cap;
    check(veksDecodeLZO_8u(in.data(), len, again.data(), &m) == vekStatusOk);
    check(m == n && again == out);
    return 0;
}
