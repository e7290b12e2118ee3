#include "deflate_fastest.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace vekdc {

using namespace deflate_blocks;

namespace {

constexpr uint32_t kWindow = 32768;
// Head table entries of the statistics pass for fits (as many as the
// encoder's) and for samples.
constexpr uint32_t kFitHash = 65536;
constexpr uint32_t kSampleHash = 8192;
// Bytes of the sample that decides whether a piece gets codes of its own,
// taken from the start of every kProbeEvery-th piece while the codes stay,
// and of the piece after a refit. (A sample of 2 KiB costs about 3% of
// coding the piece.) A piece that took more than kRefitWorse times the bits
// per byte of its codes' input is coded again with codes fitted to itself.
constexpr uint32_t kProbeBytes = 2048;
constexpr uint32_t kProbeEvery = 3;
constexpr double kRefitWorse = 1.1;
// A piece is refitted when new codes are estimated to save its new block
// header and this share of its bits.
constexpr double kRefitGain = 0.12;
// A sample of fewer items (long matches, as in runs) says too little to
// refit on.
constexpr uint32_t kMinSampleItems = 256;
// Weight of the codes in use in the estimate of a sample's cost under codes
// of its own, in items per item of the sample, and the share that whole
// code lengths are assumed to add to that estimate.
constexpr double kPriorWeight = 0.05;
constexpr double kCodeRedundancy = 0.02;

// log2(x) for x > 0, to about 1e-5 (an interpolated table over the top
// mantissa bits).
float approx_log2(float x) {
    static const auto table = [] {
        std::array<float, 257> t{};
        for (int i = 0; i <= 256; ++i) t[i] = static_cast<float>(std::log2(1.0 + i / 256.0));
        return t;
    }();
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const int exponent = static_cast<int>(bits >> 23) - 127;
    const uint32_t i = (bits >> 15) & 255;
    const float frac = static_cast<float>(bits & 0x7fff) * (1.0f / 32768);
    return static_cast<float>(exponent) + table[i] + frac * (table[i + 1] - table[i]);
}

// Estimated bits of n symbols with the given counts under codes fitted to
// a larger sample like them: each item is costed under the frequencies of
// the other items, smoothed towards the code lengths `len` in use. Unlike
// the codes built from the counts themselves, this does not flatter a
// small sample.
double held_out_bits(const uint32_t* count, const uint8_t* len, int n) {
    uint32_t total = 0;
    for (int i = 0; i < n; ++i) total += count[i];
    if (total < 2) return total * double(kMaxCodeBits);
    const float a = static_cast<float>(kPriorWeight * total);
    double bits = double(total) * approx_log2(float(total) - 1 + a);
    for (int i = 0; i < n; ++i) {
        if (count[i] == 0) continue;
        const float prior = a * std::ldexp(1.0f, -int(len[i]));
        bits -= double(count[i]) * approx_log2(float(count[i]) - 1 + prior);
    }
    return bits;
}

}  // namespace

uint32_t FastestCodes::count(Table& table, uint32_t hash_size, const uint8_t* p, uint32_t n,
                             bool flush, uint32_t* lit_count, uint32_t* dist_count) {
    // Each count starts more than a window past the end of the last, so
    // the table's old positions are never followed and need no clearing
    // (until the positions would grow too large).
    if (table.head.empty() || table.next_idx > (1u << 30)) {
        table.head.assign(hash_size, -static_cast<int32_t>(kWindow));
        table.next_idx = 0;
    }
    const uint8_t* src = p;
    uint32_t left = n, idx = table.next_idx;
    check_library(
        "veksDeflateLZ77FastestGetStat_8u",
        veksDeflateLZ77FastestGetStat_8u(&src, &left, &idx, p, kWindow, table.head.data(),
                                         hash_size, lit_count, dist_count, flush ? 2 : 0));
    table.next_idx = idx + kWindow + 1;
    return static_cast<uint32_t>(src - p);
}

void FastestCodes::sample(const uint8_t* p, uint32_t n) {
    std::fill(sample_lit_, sample_lit_ + kLitSymbols, 0u);
    std::fill(sample_dist_, sample_dist_ + kDistSymbols, 0u);
    sample_bytes_ = count(sample_table_, kSampleHash, p, std::min(kProbeBytes, n), n <= kProbeBytes,
                          sample_lit_, sample_dist_);
}

double FastestCodes::refit_gain(uint32_t n) const {
    uint32_t items = 0;
    for (uint32_t c : sample_lit_) items += c;
    if (items < kMinSampleItems) return 0;
    return (gain_per_byte(sample_lit_, sample_dist_, sample_bytes_) - baseline_) * n;
}

