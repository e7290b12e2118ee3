// Raw Deflate stream writer around the library's encoder stages; see
// deflate_encoder.h for the division of work.
//
// Levels (-l of the gzip, zlib and deflate formats, and the bench rows):
//
//   -1  fastest: the single-pass encoder, one hash probe, codes fitted to a
//       sample (deflate_fastest.h)
//    0  stored blocks only
//    1  veksDeflateLZ77Fast_8u with chain 1, inner positions of matches up to 8
//    2  library level 13  greedy, chain 5, good 8, every inner position
//    3  library level 22  greedy, chain 4, good 16, every inner position
//    4  library level 14  greedy, chain 16, nice length 32
//    5  library level 5   lazy, chain 32, nice length 32
//    6  veksDeflateLZ77Slow_8u with chain 48, good 8, nice 64, lazy 32 (the default),
//       merged with a single-probe parse (see below)
//    7  veksDeflateLZ77Slow_8u with chain 96, good 8, nice 128, lazy 64, merged
//    8  veksDeflateLZ77Slow_8u with chain 512, good 8, nice 128, lazy 258, merged
//    9  veksDeflateLZ77Slow_8u with chain 1024, good 8, nice 128, lazy 258, merged
//
// with a 65536-entry head table at every level (faster than 32768 at all of
// them, and the same or better ratios). The table was chosen by running all
// 30 library levels, lazy and greedy parameter sets between them and zlib's
// levels 1..9 (raw streams, memLevel 8) over the built-in bench corpus and
// over 4 MB each of /usr/bin executables and of manual pages and 1.7 MB of
// this project's sources ("sources"): level 1 and the levels from 6 on are
// the fastest found that stay within 1% of zlib's ratio at the same level
// on text and source code, levels 2 to 5 compress those at least as well
// as zlib.
//
// Level 1 takes a single candidate per position: a chain of 2 gains 2-6%
// on source code and binary records but costs a third of the speed on
// text; inner positions up to 8 rather than 5 gain 1.6% on source code and
// 0.5% on binary records for about 5% of the speed, and the single-probe
// search (library level 0/10/20) falls 3% short on text and 6% on source.
// Its items are short (on text under 5 bytes on average, some 300 000 per
// MiB), so the engine's time goes to the step from one item to the next.
//
// The chained engines match 4 bytes and more, zlib also 3, which costs up
// to 7% on the binary records of the corpus at levels 1..5 (most at
// level 1, whose single candidate also misses longer matches further
// back). Levels 6 to 9 make up for it with a second parse: each piece
// the lazy engine parses is parsed again by the single-probe search
// (library level 0 with a head table of its own: 3-byte matches), and
// between the input positions where both parses have an item boundary the
// items that cost fewer bits are taken (deflate_parse_merge.h). Merging
// goes on while it saves 1.5% of the bits at level 6 (1% at 7, 0.5% at 8
// and 9), and levels 6 and 7 then shorten their own search to chain 16,
// good 8, nice 32, lazy 16; text, source and manual pages rarely gain and
// lose up to 4% of their speed to the trials, runs 10-30%. (At 2%, level 6
// fell 1.2% short of zlib -6 on executables; the library's level 6, which
// level 7 took before, fell 1.3% short there and 3.8% on binary records.)
//
// Measured against zlib's same level (ratio: how much smaller than zlib's
// our stream is; speed over zlib's; CPU time, best of 3; the corpus items'
// first MiB; rows 6 and 7 measured again, in one run, with their present
// settings):
//
// clang-format off
//   lvl sources      executables  man pages    text         source       binary       runs
//    1  +2.4% 2.3x   +0.5% 2.4x   +3.6% 2.3x   +6.4% 2.5x   +1.2% 2.3x   -7.4% 2.2x   +103% 5.2x
//    2  +6.9% 1.7x   +2.2% 1.9x   +9.8% 1.7x   +6.6% 1.5x   +4.3% 1.6x   -5.0% 1.9x   +99% 4.2x
//    3  +4.0% 2.2x   +0.1% 2.4x   +6.9% 2.3x   +2.2% 2.8x   +0.6% 2.2x   -7.0% 3.1x   +97% 4.5x
//    4  +1.8% 1.9x   -0.3% 2.1x   +2.9% 1.9x   +3.7% 1.7x   +3.9% 1.7x   -3.0% 2.3x   -1.8% 8.4x
//    5  +0.8% 1.7x   -0.5% 1.9x   +1.7% 1.7x   +2.7% 1.7x   +1.5% 1.6x   -1.9% 2.4x   -1.0% 7.9x
//    6  -0.4% 2.4x   -0.8% 2.7x   +0.5% 2.6x   +1.1% 3.8x   -0.6% 2.3x   +0.8% 2.5x   +0.0% 7.9x
//    7  -0.4% 2.4x   -0.4% 2.8x   +0.6% 2.5x   +1.0% 3.9x   -0.4% 2.3x   +0.1% 3.8x   +0.9% 7.4x
//    8  -0.1% 2.1x   +0.6% 2.5x   +0.7% 2.1x   +1.0% 3.6x   +0.2% 2.2x   +0.5% 4.0x   +4.5% 5.6x
//    9  -0.1% 2.5x   +0.6% 2.7x   +0.7% 2.1x   +1.0% 3.6x   +0.2% 2.4x   +0.4% 5.3x   +3.6% 8.4x
// clang-format on
//
// Random data: the same size (stored blocks, found by samples), 15-30
// times zlib's speed. The fastest level has no zlib counterpart: with the
// fixed codes it comes to 76-86% of zlib -1's ratio on all but random data
// and runs; codes fitted to the input take it to about ISA-L -1's ratio
// (text +4%, source -0.5%, binary -2.5%; a 30 MB tar of executables and
// libraries and a 9 MB concatenation of manual pages, an executable and
// headers the same as ISA-L -1, a 30 MB tar of documentation 1.7% short,
// its already compressed files stored) at 95% of its speed on text and
// source, 70% on binary records and 75% on the tar of executables.
//
// Memory: the input goes through one buffer holding the 32 KiB the matches
// may reach back into, the input of the open block (up to kKeepBlock of it)
// and the next piece read, about 1.3 MiB in all (the second parse of levels
// 6, 8 and 9 adds 1.6 MiB); the compressed output of a block is handed to
// the sink as soon as the block is complete. The fastest engine codes a
// stream's first piece, when large, where the caller keeps it (the same
// blocks, so the same stream) and buffers only what is left.
//
// Blocks (pair engines): the LZ77 stage fills segments of up to 4096 pairs;
// a complete segment joins the open block unless its symbol statistics
// differ enough that two blocks are estimated to be smaller than one. A
// block also ends at 65535 pairs. Each block is written in whichever of the
// three Deflate block types is smallest for it, counted exactly: dynamic
// codes (optimal length-limited codes from the block's counts, with a
// run-length coded header), the fixed codes, or stored (incompressible
// data). Stored data goes out in whole 65535-byte stored blocks, the rest
// carried on to the next block, so incompressible input takes no more
// stored blocks than at level 0. The fastest engine writes a block per
// 65535 input bytes and stores those that coding would enlarge. Its codes
// are fitted to the library's statistics of the first block of a stream
// (the fixed codes where those come out smaller, as on small inputs), and
// fitted again after stored blocks and when a block takes more than 1.1
// times the bits per byte of the codes' own input: that block is then coded
// again with codes fitted to itself. Input whose statistics change without
// coding that much worse (or change for the better) is found by samples:
// the statistics of 2 KiB at the start of every third block give an
// estimate of what codes of the block's own would save (each item costed
// under the frequencies of the sample's other items, smoothed towards the
// codes in use), less what the same estimate promised on the sample of the
// codes' own input (samples counted without history, and small ones, look
// better than the codes fitted to a whole block even where nothing
// changed); a block promised more than 12% of its bits and its header gets
// codes fitted to itself (a sample of under 256 items, as in runs, says
// too little). On the tar of executables this gains 10% (83% of what
// fitting every block would, at twice the speed of that) for 3-6% of the
// speed; the samples cost 1-2% on input that does not change, and the
// corpus's binary records gain 1.5% for 5%.
// At the start of a stream and after a stored block, both engines first
// code 1 KiB samples of what follows (every 8 KiB, for the fastest engine
// every 16 KiB) alone; the stretch up to the first sample that shrinks (for
// the pair engines: or whose bytes are not near-uniform) goes out stored
// without a search.
#include "deflate_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "deflate_blocks.h"
#include "deflate_fastest.h"
#include "deflate_parse_merge.h"

