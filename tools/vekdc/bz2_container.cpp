// The .bz2 container around the library's block-sorting stages; the layout
// is described in bz2_container.h.
#include "bz2_container.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vekdc.h"

namespace vekdc::bz2 {

namespace {

constexpr uint64_t kBlockMagic = 0x314159265359ull;
constexpr uint64_t kEndMagic = 0x177245385090ull;
// The Huffman decoder refuses contexts with more selectors than a state
// sized for this many symbols holds: the 18002 groups of 50 symbols of the
// largest block.
constexpr int32_t kDecoderStateSymbols = 18002 * 50;
// Room for the packed context (selectors of up to six bits each, six tables
// of delta-coded lengths) and the block header on top of the coded symbols.
constexpr size_t kContextRoom = 64 << 10;
constexpr size_t kLongestCode = 17;
constexpr size_t kInputChunk = 64 << 10;
constexpr size_t kOutputChunk = 256 << 10;

template <typename T>
std::unique_ptr<T[]> uninitialised(size_t n) {
    return std::unique_ptr<T[]>(new T[n]);
}

std::string status_text(vekStatus st) {
    return std::to_string(static_cast<int>(st));
}

[[noreturn]] void library_failed(const char* fn, vekStatus st) {
    throw Bz2Error(std::string("bzip2: ") + fn + " failed with status " + status_text(st));
}

void check(const char* fn, vekStatus st) {
    if (st != vekStatusOk) library_failed(fn, st);
}

[[noreturn]] void corrupt(const std::string& what) {
    throw Bz2Error("corrupt bzip2 stream: " + what);
}

[[noreturn]] void truncated() {
    throw Bz2Error("truncated bzip2 stream: unexpected end of input");
}

uint32_t rotate_in(uint32_t combined, uint32_t block_crc) {
    return ((combined << 1) | (combined >> 31)) ^ block_crc;
}

void crc_update(const uint8_t* p, size_t n, uint32_t* crc) {
    while (n > 0) {
        const int32_t k = static_cast<int32_t>(std::min<size_t>(n, size_t(1) << 30));
        check("veksCRC32_BZ2_8u", veksCRC32_BZ2_8u(p, k, crc));
        p += k;
        n -= static_cast<size_t>(k);
    }
}

}  // namespace

bool looks_like_bz2(const uint8_t* p, size_t n) {
    return n >= 3 && p[0] == 'B' && p[1] == 'Z' && p[2] == 'h';
}

size_t MemorySource::get(uint8_t* dst, size_t cap) {
    const size_t k = std::min({cap, n_, piece_});
    if (k > 0) std::memcpy(dst, p_, k);
    p_ += k;
    n_ -= k;
    return k;
}

// --- encoder --------------------------------------------------------------------

struct Encoder::Buffers {
    explicit Buffers(int32_t fill) {
        int32_t size = 0;
        check("veksBWTFwdGetSize_8u", veksBWTFwdGetSize_8u(fill + 1, &size));
        bwt_work = uninitialised<uint8_t>(static_cast<size_t>(size));
        check("veksEncodeHuffGetSize_BZ2_16u8u", veksEncodeHuffGetSize_BZ2_16u8u(fill + 2, &size));
        huff_state = uninitialised<uint8_t>(static_cast<size_t>(size));
        check("veksMTFGetSize_8u", veksMTFGetSize_8u(&size));
        mtf_state = uninitialised<uint8_t>(static_cast<size_t>(size));
        // The filled block and the count of a run it closes.
        const int32_t n = fill + 1;
        rle = uninitialised<uint8_t>(static_cast<size_t>(n));
        last = uninitialised<uint8_t>(static_cast<size_t>(n));
        // Zero runs take fewer symbols than bytes; one more for end-of-block.
        sym_cap = n + 1;
        sym = uninitialised<uint16_t>(static_cast<size_t>(sym_cap));
        out_cap = static_cast<size_t>(sym_cap) * kLongestCode / 8 + kContextRoom;
        out = uninitialised<uint8_t>(out_cap);
    }
    vekRLEState_BZ2 rle_state;
    std::unique_ptr<uint8_t[]> bwt_work, huff_state, mtf_state;
    std::unique_ptr<uint8_t[]> rle;   // run-length output; later the move-to-front ranks
    std::unique_ptr<uint8_t[]> last;  // last column of the sorted rotations
    std::unique_ptr<uint16_t[]> sym;
    int32_t sym_cap;
    uint32_t freq[258];
    std::unique_ptr<uint8_t[]> out;
    size_t out_cap;
};

Encoder::Encoder(int level) : level_(level) {
    if (level < kMinLevel || level > kMaxLevel)
        throw Bz2Error("bzip2: level " + std::to_string(level) + " is outside 1..9");
    b_ = std::make_unique<Buffers>(block_fill(level));
}

Encoder::~Encoder() = default;

void Encoder::put_bits(uint32_t v, int n) {  // n <= 24
    while (code_bits_ >= 8) {
        b_->out[out_len_++] = static_cast<uint8_t>(code_ >> 24);
        code_ <<= 8;
        code_bits_ -= 8;
    }
    code_ |= (v & ((1u << n) - 1)) << (32 - code_bits_ - n);
    code_bits_ += n;
}

void Encoder::drain(ByteSink& out) {
    if (out_len_ > 0) out.put(b_->out.get(), out_len_);
    out_len_ = 0;
}

void Encoder::start_stream() {
    code_ = 0;
    code_bits_ = 0;
    out_len_ = 0;
    combined_crc_ = 0;
    for (const char c : {'B', 'Z', 'h'}) put_bits(static_cast<uint8_t>(c), 8);
    put_bits(static_cast<uint32_t>('0' + level_), 8);
    start_block();
    stream_open_ = true;
}

void Encoder::start_block() {
    check("veksEncodeRLEInit_BZ2_8u", veksEncodeRLEInit_BZ2_8u(&b_->rle_state));
    rle_len_ = 0;
    run_ = 0;
    run_byte_ = -1;
    block_crc_ = 0;
}

namespace {

// Length of the prefix of p[0..n) after which the run that ends it is
// kMaxRun bytes long (with `run` equal bytes `byte` before p), or n.
constexpr int32_t kMaxRun = 255;
size_t until_run_full(const uint8_t* p, size_t n, int32_t run, int byte) {
    for (size_t i = 0; i < n; ++i) {
        run = p[i] == byte ? run + 1 : 1;
        byte = p[i];
        if (run == kMaxRun) return i + 1;
    }
    return n;
}

}  // namespace

void Encoder::write(const uint8_t* p, size_t n, ByteSink& out) {
    if (!stream_open_) start_stream();
    // The count of a run still open when the block fills goes one byte
    // beyond it.
    const int32_t limit = block_fill(level_);
    while (n > 0) {
        if (rle_len_ >= limit) {
            end_block(out);
            continue;
        }
        const uint8_t* src = p;
        int32_t src_len = static_cast<int32_t>(
            until_run_full(p, std::min<size_t>(n, size_t(1) << 30), run_, run_byte_));
        int32_t dst_len = limit - rle_len_;
        const vekStatus st = veksEncodeRLE_BZ2_8u(&src, &src_len, b_->rle.get() + rle_len_,
                                                  &dst_len, &b_->rle_state);
        if (st != vekStatusOk && st != vekStatusDstTooSmall)
            library_failed("veksEncodeRLE_BZ2_8u", st);
        const size_t used = static_cast<size_t>(src - p);
        crc_update(p, used, &block_crc_);
        for (size_t i = 0; i < used; ++i) {
            run_ = p[i] == run_byte_ ? run_ + 1 : 1;
            run_byte_ = p[i];
        }
        rle_len_ += dst_len;
        p = src;
        n -= used;
        // Source left over means the block is full.
        if (src_len > 0) {
            end_block(out);
        } else if (run_ == kMaxRun) {
            // Close the run here; the next byte starts a new one even if it
            // is the same (the stage keeps its last byte for that).
            if (rle_len_ >= limit) {
                end_block(out);
            } else {
                int32_t one = 1;
                check("veksEncodeRLEFlush_BZ2_8u",
                      veksEncodeRLEFlush_BZ2_8u(b_->rle.get() + rle_len_, &one, &b_->rle_state));
                rle_len_ += one;
                run_ = 0;
            }
        }
    }
}

void Encoder::end_block(ByteSink& out) {
    Buffers& b = *b_;
    int32_t one = 1;
    check("veksEncodeRLEFlush_BZ2_8u",
          veksEncodeRLEFlush_BZ2_8u(b.rle.get() + rle_len_, &one, &b.rle_state));
    rle_len_ += one;
    const int32_t n = rle_len_;
    if (n == 0) return;
    uint8_t in_use[256];
    check("veksRLEGetInUseTable_8u", veksRLEGetInUseTable_8u(in_use, &b.rle_state));

    int32_t primary = 0;
    check("veksBWTFwd_8u", veksBWTFwd_8u(b.rle.get(), b.last.get(), n, &primary, b.bwt_work.get()));
    int32_t dict = 0;
    check("veksReduceDictionary_8u_I", veksReduceDictionary_8u_I(in_use, b.last.get(), n, &dict));
    auto* mtf = reinterpret_cast<vekMTFState_8u*>(b.mtf_state.get());
    check("veksMTFInit_8u", veksMTFInit_8u(mtf));
    check("veksMTFFwd_8u", veksMTFFwd_8u(b.last.get(), b.rle.get(), n, mtf));
    std::memset(b.freq, 0, sizeof b.freq);
    const uint8_t* src = b.rle.get();
    int32_t src_len = n;
    int32_t nsym = b.sym_cap - 1;
    check("veksEncodeZ1Z2_BZ2_8u16u",
          veksEncodeZ1Z2_BZ2_8u16u(&src, &src_len, b.sym.get(), &nsym, b.freq));
    const int32_t alpha = dict + 2;
    b.sym[static_cast<size_t>(nsym++)] = static_cast<uint16_t>(alpha - 1);
    b.freq[alpha - 1] += 1;
    auto* huff = reinterpret_cast<vekHuffEncState_BZ2*>(b.huff_state.get());
    check("veksEncodeHuffInit_BZ2_16u8u",
          veksEncodeHuffInit_BZ2_16u8u(alpha, b.freq, b.sym.get(), nsym, huff));

    put_bits(static_cast<uint32_t>(kBlockMagic >> 24), 24);
    put_bits(static_cast<uint32_t>(kBlockMagic & 0xFFFFFF), 24);
    put_bits(block_crc_ >> 16, 16);
    put_bits(block_crc_ & 0xFFFF, 16);
    put_bits(0, 1);  // not randomised
    put_bits(static_cast<uint32_t>(primary), 24);
    uint32_t ranges = 0;
    for (int r = 0; r < 16; ++r)
        for (int k = 0; k < 16; ++k)
            if (in_use[r * 16 + k]) ranges |= 0x8000u >> r;
    put_bits(ranges, 16);
    for (int r = 0; r < 16; ++r) {
        if (!(ranges & (0x8000u >> r))) continue;
        uint32_t map = 0;
        for (int k = 0; k < 16; ++k)
            if (in_use[r * 16 + k]) map |= 0x8000u >> k;
        put_bits(map, 16);
    }

    int32_t room = static_cast<int32_t>(b.out_cap - out_len_);
    check("veksPackHuffContext_BZ2_16u8u",
          veksPackHuffContext_BZ2_16u8u(&code_, &code_bits_, b.out.get() + out_len_, &room, huff));
    out_len_ += static_cast<size_t>(room);
    const uint16_t* s = b.sym.get();
    int32_t left = nsym;
    room = static_cast<int32_t>(b.out_cap - out_len_);
    check("veksEncodeHuff_BZ2_16u8u",
          veksEncodeHuff_BZ2_16u8u(&code_, &code_bits_, &s, &left, b.out.get() + out_len_, &room,
                                   huff));
    out_len_ += static_cast<size_t>(room);
    combined_crc_ = rotate_in(combined_crc_, block_crc_);
    drain(out);
    start_block();
}

void Encoder::finish(ByteSink& out) {
    if (!stream_open_) start_stream();
    end_block(out);
    put_bits(static_cast<uint32_t>(kEndMagic >> 24), 24);
    put_bits(static_cast<uint32_t>(kEndMagic & 0xFFFFFF), 24);
    put_bits(combined_crc_ >> 16, 16);
    put_bits(combined_crc_ & 0xFFFF, 16);
    // The last byte is padded with zero bits.
    while (code_bits_ > 0) {
        b_->out[out_len_++] = static_cast<uint8_t>(code_ >> 24);
        code_ <<= 8;
        code_bits_ -= 8;
    }
    code_ = 0;
    code_bits_ = 0;
    drain(out);
    stream_open_ = false;
}

// --- decoder --------------------------------------------------------------------

// Bits of the input most significant first, through the accumulator the
// library's Huffman decoder shares: pending bits left-aligned in code, their
// number in bits; bytes not yet in the accumulator wait at pos..end.
class Decoder::BitInput {
  public:
    explicit BitInput(ByteSource& src) : src_(src), buf_(uninitialised<uint8_t>(kInputChunk)) {}

