// LZ4 encoders round trip: every encoder's block decodes to its input, the
// checked encoder never writes past its capacity, and acceleration 1 equals
// the unchecked encoder.
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

void roundtrip(const std::vector<uint8_t>& src, const uint8_t* block, int32_t len, int32_t n) {
    std::vector<uint8_t> out(n > 0 ? n : 1);
    int32_t dl = n;
    if (n == 0) return;
    check(veksDecodeLZ4_8u(block, len, out.data(), &dl) == vekStatusOk);
    check(dl == n && std::memcmp(out.data(), src.data(), size_t(n)) == 0);
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 300000) return 0;
    const int32_t accel = 1 + data[0] % 20;
    const uint32_t capSeed = data[1] | data[2] << 8;
    const std::vector<uint8_t> src(data + 3, data + size);
    const int32_t n = int32_t(src.size());
    if (n == 0) return 0;
    static uint8_t table[16384];
    std::vector<uint8_t> dst(size_t(n) + n / 255 + 32);
    int32_t dl = 0;
    check(veksEncodeLZ4_8u(src.data(), n, dst.data(), &dl, table) == vekStatusOk);
    const std::vector<uint8_t> plain(dst.begin(), dst.begin() + dl);
    int32_t covered = 0;
    check(plain == vek::testref::lz4_model_encode(src.data(), n, -1, &covered));
    roundtrip(src, plain.data(), dl, n);

    check(veksEncodeLZ4Fast_8u(src.data(), n, dst.data(), &dl, table, accel) == vekStatusOk);
    if (accel == 1)
        check(dl == int32_t(plain.size()) &&
              std::memcmp(dst.data(), plain.data(), plain.size()) == 0);
    else
        check(std::vector<uint8_t>(dst.begin(), dst.begin() + dl) ==
              vek::testref::lz4_model_encode_fast(src.data(), n, accel));
    roundtrip(src, dst.data(), dl, n);

    const int32_t cap = 1 + int32_t(capSeed % (plain.size() + 20));
    std::vector<uint8_t> small(cap);  // exact size: overruns trip the sanitizer
    int32_t sl = n;
    dl = cap;
    const vekStatus st = veksEncodeLZ4Safe_8u(src.data(), &sl, small.data(), &dl, table);
    check(st == vekStatusOk || st == vekStatusDstTooSmall);
    check((st == vekStatusOk) == (sl == n) && dl <= cap);
    check(std::vector<uint8_t>(small.begin(), small.begin() + dl) ==
          vek::testref::lz4_model_encode(src.data(), n, cap, &covered));
    check(covered == sl);
    std::vector<uint8_t> head(src.begin(), src.begin() + sl);
    roundtrip(head, small.data(), dl, sl);
    return 0;
}