namespace vekdc {

namespace {

using namespace deflate_blocks;

constexpr uint32_t kWindow = 32768;               // Deflate's largest distance
constexpr size_t kHistory = kWindow;              // bytes kept before the next input byte
constexpr size_t kCallInput = size_t(256) << 10;  // input per LZ77 call
// Input per fastest-engine block: a block that is stored after all takes one
// stored block.
constexpr size_t kFastBlock = kMaxStored;
constexpr size_t kReadPiece = size_t(1) << 20;    // room for new input after a slide
constexpr size_t kKeepBlock = size_t(256) << 10;  // open-block input kept in a slide
constexpr size_t kBufferSize = kHistory + kKeepBlock + kReadPiece;

// LZ77 calls without flush leave this many bytes for the next call.
constexpr size_t kLookahead = 262;
// Incompressible input (random or already compressed data) is found by
// samples instead of a search: at the start of a stream and after a stored
// block, the engines code kProbeBytes at every probe step of the next block
// alone (8 KiB for the pair engines, 16 KiB for the fastest one, which
// decides in 64 KiB blocks anyway), and the samples up to the first that
// shrinks mark a stretch that goes out stored without a search. Stretches
// shorter than a step are left to the search.
constexpr uint32_t kProbeBytes = 1024;
constexpr size_t kProbeStepPairs = 8192;
constexpr size_t kProbeStepFastest = 16384;
constexpr uint32_t kProbeHash = 1024;
// Byte entropy (bits per byte) of a sample below which dynamic codes are
// expected to shrink it (uniform random bytes measure about 7.82).
constexpr double kProbeEntropy = 7.7;
// The single-pass encoders' main loops stop at most this far before the
// input end (the fixed-code one; the dynamic one at 258 bytes).
constexpr size_t kFastestTail = 275;

}  // namespace

DeflateSettings deflate_settings_for_level(int level) {
    // Tool levels 1..9: a library level of veksDeflateLZ77_8u, or (level
    // -1 in the table) the lazy engine veksDeflateLZ77Slow_8u, or (-2) the
    // greedy engine veksDeflateLZ77Fast_8u, run with parameters of our own.
    struct Choice {
        int library_level;
        vekLZ77LevelParams search;
        vekLZ77LevelParams while_merging;
        double merge_saving;  // the lazy levels: share of the bits a merge must save
    };
    static const Choice kChoice[9] = {
        {-2, {1, 16, 16, 8}, {}, 0},
        {13, {}, {}, 0},
        {22, {}, {}, 0},
        {14, {}, {}, 0},
        {5, {}, {}, 0},
        {-1, {48, 8, 64, 32}, {16, 8, 32, 16}, 0.015},
        {-1, {96, 8, 128, 64}, {16, 8, 32, 16}, 0.01},
        {-1, {512, 8, 128, 258}, {}, 0.005},
        {-1, {1024, 8, 128, 258}, {}, 0.005},
    };
    level = std::max(kDeflateMinLevel, std::min(kDeflateMaxLevel, level));
    DeflateSettings s;
    s.hash_size = 65536;
    if (level == 0) {
        s.engine = DeflateEngine::kStored;
    } else if (level == kDeflateFastestLevel) {
        s.engine = DeflateEngine::kFastest;
    } else {
        const Choice& c = kChoice[level - 1];
        s.engine = DeflateEngine::kPairs;
        s.merge_single_probe = c.library_level == -1;  // the lazy levels
        if (c.library_level >= 0) {
            s.library_level = c.library_level;
        } else {
            s.custom_search = true;
            s.lazy = c.library_level == -1;
            s.search = c.search;
            s.merge_search = c.while_merging;
            s.merge_min_saving = c.merge_saving;
        }
    }
    return s;
}

// --- the encoder --------------------------------------------------------------------

class DeflateEncoder::Impl {
  public:
    explicit Impl(const DeflateSettings& s)
        : s_(s),
          buf_(kBufferSize),
          head_(s.hash_size),
          prev_(s.engine == DeflateEngine::kPairs ? kWindow : 0),
          probe_head_(s.engine != DeflateEngine::kStored ? kProbeHash : 0),
          probe_out_(s.engine != DeflateEngine::kStored ? 2 * kProbeBytes : 0),
          lit_(s.engine == DeflateEngine::kPairs ? s.block_pairs : 0),
          dist_(s.engine == DeflateEngine::kPairs ? s.block_pairs : 0),
          merger_(s.engine == DeflateEngine::kPairs && s.merge_single_probe
                      ? std::make_unique<SingleProbeMerger>(kCallInput, s.merge_min_saving)
                      : nullptr),
          fastest_(s.fastest_fixed_codes) {
        reset();
    }