double FastestCodes::gain_per_byte(const uint32_t* lit_count, const uint32_t* dist_count,
                                   uint32_t bytes) const {
    if (bytes == 0) return 0;
    const FixedCodes& fixed = fixed_codes();
    uint8_t lit_len[kLitSymbols], dist_len[kDistSymbols];
    for (int i = 0; i < kLitSymbols; ++i)
        lit_len[i] = static_cast<uint8_t>(dynamic_ ? lit_[i].len : fixed.lit_len[i]);
    for (int i = 0; i < kDistSymbols; ++i)
        dist_len[i] = static_cast<uint8_t>(dynamic_ ? dist_[i].len : fixed.dist_len[i]);
    uint64_t in_use = 0;
    for (int i = 0; i < kLitSymbols; ++i) in_use += uint64_t(lit_count[i]) * lit_len[i];
    for (int i = 0; i < kDistSymbols; ++i) in_use += uint64_t(dist_count[i]) * dist_len[i];
    const double own = held_out_bits(lit_count, lit_len, kLitSymbols) +
                       held_out_bits(dist_count, dist_len, kDistSymbols);
    return (double(in_use) - own * (1 + kCodeRedundancy)) / bytes;
}

void FastestCodes::fit(const uint8_t* p, uint32_t n, bool sampled) {
    uint32_t lit_count[kLitSymbols] = {}, dist_count[kDistSymbols] = {};
    count(fit_table_, kFitHash, p, n, true, lit_count, dist_count);
    lit_count[kEndOfBlock] = 1;
    const vekStatus st = veksDeflateLZ77FastestGenHuffTable_8u(lit_count, dist_count, lit_, dist_);
    uint32_t header_bytes = 0;
    check_library(
        "veksDeflateLZ77FastestGenHeader_8u",
        veksDeflateLZ77FastestGenHeader_8u(lit_, dist_, header_, &header_bytes, &header_bits_));

    // Bits of the input's items under both code sets.
    const FixedCodes& fixed = fixed_codes();
    uint64_t extra = 0, dyn = 0, fix = 0;
    for (int i = 0; i < kLitSymbols; ++i) {
        dyn += uint64_t(lit_count[i]) * lit_[i].len;
        fix += uint64_t(lit_count[i]) * fixed.lit_len[i];
    }
    for (int c = 0; c < 29; ++c) extra += uint64_t(lit_count[257 + c]) * kLenExtra[c];
    for (int i = 0; i < kDistSymbols; ++i) {
        dyn += uint64_t(dist_count[i]) * dist_[i].len;
        fix += uint64_t(dist_count[i]) * 5;
        extra += uint64_t(dist_count[i]) * kDistExtra[i];
    }
    // A length limit the builder could not meet leaves no usable tables.
    dynamic_ = st == vekStatusOk && header_bits_ + dyn < 3 + fix;
    sample_bits_per_byte_ = double((dynamic_ ? dyn : fix) + extra) / std::max<uint32_t>(n, 1);
    // What the sample at the start of the input appears to gain over the
    // codes just fitted to all of it: samples of later input that appear
    // to gain no more than this are coded as well by these codes (a sample
    // coded without history has more literals and shorter matches than
    // the coded stream, and its own counts always flatter it).
    if (!sampled) sample(p, n);
    baseline_ = gain_per_byte(sample_lit_, sample_dist_, sample_bytes_);
}

void FastestCodes::write_header(BitOut& out, bool final) const {
    out.put(final ? 1 : 0, 1);
    out.put(2, 2);
    // The header's own first 3 bits are replaced by those above.
    for (uint32_t at = 3; at < header_bits_;) {
        const uint32_t k = std::min<uint32_t>(8 - at % 8, header_bits_ - at);
        out.put((header_[at / 8] >> (at % 8)) & ((1u << k) - 1), k);
        at += k;
    }
}

