#include "inflate_stream.h"

#include <cstdio>
#include <cstring>

#include "deflate_block_header.h"

namespace vekdc {

InflateStream::InflateStream(Reader& in, Writer& out, const char* label)
    : in_(in),
      out_(out),
      label_(label),
      in_buf_(kInBuf),
      out_buf_(kOutBuf),
      state_(new vekInflateState()) {
    std::memset(state_.get(), 0, sizeof(vekInflateState));
}

void InflateStream::corrupt(const std::string& what) const {
    fail_input("corrupt " + label_ + " data: " + what);
}

void InflateStream::truncated(const char* what) const {
    fail_input("truncated " + label_ + " data: input ends inside " + what);
}

bool InflateStream::refill() {
    if (in_pos_ < in_end_) return true;
    if (eof_) return false;
    in_pos_ = 0;
    in_end_ = in_.read(in_buf_.data(), in_buf_.size());
    if (in_end_ == 0) eof_ = true;
    return in_end_ > 0;
}

void InflateStream::top_up() {
    const size_t left = in_end_ - in_pos_;
    if (eof_ || left >= kInLow) return;
    std::memmove(in_buf_.data(), in_buf_.data() + in_pos_, left);
    in_pos_ = 0;
    const size_t got = in_.read(in_buf_.data() + left, in_buf_.size() - left);
    in_end_ = left + got;
    if (got == 0) eof_ = true;
}

uint32_t InflateStream::bits(int n, const char* what) {
    while (nbits_ < uint32_t(n)) {
        if (!refill()) truncated(what);
        code_ |= uint64_t(in_buf_[in_pos_++]) << nbits_;
        nbits_ += 8;
    }
    const uint32_t v = uint32_t(code_) & ((1u << n) - 1);
    code_ >>= n;
    nbits_ -= uint32_t(n);
    return v;
}

uint8_t InflateStream::byte(const char* what) {
    // Only whole bytes are left in code_ here.
    return static_cast<uint8_t>(bits(8, what));
}

bool InflateStream::peek_byte(uint8_t* b) {
    if (nbits_ >= 8) {
        *b = static_cast<uint8_t>(code_);
        return true;
    }
    if (!refill()) return false;
    *b = in_buf_[in_pos_];
    return true;
}

bool InflateStream::at_end() {
    uint8_t b;
    return !peek_byte(&b);
}

void InflateStream::begin(const ChecksumAlgo* sum) {
    sum_ = sum;
    check_ = sum ? sum->start : 0;
    total_ = 0;
    dst_idx_ = 0;
    out_start_ = 0;
    state_->pWindow = nullptr;
    state_->winSize = 0;
}

// Writes out the new output in the buffer and moves its newest 32 KiB to
// the front as history. Before the first 32 KiB there is less history: a
// match reaching before the buffer is then invalid data.
void InflateStream::flush() {
    if (dst_idx_ == out_start_) return;
    const uint8_t* data = out_buf_.data() + out_start_;
    const uint32_t n = dst_idx_ - out_start_;
    out_.write(data, n);
    if (sum_) check_ = sum_->update(check_, data, n);
    total_ += n;
    const uint32_t keep = dst_idx_ < kHistory ? dst_idx_ : kHistory;
    std::memmove(out_buf_.data(), out_buf_.data() + dst_idx_ - keep, keep);
    dst_idx_ = out_start_ = keep;
}

void InflateStream::inflate() {
    for (;;) {
        const uint32_t final = bits(1, "a block header");
        const uint32_t type = bits(2, "a block header");
        switch (type) {
            case 0:
                block_stored();
                break;
            case 1:
                state_->tableType = vekInflateTableFixed;
                block_body();
                break;
            case 2:
                block_dynamic();
                break;
            default:
                corrupt("invalid block type 3");
        }
        if (final) break;
    }
    // The rest of the last byte is padding.
    code_ >>= nbits_ % 8;
    nbits_ -= nbits_ % 8;
    flush();
}

void InflateStream::block_stored() {
    code_ >>= nbits_ % 8;
    nbits_ -= nbits_ % 8;
    const uint32_t len = bits(16, "a stored block header");
    const uint32_t nlen = bits(16, "a stored block header");
    if (!deflate_header::stored_lengths_match(len, nlen))
        corrupt("stored block length does not match its complement");
    uint32_t left = len;
    // Bytes already taken into the bit buffer first, then straight from the
    // input buffer.
    while (left && nbits_ >= 8) {
        if (dst_idx_ == kOutBuf) flush();
        out_buf_[dst_idx_++] = static_cast<uint8_t>(bits(8, "a stored block"));
        --left;
    }
    while (left) {
        if (dst_idx_ == kOutBuf) flush();
        if (!refill()) truncated("a stored block");
        size_t n = in_end_ - in_pos_;
        if (n > left) n = left;
        if (n > kOutBuf - dst_idx_) n = kOutBuf - dst_idx_;
        std::memcpy(out_buf_.data() + dst_idx_, in_buf_.data() + in_pos_, n);
        in_pos_ += n;
        dst_idx_ += uint32_t(n);
        left -= uint32_t(n);
    }
}

void InflateStream::block_dynamic() {
    uint16_t lens[deflate_header::kMaxLengths];
    uint32_t nlit = 0, ndist = 0;
    // The bit source throws on a truncated header, so it never says false.
    struct Source {
        InflateStream* in;
        bool operator()(int n, uint32_t* v) const {
            *v = in->bits(n, "a dynamic block header");
            return true;
        }
        uint32_t peek(uint32_t n, uint32_t* v) const {
            while (in->nbits_ < n && in->refill()) {
                in->code_ |= uint64_t(in->in_buf_[in->in_pos_++]) << in->nbits_;
                in->nbits_ += 8;
            }
            *v = uint32_t(in->code_) & uint32_t((uint64_t{1} << n) - 1);
            return in->nbits_;
        }
        void skip(uint32_t n) const {
            in->code_ >>= n;
            in->nbits_ -= n;
        }
    } source{this};
    const deflate_header::Error e =
        deflate_header::read_dynamic_lengths(source, lens, &nlit, &ndist);
    if (e == deflate_header::Error::kTruncated) truncated("a dynamic block header");
    if (e != deflate_header::Error::kNone) corrupt(deflate_header::describe(e));
    if (lens[256] == 0) corrupt("no code for the end of a block");
    const vekStatus st = veksInflateBuildHuffTable(lens, nlit, ndist, state_.get());
    if (st == vekStatusSrcDataErr) corrupt("invalid Huffman code lengths");
    if (st != vekStatusOk)
        fail_input("internal error: veksInflateBuildHuffTable returned status " +
                   std::to_string(st));
    block_body();
}

// One block body, call by call: the input fed as it arrives, the output
// buffer written out whenever it is full.
void InflateStream::block_body() {
    vekInflateMode mode = vekInflateModeSymbol;
    for (;;) {
        if (dst_idx_ > kOutBuf - kOutLow) flush();
        top_up();  // may find the end of the input; the pending bits may still do
        const uint8_t* const in = in_buf_.data() + in_pos_;
        const uint32_t in_len = uint32_t(in_end_ - in_pos_);
        uint8_t* const dst = out_buf_.data() + dst_idx_;
        const uint32_t out_len = kOutBuf - dst_idx_;

        const uint8_t* p = in;
        uint32_t src_len = in_len;
        uint32_t code = uint32_t(code_);
        uint32_t code_bits = nbits_;
        uint8_t* q = dst;
        uint32_t dst_len = out_len;
        const vekStatus st = veksInflate_8u(&p, &src_len, &code, &code_bits, 0, &q, &dst_len,
                                            dst_idx_, &mode, state_.get());
        if (st != vekStatusOk && st != vekStatusSrcDataErr)
            fail_input("internal error: veksInflate_8u returned status " + std::to_string(st));
        if (p < in || p > in + in_len || q < dst || q > dst + out_len || code_bits > 32)
            fail_input("internal error: veksInflate_8u moved outside its buffers");
        const size_t used = size_t(p - in), made = size_t(q - dst);
        in_pos_ += used;
        dst_idx_ += uint32_t(made);
        nbits_ = code_bits;
        code_ = code_bits ? code & (~uint32_t{0} >> (32 - code_bits)) : 0;
        if (st == vekStatusSrcDataErr) corrupt("invalid code, or a distance too far back");
        if (mode == vekInflateModeBlockEnd) return;
        const bool wants_output = mode == vekInflateModeResume && state_->step >= 5;
        if (wants_output) {
            if (dst_idx_ != kOutBuf)
                fail_input("internal error: veksInflate_8u stopped with output space left");
            continue;
        }
        // Waiting for input.
        if (in_pos_ < in_end_) {
            if (used == 0 && made == 0)
                fail_input("internal error: veksInflate_8u made no progress");
            continue;
        }
        if (eof_ && used == 0 && made == 0) truncated("a compressed block");
    }
}

}  // namespace vekdc
