// ZFP block decoder on arbitrary streams under arbitrary parameters. The
// stream sits in an exact-size heap buffer (AddressSanitizer catches any read
// outside it); the blocks go to a strided destination whose gaps and
// surroundings hold guard values that must survive. The portable and AVX2
// kernels must agree on every status and every value.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/cpu.h"
#include "forced_cpu_services.h"
#include "vekdc.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

constexpr int kBlocks = 6;
constexpr int32_t kStep = 5 * 4, kPlane = 23 * 4;  // rows 5 floats apart, planes 23
constexpr size_t kBlockSpan = 3 * 23 + 3 * 5 + 4;  // floats from origin to the last element + 1
constexpr size_t kLead = 16;
constexpr float kGuard = -12345.0f;

bool inside(size_t i) {
    if (i < kLead) return false;
    const size_t o = (i - kLead) % 128;  // each block origin 128 floats apart
    if ((i - kLead) / 128 >= kBlocks) return false;
    return o < kBlockSpan && o / 23 < 4 && o % 23 / 5 < 4 && o % 23 % 5 < 4;
}

struct Result {
    std::vector<vekStatus> status;
    std::vector<float> dst;
    const uint8_t* end_at;
};

Result decode(const std::vector<uint8_t>& src, const int32_t p[4]) {
    Result r;
    r.dst.assign(kLead + 128 * kBlocks + kLead, kGuard);
    vekZfpState_32f st;
    check(veksDecodeZfpInit_32f(src.data(), int32_t(src.size()), &st) == vekStatusOk);
    check(veksDecodeZfpSet_32f(p[0], p[1], p[2], p[3], &st) == vekStatusOk);
    for (int b = 0; b < kBlocks; ++b) {
        const vekStatus s =
            veksDecodeZfp444_32f(&st, r.dst.data() + kLead + 128 * b, kStep, kPlane);
        r.status.push_back(s);
        check(s == vekStatusOk || s == vekStatusOutOfRangeErr);
        check(st.pCur >= src.data() && st.pCur <= src.data() + src.size());
        if (s != vekStatusOk) break;
    }
    r.end_at = st.pCur;
    for (size_t i = 0; i < r.dst.size(); ++i)
        if (!inside(i)) check(std::memcmp(&r.dst[i], &kGuard, 4) == 0);
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 9 || size > 100000) return 0;
    // Parameters near the interesting ranges: bits per block up to ~4200,
    // planes 0..66, exponents around the float range, and now and then
    // extreme values.
    int32_t p[4];
    p[0] = int32_t(data[0] | (data[1] & 0x1F) << 8) - 64;
    p[1] = int32_t(data[2] | (data[3] & 0x1F) << 8) - 16;
    p[2] = int32_t(data[4] % 67);
    p[3] = int32_t(int8_t(data[5])) * 2;
    if (data[6] & 1) p[3] = -10740;
    if (data[6] & 2) p[1] = 4171;
    if (data[6] & 4) p[0] = p[1];
    if ((data[6] & 0x38) == 0x38) p[data[7] & 3] = (data[7] & 4) ? INT32_MAX : INT32_MIN;
    const std::vector<uint8_t> src(data + 8, data + size);
    const Result fast = decode(src, p);
    Result portable;
    {
        vek::core::testing::HiddenFeatures guard(vek::core::kFeatureAvx2);
        portable = decode(src, p);
    }
    check(fast.status == portable.status && fast.end_at == portable.end_at);
    check(std::memcmp(fast.dst.data(), portable.dst.data(), fast.dst.size() * 4) == 0);
    return 0;
}
