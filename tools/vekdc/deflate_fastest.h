// Blocks of the single-pass encoder and the codes they use. The library's
// statistics pass counts the items the encoder's own match rule gives on a
// sample of the input (a head table of its own, no history); the library
// then builds complete code tables and their dynamic block header from the
// counts. Every symbol gets a code, so the tables can code any later input;
// when the sample codes no smaller under them (header included) than under
// the fixed codes, the fixed codes are used instead.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate_blocks.h"
#include "vekdc.h"

namespace vekdc {

class FastestCodes {
  public:
    // Fits codes to the n bytes at p.
    void fit(const uint8_t* p, uint32_t n);

    // Whether the fitted dynamic codes are in use (else the fixed codes).
    bool dynamic() const { return dynamic_; }
    const vekDeflateHuffCode* lit() const { return lit_; }
    const vekDeflateHuffCode* dist() const { return dist_; }
    // The dynamic block header, BFINAL 1 and BTYPE 2 in its first 3 bits.
    const uint8_t* header() const { return header_; }
    int32_t header_bits() const { return static_cast<int32_t>(header_bits_); }
    // Writes the dynamic block header, with BFINAL as given.
    void write_header(deflate_blocks::BitOut& out, bool final) const;

    // Coded bits per input byte of the sample under the codes in use,
    // without the block header.
    double sample_bits_per_byte() const { return sample_bits_per_byte_; }

  private:
    std::vector<int32_t> head_;
    uint32_t next_idx_ = 0;  // stream position of the next sample
    vekDeflateHuffCode lit_[deflate_blocks::kLitSymbols];
    vekDeflateHuffCode dist_[deflate_blocks::kDistSymbols];
    // 17 + 19 * 3 + 316 * 14 bits at most.
    uint8_t header_[576];
    uint32_t header_bits_ = 0;
    bool dynamic_ = false;
    double sample_bits_per_byte_ = 8;
};

// Writes the blocks of the fastest level, a piece of input at a time. A
// block goes on over the following pieces while its codes stay in use and
// they code smaller than stored. Codes are fitted to the first piece of a
// stream (unless only the fixed codes are wanted), to the piece after
// stored ones, and to a piece that took more than kRefitWorse times the
// bits per byte of the codes' sample: that piece is then coded again, in a
// block of its own, with codes fitted to itself.
class FastestBlocks {
  public:
    explicit FastestBlocks(bool fixed_codes_only) : fixed_only_(fixed_codes_only) {}
    // A new stream.
    void reset() {
        refit_ = !fixed_only_;
        open_ = false;
    }

    enum class Kind { kDynamic, kFixed, kContinued, kStored };
    // Codes the len bytes at p, whose stream position is src_idx (advanced)
    // with the stream's history right before them, into out: in the open
    // block, a new one, or stored. With `last`, all of them, and the stream
    // ends. Returns the bytes consumed and in *kind how they went out.
    size_t code(deflate_blocks::BitOut& out, int32_t* head, uint32_t hash_size, uint32_t& src_idx,
                const uint8_t* p, size_t len, bool last, Kind* kind);
    // Ends the open block, if any, before stored blocks of the caller's;
    // the next piece fits new codes.
    void stored_next(deflate_blocks::BitOut& out) {
        close(out);
        refit_ = !fixed_only_;
    }
    // Ends the stream when no input is left for a last piece.
    void finish(deflate_blocks::BitOut& out);

  private:
    void close(deflate_blocks::BitOut& out);
    void put_end_of_block(deflate_blocks::BitOut& out) const;
    size_t encode(deflate_blocks::BitOut& out, int32_t* head, uint32_t hash_size, uint32_t& src_idx,
                  const uint8_t* p, size_t len, bool last);

    FastestCodes codes_;
    bool fixed_only_;
    bool refit_ = true;
    bool open_ = false;  // a block with codes_ goes on, without BFINAL
};

}  // namespace vekdc