    void reset() {
        pos_ = end_ = kHistory;
        block_start_ = seg_start_ = static_cast<int64_t>(kHistory);
        if (merger_) merger_->reset();
        npairs_ = committed_ = 0;
        carry_ = 0;
        if (s_.engine == DeflateEngine::kFastest && head_ready_ && src_idx_ < (1u << 30)) {
            // The fastest engine's table holds positions of the last stream
            // only, all below src_idx_: started more than a window further
            // on, the next stream follows none of them, exactly as if the
            // table were cleared, and the 256 KiB need not be written.
            src_idx_ += kWindow + 1;
        } else {
            src_idx_ = 0;
            std::fill(head_.begin(), head_.end(), -static_cast<int32_t>(kWindow));
            head_ready_ = true;
        }
        stream_start_ = src_idx_;
        std::fill(prev_.begin(), prev_.end(), -static_cast<int32_t>(kWindow));
        std::fill(block_lit_, block_lit_ + kLitSymbols, 0u);
        std::fill(block_dist_, block_dist_ + kDistSymbols, 0u);
        std::fill(seg_lit_, seg_lit_ + kLitSymbols, 0u);
        std::fill(seg_dist_, seg_dist_ + kDistSymbols, 0u);
        out_.clear();
        finished_ = false;
        probe_next_ = true;
        fastest_.reset();
    }