    uint32_t code = 0;
    int32_t bits = 0;
    const uint8_t* pos = nullptr;
    const uint8_t* end = nullptr;

    int32_t available() const { return static_cast<int32_t>(end - pos); }

    // Makes input bytes available; false at the end of the input.
    bool refill() {
        if (pos != end) return true;
        if (eof_) return false;
        const size_t k = src_.get(buf_.get(), kInputChunk);
        if (k == 0) {
            eof_ = true;
            return false;
        }
        pos = buf_.get();
        end = pos + k;
        return true;
    }

    // n (1..24) bits; false at the end of the input.
    bool try_get(int n, uint32_t* v) {
        while (bits < n) {
            if (pos == end && !refill()) return false;
            code |= static_cast<uint32_t>(*pos++) << (24 - bits);
            bits += 8;
        }
        *v = code >> (32 - n);
        code <<= n;
        bits -= n;
        return true;
    }
    uint32_t get(int n) {
        uint32_t v;
        if (!try_get(n, &v)) truncated();
        return v;
    }
    uint32_t get32() {
        const uint32_t hi = get(16);
        return hi << 16 | get(16);
    }
    uint64_t get48() {
        const uint64_t hi = get(24);
        return hi << 24 | get(24);
    }
    // Skips to the next byte boundary.
    void align() {
        const int pad = bits & 7;
        code <<= pad;
        bits -= pad;
    }
    // After align(): true when no byte is left.
    bool at_end() { return bits == 0 && !refill(); }

