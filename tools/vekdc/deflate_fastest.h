// Blocks of the single-pass encoder and the codes they use. The library's
// statistics pass counts the items the encoder's own match rule gives on the
// input of a block (a head table of its own, no history); the library then
// builds complete code tables and their dynamic block header from the
// counts. Every symbol gets a code, so the tables can code any later input;
// when the input codes no smaller under them (header included) than under
// the fixed codes, the fixed codes are used instead.
#pragma once

#include <cstdint>
#include <vector>

#include "deflate_blocks.h"
#include "vekdc.h"

namespace vekdc {

class FastestCodes {
  public:
    // Fits codes to the n bytes at p, which sample() has just sampled
    // when `sampled`.
    void fit(const uint8_t* p, uint32_t n, bool sampled = false);
    // Counts the items of a small sample at the start of the n bytes at p.
    void sample(const uint8_t* p, uint32_t n);
    // Bits that codes fitted to the n sampled bytes are estimated to save
    // on them against the codes in use, their block header not counted.
    double refit_gain(uint32_t n) const;

    // Whether the fitted dynamic codes are in use (else the fixed codes).
    bool dynamic() const { return dynamic_; }
    const vekDeflateHuffCode* lit() const { return lit_; }
    const vekDeflateHuffCode* dist() const { return dist_; }
    // The dynamic block header, BFINAL 1 and BTYPE 2 in its first 3 bits.
    const uint8_t* header() const { return header_; }
    int32_t header_bits() const { return static_cast<int32_t>(header_bits_); }
    // Writes the dynamic block header, with BFINAL as given.
    void write_header(deflate_blocks::BitOut& out, bool final) const;

    // Coded bits per input byte of the input the codes were fitted to,
    // under the codes in use, without the block header.
    double sample_bits_per_byte() const { return sample_bits_per_byte_; }

  private:
    // A head table of the statistics pass and the stream position of the
    // next input it counts.
    struct Table {
        std::vector<int32_t> head;
        uint32_t next_idx = 0;
    };
    static uint32_t count(Table& table, uint32_t hash_size, const uint8_t* p, uint32_t n,
                          bool flush, uint32_t* lit_count, uint32_t* dist_count);
    double gain_per_byte(const uint32_t* lit_count, const uint32_t* dist_count,
                         uint32_t bytes) const;

    // The fits' table has as many entries as the encoder's, so that they
    // find the matches the encoder will; the samples' table is small
    // enough to leave the encoder's in the cache.
    Table fit_table_, sample_table_;
    // The last sample: its counts and the bytes they cover.
    uint32_t sample_lit_[deflate_blocks::kLitSymbols] = {};
    uint32_t sample_dist_[deflate_blocks::kDistSymbols] = {};
    uint32_t sample_bytes_ = 0;
    // The gain per byte that the sample of the codes' own input appears to
    // promise (the bias of the estimate on input they fit).
    double baseline_ = 0;
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
// stored ones and to a piece that coded clearly worse than the codes' own
// input (it is then coded again). While they stay, a small sample at the start of every few
// pieces estimates what codes of the piece's own would save; a piece whose
// sample promises clearly more than the sample the codes were fitted with
// gets a block with codes fitted to itself.
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
    bool open_ = false;         // a block with codes_ goes on, without BFINAL
    uint32_t since_probe_ = 0;  // pieces since the last sample or fit
};

}  // namespace vekdc