size_t FastestBlocks::code(BitOut& out, int32_t* head, uint32_t hash_size, uint32_t& src_idx,
                           const uint8_t* p, size_t len, bool last, Kind* kind) {
    const uint32_t n = static_cast<uint32_t>(len);
    bool fitted = refit_;
    if (refit_) {
        close(out);
        codes_.fit(p, n);
        refit_ = false;
        since_probe_ = 0;
    } else if (!fixed_only_ && ++since_probe_ >= kProbeEvery) {
        // Codes fitted to this piece, when a sample of it says they would
        // pay for their header and a share of the piece's bits.
        since_probe_ = 0;
        codes_.sample(p, n);
        const double header = codes_.dynamic() ? codes_.header_bits() : 600;
        if (codes_.refit_gain(n) > header + kRefitGain * codes_.sample_bits_per_byte() * n) {
            close(out);
            codes_.fit(p, n, true);
            fitted = true;
            since_probe_ = kProbeEvery;
        }
    }
    const BitOut::Mark before = out.mark();
    const bool was_open = open_;
    const uint32_t idx_before = src_idx;
    const size_t consumed = encode(out, head, hash_size, src_idx, p, len, last);
    const uint64_t used = out.bit_count() - (uint64_t(before.size) * 8 + before.bits);
    const unsigned eob = codes_.dynamic() ? codes_.lit()[kEndOfBlock].len : 7;
    // Stored, the open block ends before; coded, a new block ends later.
    const uint64_t stored =
        (was_open ? eob : 0) + stored_cost((before.bits + (was_open ? eob : 0)) % 8, consumed);
    if (stored < used + (was_open ? 0 : eob)) {
        out.rewind(before);
        open_ = was_open;
        close(out);
        write_stored(out, p, consumed, last);
        *kind = Kind::kStored;
        refit_ = !fixed_only_;
        return consumed;
    }
    const double header = was_open ? 0 : codes_.dynamic() ? codes_.header_bits() : 3;
    const double per_byte = (double(used) - header) / double(std::max<size_t>(consumed, 1));
    const bool worse =
        !fixed_only_ && per_byte > kRefitWorse * codes_.sample_bits_per_byte() + 0.05;
    if (worse && !fitted) {
        // Coded again with codes fitted to this piece. Its first attempt
        // registered its positions in the head table; the stream position
        // moves more than a window past them, so they are never followed
        // (nor is the history before them).
        out.rewind(before);
        open_ = was_open;
        src_idx = idx_before + static_cast<uint32_t>(len + kWindow + 1);
        refit_ = true;
        return code(out, head, hash_size, src_idx, p, len, last, kind);
    }
    *kind = was_open ? Kind::kContinued : codes_.dynamic() ? Kind::kDynamic : Kind::kFixed;
    refit_ = worse;
    if (last) {
        // A block opened before this piece went without BFINAL: an empty
        // final block follows it.
        close(out);
        if (was_open) finish(out);
    }
    return consumed;
}

void FastestBlocks::put_end_of_block(BitOut& out) const {
    if (codes_.dynamic())
        out.put(codes_.lit()[kEndOfBlock].code, codes_.lit()[kEndOfBlock].len);
    else
        out.put(0, 7);
}

void FastestBlocks::close(BitOut& out) {
    if (open_) put_end_of_block(out);
    open_ = false;
}

void FastestBlocks::finish(BitOut& out) {
    close(out);
    // An empty final block with the fixed codes.
    out.put(1 | 1 << 1, 3);
    out.put(0, 7);
}

// The piece's items with the codes in use, after a block header unless a
// block is open (with flush on the last piece, until all is coded). Leaves
// the block open.
size_t FastestBlocks::encode(BitOut& out, int32_t* head, uint32_t hash_size, uint32_t& src_idx,
                             const uint8_t* p, size_t len, bool last) {
    const bool dynamic = codes_.dynamic();
    out.flush_bytes();
    // A stream's first block has its header placed by the library; the
    // header of any later one goes ahead as bits of our own. BFINAL and
    // BTYPE go ahead as pending bits.
    const bool placed = !open_ && dynamic && src_idx == 0;
    if (!open_ && dynamic && !placed) {
        codes_.write_header(out, last);
        out.flush_bytes();
    }
    uint32_t code = out.pending(), bits = out.pending_bits();
    if (!open_ && (!dynamic || placed)) {
        code |= uint32_t((last ? 1 : 0) | (dynamic ? 2 : 1) << 1) << bits;
        bits += 3;
    }
    open_ = true;
    const uint8_t* src = p;
    uint32_t left = static_cast<uint32_t>(len);
    do {
        const uint8_t* at = src;
        // At most 15 bits per input byte, and the placed header.
        const size_t room = 2 * size_t(left) + 1024;
        uint8_t* dst = out.tail(room);
        uint16_t pending = static_cast<uint16_t>(code);
        uint32_t dst_idx = 0;
        const uint32_t flush = last ? 2 : 0;
        const uint32_t cap = static_cast<uint32_t>(room);
        const vekStatus st =
            dynamic ? veksDeflateLZ77FastestPrecompHeader_8u(
                          &src, &left, &src_idx, at, kWindow, head, hash_size, &pending, &bits, dst,
                          cap, &dst_idx, codes_.lit(), codes_.dist(), codes_.header(),
                          codes_.header_bits(), flush)
                    : veksDeflateLZ77Fastest_8u(&src, &left, &src_idx, at, kWindow, head, hash_size,
                                                &pending, &bits, dst, cap, &dst_idx, flush);
        check_library(
            dynamic ? "veksDeflateLZ77FastestPrecompHeader_8u" : "veksDeflateLZ77Fastest_8u", st);
        out.advance(dst_idx);
        code = pending;
    } while (last && left > 0);  // without flush a tail stays for the next piece
    out.set_pending(code, bits);
    return static_cast<size_t>(src - p);
}

}  // namespace vekdc
