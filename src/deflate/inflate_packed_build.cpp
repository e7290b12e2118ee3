// Packed tables of the second fast loop, portable builder and dispatch.
// Each single-symbol entry is what the state's lookup answers for its
// index; the joining pass then lets a literal carry the symbol after it.
#include "core/cpu.h"
#include "deflate/inflate_lookup.h"

namespace vek::deflate {

namespace {

constexpr uint32_t kLitSize = 1u << kPackedLitBits;
constexpr uint32_t kDistSize = 1u << kPackedDistBits;
constexpr uint32_t kRootSize = 1024;  // first-level entries of the general form

// Doubles a filled prefix of `have` entries until `size` are filled: an
// entry whose code ends within the prefix bits means the same whatever the
// bits above are.
inline void replicate(uint32_t* t, uint32_t have, uint32_t size) {
    for (; have < size; have *= 2)
        for (uint32_t i = 0; i < have; ++i) t[have + i] = t[i];
}

}  // namespace

void resolve_packed_pointer(const GeneralLookup& tab, uint32_t i, uint32_t* lit) {
    for (uint32_t j = i; j < kLitSize; j += kRootSize) {
        const LitEntry e = tab.lit(j);
        lit[j] = pack_literal_length(e.flag, e.value);
    }
}

void pack_short_distances(const ShortLookup& tab, uint32_t* dist) {
    for (uint32_t i = 0; i <= tab.dist_mask(); ++i) {
        const DistEntry d = tab.dist(i);
        dist[i] = pack_distance(d.flag, d.value);
    }
}

void join_packed_portable(uint32_t* lit) {
    for (uint32_t i = kLitSize; i-- > 0;) {
        const uint32_t e = lit[i];
        // Only a literal's entry is joined; its bit count is below 32.
        const uint32_t s = lit[i >> (e & 31)];
        if (packed_joinable(e, s)) lit[i] = packed_join(e, s);
    }
}

void build_packed_tables_portable(const GeneralLookup& tab, PackedTables& pt) {
    const uint8_t* t = tab.data();
    for (uint32_t i = 0; i < kRootSize; ++i)
        pt.lit[i] = pack_literal_length(t[kLitFlag + i], t[kLitValue + i]);
    replicate(pt.lit, kRootSize, kLitSize);
    for (uint32_t i = 0; i < kRootSize; ++i)
        if ((t[kLitFlag + i] & 15) > 10) resolve_packed_pointer(tab, i, pt.lit);
    join_packed_portable(pt.lit);
    for (uint32_t i = 0; i < kDistSize; ++i)
        pt.dist[i] = pack_distance(t[kDistFlag + i], load16(t + kDistValue + 2 * i));
}

void build_packed_tables_portable(const ShortLookup& tab, PackedTables& pt) {
    const uint8_t* t = tab.data();
    const uint32_t litSize = tab.lit_mask() + 1, distSize = tab.dist_mask() + 1;
    for (uint32_t i = 0; i < litSize; ++i) {
        const uint32_t e = load16(t + kShortLit + 2 * i);
        pt.lit[i] = pack_literal_length(e & 255, e >> 8);
    }
    replicate(pt.lit, litSize, kLitSize);
    join_packed_portable(pt.lit);
    pack_short_distances(tab, pt.dist);
    replicate(pt.dist, distSize, kDistSize);
}

void build_packed_tables(const GeneralLookup& tab, PackedTables& pt) {
    if (core::get_feature(core::kFeatureAvx2))
        build_packed_tables_avx2(tab, pt);
    else
        build_packed_tables_portable(tab, pt);
}

void build_packed_tables(const ShortLookup& tab, PackedTables& pt) {
    if (core::get_feature(core::kFeatureAvx2))
        build_packed_tables_avx2(tab, pt);
    else
        build_packed_tables_portable(tab, pt);
}

}  // namespace vek::deflate