    void write(const uint8_t* p, size_t n, DeflateSink& sink) {
        if (s_.engine == DeflateEngine::kFastest && src_idx_ == stream_start_ && pos_ == end_ &&
            n >= 2 * (kFastBlock + kFastestTail)) {
            // A stream's first input, when large, is coded where it lies:
            // no history precedes it, so the input is its own window. What
            // the blocks leave over goes to the buffer with its history.
            size_t at = 0;
            process_fastest_at(p, at, n, false, sink);
            const size_t history = std::min(at, kHistory);
            std::memcpy(buf_.data() + kHistory - history, p + at - history, history);
            pos_ = end_ = kHistory;
            p += at;
            n -= at;
        }
        while (n > 0) {
            if (end_ == buf_.size()) {
                process(false, sink);
                slide(sink);
            }
            const size_t k = std::min(n, buf_.size() - end_);
            std::memcpy(buf_.data() + end_, p, k);
            end_ += k;
            p += k;
            n -= k;
        }
    }

    void finish(DeflateSink& sink) {
        if (finished_) return;
        process(true, sink);
        out_.align();
        out_.drain(sink);
        finished_ = true;
    }

    Stats stats;

  private:
    // Moves the history, the uncoded input and the input of the open block
    // (if it is at most kKeepBlock) to the front. A larger open block lets
    // its input go, after which it can no longer be stored (its start goes
    // negative): it has at least 4 input bytes per pair, and if storing
    // would still be smaller it is written here first. Carried stored bytes
    // before it are written out first.
    void slide(DeflateSink& sink) {
        if (s_.engine == DeflateEngine::kPairs && block_start_ >= 0 &&
            pos_ - static_cast<size_t>(block_start_) > kKeepBlock) {
            // (Closing the segment may write the block before it and leave
            // a rest to carry.)
            if (npairs_ > 0) close_segment();
            if (carry_ > 0) {
                out_.flush_bytes();
                write_stored(out_, buf_.data() + block_start_, carry_, false);
                ++stats.stored;
                block_start_ += static_cast<int64_t>(carry_);
                carry_ = 0;
            }
            if (npairs_ > 0 && pos_ - static_cast<size_t>(block_start_) > kKeepBlock) {
                const BlockCosts c = prepare_block(static_cast<int64_t>(pos_));
                if (c.stored < c.dynamic && c.stored < c.fixed) emit_block(false);
            }
            out_.drain(sink);
        }
        size_t keep_from = pos_ - kHistory;
        if (s_.engine == DeflateEngine::kPairs && block_start_ >= 0 &&
            pos_ - static_cast<size_t>(block_start_) <= kKeepBlock)
            keep_from = std::min(keep_from, static_cast<size_t>(block_start_));
        std::memmove(buf_.data(), buf_.data() + keep_from, end_ - keep_from);
        pos_ -= keep_from;
        end_ -= keep_from;
        block_start_ -= static_cast<int64_t>(keep_from);
        seg_start_ -= static_cast<int64_t>(keep_from);
    }

    void process(bool final_input, DeflateSink& sink) {
        switch (s_.engine) {
            case DeflateEngine::kStored:
                process_stored(final_input);
                break;
            case DeflateEngine::kFastest:
                process_fastest(final_input, sink);
                break;
            case DeflateEngine::kPairs:
                process_pairs(final_input, sink);
                break;
        }
        out_.drain(sink);
    }

    void process_stored(bool final_input) {
        for (;;) {
            const size_t avail = end_ - pos_;
            if (!final_input && avail < kMaxStored) return;
            const size_t k = std::min(avail, kMaxStored);
            const bool last = final_input && k == avail;
            write_stored(out_, buf_.data() + pos_, k, last);
            ++stats.stored;
            pos_ += k;
            if (last) return;
        }
    }

    void process_fastest(bool final_input, DeflateSink& sink) {
        process_fastest_at(buf_.data(), pos_, end_, final_input, sink);
    }

