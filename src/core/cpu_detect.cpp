// CPUID-based detection. Only CPUID and XGETBV are used: the library does
// no I/O, so sysfs is not consulted.
#include <cpuid.h>

#include "cpu.h"

namespace vek::core {
namespace {

struct Regs {
    unsigned a, b, c, d;
};

Regs cpuid(unsigned leaf, unsigned sub = 0) {
    Regs r{0, 0, 0, 0};
    __cpuid_count(leaf, sub, r.a, r.b, r.c, r.d);
    return r;
}

uint64_t xgetbv0() {
    unsigned lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return (uint64_t(hi) << 32) | lo;
}

}  // namespace

uint64_t detect_features() {
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    if (max_leaf < 1) return 0;
    const Regs l1 = cpuid(1);
    uint64_t f = 0;
    if (l1.c & (1u << 20)) f |= kFeatureSse42;
    if (l1.c & (1u << 1)) f |= kFeaturePclmul;
    const bool osxsave = l1.c & (1u << 27);
    if (!osxsave || max_leaf < 7) return f;
    const uint64_t xcr0 = xgetbv0();
    const bool ymm_state = (xcr0 & 0x6) == 0x6;
    const bool zmm_state = (xcr0 & 0xE6) == 0xE6;
    const Regs l7 = cpuid(7, 0);
    const bool avx = l1.c & (1u << 28);
    if (ymm_state && avx && (l7.b & (1u << 5))) f |= kFeatureAvx2;
    const bool avx512 = (l7.b & (1u << 16)) && (l7.b & (1u << 30)) && (l7.b & (1u << 31));
    const bool vpclmul = l7.c & (1u << 10);
    if (zmm_state && avx512 && (f & kFeatureAvx2)) {
        f |= kFeatureAvx512;
        if (l7.c & (1u << 11)) f |= kFeatureAvx512Vnni;
    }
    if (vpclmul && (f & kFeatureAvx2)) f |= kFeatureVpclmul;
    return f;
}

int32_t detect_max_cache_size() {
    uint64_t best = 0;
    const unsigned max_leaf = __get_cpuid_max(0, nullptr);
    // Deterministic cache parameters (leaf 4 on Intel, 0x8000001D on AMD).
    auto scan = [&best](unsigned leaf) {
        for (unsigned i = 0; i < 16; ++i) {
            const Regs r = cpuid(leaf, i);
            if ((r.a & 0x1F) == 0) break;  // no more caches
            const uint64_t ways = ((r.b >> 22) & 0x3FF) + 1;
            const uint64_t parts = ((r.b >> 12) & 0x3FF) + 1;
            const uint64_t line = (r.b & 0xFFF) + 1;
            const uint64_t sets = uint64_t(r.c) + 1;
            const uint64_t size = ways * parts * line * sets;
            if (size > best) best = size;
        }
    };
    if (max_leaf >= 4) scan(4);
    const unsigned max_ext = __get_cpuid_max(0x80000000u, nullptr);
    if (best == 0 && max_ext >= 0x8000001Du) scan(0x8000001Du);
    if (best == 0 && max_ext >= 0x80000006u) best = uint64_t(cpuid(0x80000006u).c >> 16) * 1024;
    if (best > 0x7FFFFFFF) best = 0x7FFFFFFF;
    return static_cast<int32_t>(best);
}

}  // namespace vek::core