  private:
    ByteSource& src_;
    std::unique_ptr<uint8_t[]> buf_;
    bool eof_ = false;
};

struct Decoder::Buffers {
    Buffers(int32_t cap, BlockPath path) : capacity(cap) {
        int32_t size = 0;
        check("veksDecodeHuffGetSize_BZ2_8u16u",
              veksDecodeHuffGetSize_BZ2_8u16u(kDecoderStateSymbols, &size));
        huff_state = uninitialised<uint8_t>(static_cast<size_t>(size));
        // One more symbol slot: the end-of-block symbol is stored too.
        sym = uninitialised<uint16_t>(static_cast<size_t>(cap) + 1);
        rle = uninitialised<uint8_t>(static_cast<size_t>(cap));
        chunk = uninitialised<uint8_t>(kOutputChunk);
        if (path == BlockPath::kFused) {
            check("veksDecodeBlockGetSize_BZ2_8u",
                  veksDecodeBlockGetSize_BZ2_8u(static_cast<uint32_t>(cap), &size));
            work = uninitialised<uint8_t>(static_cast<size_t>(size));
        } else {
            check("veksBWTInvGetSize_8u", veksBWTInvGetSize_8u(cap, &size));
            work = uninitialised<uint8_t>(static_cast<size_t>(size));
            check("veksMTFGetSize_8u", veksMTFGetSize_8u(&size));
            mtf_state = uninitialised<uint8_t>(static_cast<size_t>(size));
            last = uninitialised<uint8_t>(static_cast<size_t>(cap));
        }
    }
    int32_t capacity;
    std::unique_ptr<uint8_t[]> huff_state, rle, work, mtf_state, last, chunk;
    std::unique_ptr<uint16_t[]> sym;
};

Decoder::Decoder(BlockPath path) : path_(path) {}
Decoder::~Decoder() = default;

void Decoder::prepare(int level) {
    level_ = level;
    const int32_t cap = block_capacity(level);
    capacity_ = cap;
    if (!b_ || b_->capacity < cap) {
        b_.reset();
        b_ = std::make_unique<Buffers>(cap, path_);
    }
}

void Decoder::run(ByteSource& in, ByteSink& out) {
    BitInput bits(in);
    blocks_ = 0;
    streams_ = 0;
    for (;;) {
        const bool first = streams_ == 0;
        if (!first && bits.at_end()) return;
        uint32_t head[4];
        for (int i = 0; i < 4; ++i) {
            if (bits.try_get(8, &head[i])) continue;
            if (first && i == 0) throw Bz2Error("empty input, not in bzip2 format");
            if (first) truncated();
            corrupt("trailing garbage after the end of the stream");
        }
        if (head[0] != 'B' || head[1] != 'Z' || head[2] != 'h')
            corrupt(first ? "no 'BZh' at the start"
                          : "trailing garbage after the end of the stream");
        if (head[3] < '1' || head[3] > '9') {
            // Shown as hex unless printable: a raw byte could break the
            // message's single line.
            char shown[8];
            if (head[3] > 0x20 && head[3] < 0x7F)
                std::snprintf(shown, sizeof shown, "'%c'", static_cast<char>(head[3]));
            else
                std::snprintf(shown, sizeof shown, "0x%02x", static_cast<unsigned>(head[3]));
            corrupt(std::string("block size digit ") + shown + " is not 1..9");
        }
        prepare(static_cast<int>(head[3] - '0'));
        combined_crc_ = 0;
        for (;;) {
            const uint64_t magic = bits.get48();
            if (magic == kBlockMagic) {
                block(bits, out);
                continue;
            }
            if (magic != kEndMagic) corrupt("bad block magic");
            if (bits.get32() != combined_crc_) corrupt("combined CRC mismatch");
            bits.align();
            break;
        }
        ++streams_;
    }
}

void Decoder::block(BitInput& bits, ByteSink& out) {
    const uint32_t stored_crc = bits.get32();
    if (bits.get(1))
        throw Bz2Error("randomised bzip2 block (written by bzip2 0.9.0 or older) is not supported");
    const int32_t primary = static_cast<int32_t>(bits.get(24));
    uint8_t in_use[256] = {};
    const uint32_t ranges = bits.get(16);
    int32_t dict = 0;
    for (int r = 0; r < 16; ++r) {
        if (!(ranges & (0x8000u >> r))) continue;
        const uint32_t map = bits.get(16);
        for (int k = 0; k < 16; ++k)
            if (map & (0x8000u >> k)) {
                in_use[r * 16 + k] = 1;
                ++dict;
            }
    }
    if (dict == 0) corrupt("block uses no byte values");
    const int32_t nsym = block_symbols(bits, dict + 2);
    if (nsym == 0) corrupt("empty block");
    if (primary >= capacity_) corrupt("primary index beyond the block size");
    const int32_t n = path_ == BlockPath::kFused ? undo_sort_fused(nsym, primary, dict, in_use)
                                                 : undo_sort_stages(nsym, primary, dict, in_use);
    if (expand_runs(n, out) != stored_crc)
        corrupt("block " + std::to_string(blocks_ + 1) + " CRC mismatch");
    combined_crc_ = rotate_in(combined_crc_, stored_crc);
    ++blocks_;
}

int32_t Decoder::block_symbols(BitInput& bits, int32_t alpha) {
    auto* st = reinterpret_cast<vekHuffDecState_BZ2*>(b_->huff_state.get());
    check("veksDecodeHuffInit_BZ2_8u16u", veksDecodeHuffInit_BZ2_8u16u(alpha, st));
    for (;;) {
        if (!bits.refill()) truncated();
        int32_t avail = bits.available();
        const vekStatus s =
            veksUnpackHuffContext_BZ2_8u16u(&bits.code, &bits.bits, &bits.pos, &avail, st);
        if (s == vekStatusOk) break;
        if (s != vekStatusSrcTooSmall) corrupt("invalid Huffman table context");
    }
    const int32_t cap = capacity_ + 1;
    int32_t count = 0;
    for (;;) {
        bits.refill();  // at the end of the input the pending bits may still do
        int32_t avail = bits.available();
        int32_t room = cap - count;
        const vekStatus s = veksDecodeHuff_BZ2_8u16u(&bits.code, &bits.bits, &bits.pos, &avail,
                                                     b_->sym.get() + count, &room, st);
        count += room;
        if (s == vekStatusOk) return count;
        if (s == vekStatusSrcTooSmall) {
            if (bits.pos != bits.end) library_failed("veksDecodeHuff_BZ2_8u16u", s);
            if (!bits.refill()) truncated();
            continue;
        }
        if (s == vekStatusDstTooSmall)
            corrupt("block holds more symbols than the stream's block size");
        corrupt("invalid Huffman code or no end-of-block symbol");
    }
}

int32_t Decoder::undo_sort_fused(int32_t nsym, int32_t primary, int32_t dict,
                                 const uint8_t* in_use) {
    int32_t n = capacity_;
    const vekStatus s = veksDecodeBlock_BZ2_16u8u(b_->sym.get(), nsym, b_->rle.get(), &n, primary,
                                                  dict, in_use, b_->work.get());
    if (s == vekStatusOk) return n;
    if (s == vekStatusBadDataErr) corrupt("block larger than the stream's block size");
    corrupt("primary index outside the block (status " + status_text(s) + ")");
}

int32_t Decoder::undo_sort_stages(int32_t nsym, int32_t primary, int32_t dict,
                                  const uint8_t* in_use) {
    Buffers& b = *b_;
    const uint16_t* s = b.sym.get();
    int32_t left = nsym;
    int32_t n = capacity_;
    if (veksDecodeZ1Z2_BZ2_16u8u(&s, &left, b.rle.get(), &n) != vekStatusOk)
        corrupt("block larger than the stream's block size");
    if (primary >= n) corrupt("primary index outside the block");
    auto* mtf = reinterpret_cast<vekMTFState_8u*>(b.mtf_state.get());
    check("veksMTFInit_8u", veksMTFInit_8u(mtf));
    check("veksMTFInv_8u", veksMTFInv_8u(b.rle.get(), b.last.get(), n, mtf));
    check("veksExpandDictionary_8u_I", veksExpandDictionary_8u_I(in_use, b.last.get(), n, dict));
    check("veksBWTInv_8u", veksBWTInv_8u(b.last.get(), b.rle.get(), n, primary, b.work.get()));
    return n;
}

// Run-length decoding of the block at b_->rle to the sink; returns the CRC
// of what it wrote.
uint32_t Decoder::expand_runs(int32_t n, ByteSink& out) {
    uint8_t* const chunk = b_->chunk.get();
    uint32_t crc = 0;
    auto emit = [&](uint8_t* d) {
        const size_t k = static_cast<size_t>(d - chunk);
        if (k == 0) return;
        crc_update(chunk, k, &crc);
        out.put(chunk, k);
    };
    vekRLEState_BZ2 st;
    check("veksDecodeRLEStateInit_BZ2_8u", veksDecodeRLEStateInit_BZ2_8u(&st));
    const uint8_t* src = b_->rle.get();
    int32_t left = n;
    while (left > 0) {
        uint8_t* d = chunk;
        int32_t room = static_cast<int32_t>(kOutputChunk);
        const uint8_t* before = src;
        const vekStatus s = veksDecodeRLEState_BZ2_8u(&src, &left, &d, &room, &st);
        if (s != vekStatusOk && s != vekStatusDstTooSmall)
            library_failed("veksDecodeRLEState_BZ2_8u", s);
        if (d == chunk && src == before) library_failed("veksDecodeRLEState_BZ2_8u", s);
        emit(d);
    }
    for (;;) {
        uint8_t* d = chunk;
        int32_t room = static_cast<int32_t>(kOutputChunk);
        const vekStatus s = veksDecodeRLEStateFlush_BZ2_8u(&st, &d, &room);
        emit(d);
        if (s == vekStatusOk) break;
        if (s != vekStatusDstTooSmall) library_failed("veksDecodeRLEStateFlush_BZ2_8u", s);
    }
    return crc;
}

// --- helpers --------------------------------------------------------------------

std::vector<uint8_t> compress(const uint8_t* p, size_t n, int level) {
    std::vector<uint8_t> v;
    VectorSink sink(&v);
    Encoder enc(level);
    enc.write(p, n, sink);
    enc.finish(sink);
    return v;
}

std::vector<uint8_t> decompress(const uint8_t* p, size_t n, BlockPath path, size_t piece) {
    std::vector<uint8_t> v;
    VectorSink sink(&v);
    MemorySource src(p, n, piece);
    Decoder dec(path);
    dec.run(src, sink);
    return v;
}

}  // namespace vekdc::bz2