    // One fixed-code block per kFastBlock of input, each replaced by stored
    // blocks when those are smaller: the input from base + pos to base + end,
    // with the stream's history (if any) right before base + pos.
    void process_fastest_at(const uint8_t* base, size_t& pos, size_t end, bool final_input,
                            DeflateSink& sink) {
        for (;;) {
            const size_t avail = end - pos;
            if (!final_input && avail < kFastBlock + kFastestTail) return;
            if (avail == 0) {
                // Nothing (more) to code: an empty final block.
                fastest_.finish(out_);
                ++stats.fixed;
                return;
            }
            const size_t len = std::min(avail, kFastBlock);
            const bool last = final_input && len == avail;
            const size_t plain = probe_next_ ? incompressible_prefix(base + pos, len, false) : 0;
            if (plain > 0) {
                // Not coded at all: the library's position moves past these
                // bytes, whose positions stay out of the head table.
                const bool end = last && plain == len;
                out_.flush_bytes();
                fastest_.stored_next(out_);
                write_stored(out_, base + pos, plain, end);
                ++stats.stored;
                src_idx_ += static_cast<uint32_t>(plain);
                pos += plain;
                out_.drain(sink);
                if (end) return;
                continue;
            }
            probe_next_ = false;
            FastestBlocks::Kind kind;
            const size_t consumed = fastest_.code(out_, head_.data(), s_.hash_size, src_idx_,
                                                  base + pos, len, last, &kind);
            if (kind == FastestBlocks::Kind::kStored) {
                ++stats.stored;
                probe_next_ = true;
            } else if (kind != FastestBlocks::Kind::kContinued) {
                ++(kind == FastestBlocks::Kind::kDynamic ? stats.dynamic : stats.fixed);
            }
            pos += consumed;
            out_.drain(sink);
            if (last) return;
        }
    }

    // How many of the n bytes at p go out stored without a search: the
    // samples at 0, step, 2 step, ... (those that fit) up to the first that
    // codes smaller than stored, all n when none does; 0 below one step.
    size_t incompressible_prefix(const uint8_t* p, size_t n, bool dynamic) {
        const size_t step = dynamic ? kProbeStepPairs : kProbeStepFastest;
        size_t at = 0;
        for (; at + kProbeBytes <= n; at += step)
            if (!sample_is_incompressible(p + at, dynamic)) break;
        if (at + kProbeBytes > n) at = n;
        return at >= step ? at : 0;
    }

    // Whether the kProbeBytes at p come out larger with fixed codes than
    // stored when coded alone (own head table, no history). With `dynamic`
    // a block could also have codes of its own, which shrink skewed bytes
    // without any match: the byte entropy must then be near 8 bits too.
    bool sample_is_incompressible(const uint8_t* p, bool dynamic) {
        if (dynamic) {
            uint32_t count[256] = {};
            for (uint32_t i = 0; i < kProbeBytes; ++i) ++count[p[i]];
            static const std::vector<float> c_log2_c = [] {
                std::vector<float> t(kProbeBytes + 1, 0.0f);
                for (uint32_t c = 1; c <= kProbeBytes; ++c)
                    t[c] = static_cast<float>(c * std::log2(double(c)));
                return t;
            }();
            double sum = 0;
            for (uint32_t c : count) sum += c_log2_c[c];
            const double bits_per_byte = std::log2(double(kProbeBytes)) - sum / kProbeBytes;
            if (bits_per_byte < kProbeEntropy) return false;
        }
        std::fill(probe_head_.begin(), probe_head_.end(), -static_cast<int32_t>(kWindow));
        const uint8_t* src = p;
        uint32_t left = kProbeBytes, idx = 0, bits = 3, dst_idx = 0;
        uint16_t code = 0;
        const vekStatus st = veksDeflateLZ77Fastest_8u(
            &src, &left, &idx, p, kWindow, probe_head_.data(),
            static_cast<uint32_t>(probe_head_.size()), &code, &bits, probe_out_.data(),
            static_cast<uint32_t>(probe_out_.size()), &dst_idx, 2);
        check_library("veksDeflateLZ77Fastest_8u", st);
        return left != 0 || dst_idx >= kProbeBytes;
    }

