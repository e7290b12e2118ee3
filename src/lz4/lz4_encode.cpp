// The block encoders (unchecked and checked) and the history encoders
// (prefix and dictionary modes) on the shared single-pass engine.
#include "lz4_encode.h"

#include "lz4_engine.h"

namespace vek::lz4 {
namespace {

// Block encoders: 1..16 then k >> 4 from 16 with the small table, 1..63 then
// k >> 6 from 64 with the wide one.
constexpr FirstPhase kFirstSmall{16, 16, 4};
constexpr FirstPhase kFirstWide{63, 64, 6};

template <bool Checked>
int32_t encode_plain(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t dstCap,
                     uint8_t* table) {
    const NoHistory hist{src};
    if (*srcLen < 65536)
        return encode_engine<Checked>(src, srcLen, dst, dstCap,
                                      Table16{reinterpret_cast<uint16_t*>(table)}, hist,
                                      kFirstSmall);
    return encode_engine<Checked>(src, srcLen, dst, dstCap,
                                  Table32{reinterpret_cast<int32_t*>(table)}, hist, kFirstWide);
}

}  // namespace

int32_t encode_block(const uint8_t* src, int32_t srcLen, uint8_t* dst, uint8_t* table) {
    return encode_plain<false>(src, &srcLen, dst, 0, table);
}

int32_t encode_block_checked(const uint8_t* src, int32_t* srcLen, uint8_t* dst, int32_t dstCap,
                             uint8_t* table) {
    return encode_plain<true>(src, srcLen, dst, dstCap, table);
}

int32_t encode_history(const uint8_t* src, int32_t srcIdx, int32_t* srcLen, uint8_t* dst,
                       int32_t dstCap, uint8_t* table, const uint8_t* dict, int32_t dictLen,
                       bool checked) {
    const Table32 tab{reinterpret_cast<int32_t*>(table)};
    if (!dict) {
        const PrefixHistory hist{src, srcIdx};
        if (checked) return encode_engine<true>(src, srcLen, dst, dstCap, tab, hist, kFirstWide);
        // The unchecked prefix encoder probes singly while the history
        // position is below 64.
        const FirstPhase first{63 - srcIdx, 64, 6};
        return encode_engine<false>(src, srcLen, dst, 0, tab, hist, first);
    }
    const DictHistory hist{src, srcIdx, dict, dictLen};
    if (checked) return encode_engine<true>(src, srcLen, dst, dstCap, tab, hist, kFirstWide);
    return encode_engine<false>(src, srcLen, dst, 0, tab, hist, kFirstWide);
}

}  // namespace vek::lz4
