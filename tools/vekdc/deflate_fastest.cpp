#include "deflate_fastest.h"

#include <algorithm>

namespace vekdc {

using namespace deflate_blocks;

namespace {

constexpr uint32_t kWindow = 32768;
// Head table entries of the statistics pass: as many as the encoder's, so
// that the sample finds the matches the encoder will.
constexpr uint32_t kSampleHash = 65536;
// A block that takes this many times the bits per byte of its codes'
// sample has changed its statistics.
constexpr double kRefitWorse = 1.1;

}  // namespace

void FastestCodes::fit(const uint8_t* p, uint32_t n) {
    // Each sample starts more than a window past the end of the last, so
    // the table's old positions are never followed and need no clearing
    // (until the positions would grow too large).
    if (head_.empty() || next_idx_ > (1u << 30)) {
        head_.assign(kSampleHash, -static_cast<int32_t>(kWindow));
        next_idx_ = 0;
    }
    uint32_t lit_count[kLitSymbols] = {}, dist_count[kDistSymbols] = {};
    const uint8_t* src = p;
    uint32_t left = n, idx = next_idx_;
    check_library("veksDeflateLZ77FastestGetStat_8u",
                  veksDeflateLZ77FastestGetStat_8u(&src, &left, &idx, p, kWindow, head_.data(),
                                                   kSampleHash, lit_count, dist_count, 2));
    next_idx_ = idx + kWindow + 1;
    lit_count[kEndOfBlock] = 1;
    const vekStatus st = veksDeflateLZ77FastestGenHuffTable_8u(lit_count, dist_count, lit_, dist_);
    uint32_t header_bytes = 0;
    check_library(
        "veksDeflateLZ77FastestGenHeader_8u",
        veksDeflateLZ77FastestGenHeader_8u(lit_, dist_, header_, &header_bytes, &header_bits_));

    // Bits of the sample's items under both code sets.
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
    const bool fitted = refit_;
    if (refit_) {
        close(out);
        codes_.fit(p, static_cast<uint32_t>(len));
        refit_ = false;
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