    // The pairs of a block come in segments of up to segment_pairs. When a
    // segment is complete it either joins the block or, when its symbol
    // statistics differ enough that two blocks are estimated to be smaller
    // than one, the block so far is written and the segment starts the next.
    void process_pairs(bool final_input, DeflateSink& sink) {
        for (;;) {
            const size_t avail = end_ - pos_;
            const size_t len = std::min(avail, kCallInput);
            const bool flush = final_input && len == avail;
            if (!flush && avail < kLookahead) return;  // wait for more input
            if (probe_next_ && npairs_ == 0 && block_start_ >= 0 &&
                pos_ - static_cast<size_t>(block_start_) == carry_) {
                // No pairs open, only carried stored bytes: the input up to
                // a whole stored block may go out stored without a search.
                const size_t n = std::min(avail, kMaxStored - carry_);
                const size_t k = incompressible_prefix(buf_.data() + pos_, n, true);
                const bool last = final_input && k == avail;
                if (k == 0) {
                    probe_next_ = false;
                } else {
                    out_.flush_bytes();
                    write_stored(out_, buf_.data() + block_start_, carry_ + k, last);
                    ++stats.stored;
                    src_idx_ += static_cast<uint32_t>(k);
                    if (merger_) merger_->skip(static_cast<uint32_t>(k));
                    pos_ += k;
                    carry_ = 0;
                    block_start_ = seg_start_ = static_cast<int64_t>(pos_);
                    out_.drain(sink);
                    if (last) return;
                    continue;
                }
            }
            const uint32_t seg_pairs = npairs_ - committed_;
            const uint32_t room_before =
                std::min(s_.segment_pairs - seg_pairs, s_.block_pairs - npairs_);
            uint32_t room = room_before;
            if (avail > 0) {
                const uint8_t* start = buf_.data() + pos_;
                const uint8_t* src = start;
                uint32_t left = static_cast<uint32_t>(len);
                std::memset(lit_freq_, 0, sizeof lit_freq_);
                std::memset(dist_freq_, 0, sizeof dist_freq_);
                find_pairs(&src, &left, start, &room, flush);
                bool merged_short = false;
                if (merger_ && src != start) {
                    const uint32_t made = room_before - room;
                    room =
                        room_before - merger_->merge(start, static_cast<uint32_t>(src - start),
                                                     lit_.data() + npairs_, dist_.data() + npairs_,
                                                     made, room_before, lit_freq_, dist_freq_);
                    // Fewer pairs than the engine made: the segment is
                    // closed rather than topped up by ever shorter calls.
                    merged_short = room_before - room < made && room < s_.segment_pairs / 4;
                }
                pos_ += static_cast<size_t>(src - start);
                npairs_ += room_before - room;
                if (merged_short) room = 0;
                // Calls make fewer than 65536 pairs: the 16-bit counters are exact.
                for (int i = 0; i < kLitSymbols; ++i) seg_lit_[i] += lit_freq_[i].freq;
                for (int i = 0; i < kDistSymbols; ++i) seg_dist_[i] += dist_freq_[i].freq;
                if (src == start && !flush && room >= 2) return;  // wait for more input
            }
            const bool done = flush && pos_ == end_;
            if (done || room < 2) {
                close_segment();
                if (done || s_.block_pairs - npairs_ < 2) {
                    emit_block(done);
                    out_.drain(sink);
                }
            }
            if (done) return;
        }
    }

    void find_pairs(const uint8_t** src, uint32_t* left, const uint8_t* window, uint32_t* room,
                    bool flush) {
        uint8_t* lit = lit_.data() + npairs_;
        uint16_t* dist = dist_.data() + npairs_;
        const uint32_t f = flush ? 2 : 0;
        vekStatus st;
        if (!s_.custom_search) {
            st = veksDeflateLZ77_8u(src, left, &src_idx_, window, kWindow, head_.data(),
                                    prev_.data(), s_.hash_size, lit_freq_, dist_freq_, lit, dist,
                                    room, s_.library_level, f);
            check_library("veksDeflateLZ77_8u", st);
        } else if (s_.lazy) {
            // While the single-probe pairs are taken, the engine may do
            // with a shorter search.
            const bool lighter = merger_ && s_.merge_search.maxChain > 0 && merger_->paying();
            st = veksDeflateLZ77Slow_8u(src, left, &src_idx_, window, kWindow, head_.data(),
                                        prev_.data(), s_.hash_size, lit_freq_, dist_freq_, lit,
                                        dist, room, lighter ? &s_.merge_search : &s_.search, f);
            check_library("veksDeflateLZ77Slow_8u", st);
        } else {
            st = veksDeflateLZ77Fast_8u(src, left, &src_idx_, window, kWindow, head_.data(),
                                        prev_.data(), s_.hash_size, lit_freq_, dist_freq_, lit,
                                        dist, room, &s_.search, f);
            check_library("veksDeflateLZ77Fast_8u", st);
        }
    }

    // Joins the segment to the block, or first writes the block without it.
    void close_segment() {
        if (committed_ > 0 && s_.split_blocks) {
            uint32_t both_lit[kLitSymbols], both_dist[kDistSymbols];
            for (int i = 0; i < kLitSymbols; ++i) both_lit[i] = block_lit_[i] + seg_lit_[i];
            for (int i = 0; i < kDistSymbols; ++i) both_dist[i] = block_dist_[i] + seg_dist_[i];
            const double apart = estimate_block_bits(block_lit_, block_dist_) +
                                 estimate_block_bits(seg_lit_, seg_dist_);
            if (apart < estimate_block_bits(both_lit, both_dist)) {
                // The segment follows, so this block is not the last.
                const uint32_t seg_pairs = npairs_ - committed_;
                const int64_t seg_start = seg_start_;
                npairs_ = committed_;
                emit_pairs(seg_start, false);
                std::memmove(lit_.data(), lit_.data() + committed_, seg_pairs);
                std::memmove(dist_.data(), dist_.data() + committed_, seg_pairs * sizeof(uint16_t));
                npairs_ = seg_pairs;
                committed_ = 0;
                block_start_ = seg_start - static_cast<int64_t>(carry_);
                std::fill(block_lit_, block_lit_ + kLitSymbols, 0u);
                std::fill(block_dist_, block_dist_ + kDistSymbols, 0u);
            }
        }
        for (int i = 0; i < kLitSymbols; ++i) block_lit_[i] += seg_lit_[i];
        for (int i = 0; i < kDistSymbols; ++i) block_dist_[i] += seg_dist_[i];
        std::fill(seg_lit_, seg_lit_ + kLitSymbols, 0u);
        std::fill(seg_dist_, seg_dist_ + kDistSymbols, 0u);
        committed_ = npairs_;
        seg_start_ = static_cast<int64_t>(pos_);
    }

    // Writes every pair of the block (all committed) and starts the next.
    void emit_block(bool final) {
        emit_pairs(static_cast<int64_t>(pos_), final);
        npairs_ = committed_ = 0;
        seg_start_ = static_cast<int64_t>(pos_);
        block_start_ = seg_start_ - static_cast<int64_t>(carry_);
        std::fill(block_lit_, block_lit_ + kLitSymbols, 0u);
        std::fill(block_dist_, block_dist_ + kDistSymbols, 0u);
    }

    struct BlockCosts {
        uint64_t dynamic, fixed, stored;  // bits; stored is UINT64_MAX when impossible
    };

    // Code lengths, header and the cost of each block type for the pairs
    // [0, npairs_) with the counts in block_lit_/block_dist_, whose input is
    // buf_[block_start_, end).
    BlockCosts prepare_block(int64_t end) {
        const FixedCodes& fixed = fixed_codes();
        uint32_t lit_count[kLitSymbols];
        std::memcpy(lit_count, block_lit_, sizeof lit_count);
        const uint32_t* dist_count = block_dist_;
        lit_count[kEndOfBlock] = 1;

        build_lengths(lit_count, kLitSymbols, kMaxCodeBits, lit_len_);
        build_lengths(dist_count, kDistSymbols, kMaxCodeBits, dist_len_);
        header_.build(lit_len_, dist_len_);

        uint64_t extra = 0, dyn = 3 + header_.bits, fix = 3;
        for (int i = 0; i < kLitSymbols; ++i) {
            dyn += uint64_t(lit_count[i]) * lit_len_[i];
            fix += uint64_t(lit_count[i]) * fixed.lit_len[i];
        }
        for (int c = 0; c < 29; ++c) extra += uint64_t(lit_count[257 + c]) * kLenExtra[c];
        for (int i = 0; i < kDistSymbols; ++i) {
            dyn += uint64_t(dist_count[i]) * dist_len_[i];
            fix += uint64_t(dist_count[i]) * 5;
            extra += uint64_t(dist_count[i]) * kDistExtra[i];
        }
        // Carried bytes go first: in the stored block(s) of this block, or
        // in stored blocks of their own before a coded one.
        const unsigned at = out_.pending_bits() % 8;
        const uint64_t carried = carry_ > 0 ? stored_cost(at, carry_) : 0;
        BlockCosts c;
        c.dynamic = carried + dyn + extra;
        c.fixed = carried + fix + extra;
        c.stored = block_start_ >= 0 ? stored_cost(at, static_cast<size_t>(end - block_start_))
                                     : UINT64_MAX;
        return c;
    }

    // Writes the pairs [0, npairs_) as the smallest of the three block types.
    void emit_pairs(int64_t end, bool final) {
        const BlockCosts c = prepare_block(end);
        out_.flush_bytes();
        if (c.stored < c.dynamic && c.stored < c.fixed) {
            // Whole stored blocks now; a shorter rest is carried into the
            // next block unless this is the last.
            const size_t total = static_cast<size_t>(end - block_start_);
            const size_t now = final ? total : total / kMaxStored * kMaxStored;
            probe_next_ = true;
            if (final || now > 0) {
                write_stored(out_, buf_.data() + block_start_, now, final);
                ++stats.stored;
            }
            carry_ = total - now;
            return;
        }
        if (carry_ > 0) {
            write_stored(out_, buf_.data() + block_start_, carry_, false);
            ++stats.stored;
            carry_ = 0;
        }
        probe_next_ = false;
        const FixedCodes& fixed = fixed_codes();
        const vekDeflateHuffCode* lc = fixed.lit;
        const vekDeflateHuffCode* dc = fixed.dist;
        out_.put(final ? 1 : 0, 1);
        if (c.fixed <= c.dynamic) {
            out_.put(1, 2);
            ++stats.fixed;
        } else {
            out_.put(2, 2);
            header_.write(out_);
            assign_codes(lit_len_, kLitSymbols, lit_codes_);
            assign_codes(dist_len_, kDistSymbols, dist_codes_);
            lc = lit_codes_;
            dc = dist_codes_;
            ++stats.dynamic;
        }
        out_.flush_bytes();
        // At most 48 bits per pair, plus the pending bits.
        uint8_t* dst = out_.tail(6 * size_t(npairs_) + 16);
        uint16_t code = static_cast<uint16_t>(out_.pending());
        uint32_t bits = out_.pending_bits(), dst_idx = 0;
        const vekStatus st = veksDeflateHuff_8u(lit_.data(), dist_.data(), npairs_, &code, &bits,
                                                lc, dc, dst, &dst_idx);
        check_library("veksDeflateHuff_8u", st);
        out_.advance(dst_idx);
        out_.set_pending(code, bits);
        out_.put(lc[kEndOfBlock].code, lc[kEndOfBlock].len);
    }

    const DeflateSettings s_;
    std::vector<uint8_t> buf_;
    // buf_[pos_, end_) is input not yet coded; at least kHistory bytes
    // precede pos_. The open block's input starts at block_start_, its
    // current segment's at seg_start_ (negative: no longer in the buffer).
    size_t pos_ = 0, end_ = 0;
    int64_t block_start_ = 0, seg_start_ = 0;
    // The first carry_ bytes from block_start_ belong to earlier blocks that
    // were stored: their rest after whole 65535-byte stored blocks, which
    // goes with the next stored block so that incompressible data takes no
    // more stored blocks than at level 0.
    size_t carry_ = 0;
    uint32_t src_idx_ = 0;       // the library's stream position of buf_[pos_]
    uint32_t stream_start_ = 0;  // src_idx_ at the start of the stream
    bool head_ready_ = false;    // head_ holds no position a new stream may follow
    std::vector<int32_t> head_, prev_;
    std::vector<int32_t> probe_head_;
    std::vector<uint8_t> probe_out_;
    // Pairs of the open block: [0, committed_) joined, [committed_, npairs_)
    // the current segment.
    std::vector<uint8_t> lit_;
    std::vector<uint16_t> dist_;
    uint32_t npairs_ = 0, committed_ = 0;
    uint32_t block_lit_[kLitSymbols], block_dist_[kDistSymbols];
    uint32_t seg_lit_[kLitSymbols], seg_dist_[kDistSymbols];
    vekDeflateFreqEntry lit_freq_[kLitSymbols];
    vekDeflateFreqEntry dist_freq_[kDistSymbols];
    uint8_t lit_len_[kLitSymbols], dist_len_[kDistSymbols];
    vekDeflateHuffCode lit_codes_[kLitSymbols];
    vekDeflateHuffCode dist_codes_[kDistSymbols];
    // With merge_single_probe: the second parse and its merge.
    std::unique_ptr<SingleProbeMerger> merger_;
    DynamicHeader header_;
    BitOut out_;
    bool finished_ = false;
    // The fastest engine probes a block only at the start and after a
    // stored one: data that codes well is not probed again until it stops.
    bool probe_next_ = true;
    FastestBlocks fastest_;
};

DeflateEncoder::DeflateEncoder(const DeflateSettings& settings)
    : impl_(std::make_unique<Impl>(settings)) {}

DeflateEncoder::~DeflateEncoder() = default;

void DeflateEncoder::reset() {
    impl_->reset();
}

void DeflateEncoder::write(const uint8_t* data, size_t n, DeflateSink& sink) {
    impl_->write(data, n, sink);
}

void DeflateEncoder::finish(DeflateSink& sink) {
    impl_->finish(sink);
}

void DeflateEncoder::compress(const uint8_t* data, size_t n, std::vector<uint8_t>& out) {
    out.clear();
    VectorSink sink(out);
    impl_->reset();
    impl_->write(data, n, sink);
    impl_->finish(sink);
}

const DeflateEncoder::Stats& DeflateEncoder::stats() const {
    return impl_->stats;
}

}  // namespace vekdc
