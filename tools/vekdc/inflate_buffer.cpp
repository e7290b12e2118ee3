#include "inflate_buffer.h"

#include <cstring>
#include <memory>

#include "deflate_block_header.h"
#include "vekdc.h"

namespace vekdc {

namespace {

class BufferInflater {
  public:
    BufferInflater(const uint8_t* src, size_t n, uint8_t* dst, size_t cap)
        : src_(src), n_(n), dst_(dst), cap_(cap) {
        std::memset(&state_, 0, sizeof state_);
    }

    InflateBufferResult run() {
        for (;;) {
            uint32_t final = 0, type = 0;
            if (!bits(1, &final) || !bits(2, &type)) return done(InflateBufferResult::kTruncated);
            InflateBufferResult::Status s;
            if (type == 0) {
                s = stored();
            } else if (type == 1) {
                state_.tableType = vekInflateTableFixed;
                s = body();
            } else if (type == 2) {
                s = dynamic();
            } else {
                s = InflateBufferResult::kCorrupt;
            }
            if (s != InflateBufferResult::kOk) return done(s);
            if (final) return done(InflateBufferResult::kOk);
        }
    }

  private:
    bool bits(int n, uint32_t* v) {
        while (nbits_ < uint32_t(n)) {
            if (pos_ == n_) return false;
            code_ |= uint64_t(src_[pos_++]) << nbits_;
            nbits_ += 8;
        }
        *v = uint32_t(code_) & ((1u << n) - 1);
        code_ >>= n;
        nbits_ -= uint32_t(n);
        return true;
    }

    // Up to n (at most 32) bits ahead, without taking them; returns how
    // many the input holds.
    uint32_t peek(uint32_t n, uint32_t* v) {
        while (nbits_ < n && pos_ < n_) {
            code_ |= uint64_t(src_[pos_++]) << nbits_;
            nbits_ += 8;
        }
        *v = uint32_t(code_) & uint32_t((uint64_t{1} << n) - 1);
        return nbits_;
    }

    InflateBufferResult done(InflateBufferResult::Status s) {
        // Whole bytes still in the bit buffer were never used.
        return {s, pos_ - nbits_ / 8, out_};
    }

    InflateBufferResult::Status stored() {
        code_ >>= nbits_ % 8;
        nbits_ -= nbits_ % 8;
        uint32_t len = 0, nlen = 0;
        if (!bits(16, &len) || !bits(16, &nlen)) return InflateBufferResult::kTruncated;
        if (!deflate_header::stored_lengths_match(len, nlen)) return InflateBufferResult::kCorrupt;
        for (; len && nbits_; --len) {  // bytes already in the bit buffer
            uint32_t b = 0;
            bits(8, &b);
            if (out_ == cap_) return InflateBufferResult::kOutputFull;
            dst_[out_++] = uint8_t(b);
        }
        if (len > n_ - pos_) return InflateBufferResult::kTruncated;
        if (len > cap_ - out_) return InflateBufferResult::kOutputFull;
        std::memcpy(dst_ + out_, src_ + pos_, len);
        pos_ += len;
        out_ += len;
        return InflateBufferResult::kOk;
    }

    InflateBufferResult::Status dynamic() {
        uint16_t lens[deflate_header::kMaxLengths];
        uint32_t nlit = 0, ndist = 0;
        struct Source {
            BufferInflater* in;
            bool operator()(int n, uint32_t* v) const { return in->bits(n, v); }
            uint32_t peek(uint32_t n, uint32_t* v) const { return in->peek(n, v); }
            void skip(uint32_t n) const {
                in->code_ >>= n;
                in->nbits_ -= n;
            }
        } source{this};
        const deflate_header::Error e =
            deflate_header::read_dynamic_lengths(source, lens, &nlit, &ndist);
        if (e == deflate_header::Error::kTruncated) return InflateBufferResult::kTruncated;
        if (e != deflate_header::Error::kNone || lens[256] == 0)
            return InflateBufferResult::kCorrupt;
        if (veksInflateBuildHuffTable(lens, nlit, ndist, &state_) != vekStatusOk)
            return InflateBufferResult::kCorrupt;
        return body();
    }

    // The whole block body in one call, unless the output is larger than
    // 32-bit lengths reach.
    InflateBufferResult::Status body() {
        vekInflateMode mode = vekInflateModeSymbol;
        for (;;) {
            const size_t in_left = n_ - pos_, out_left = cap_ - out_;
            const uint8_t* p = src_ + pos_;
            uint32_t src_len = in_left > 0x7FFFFFFF ? 0x7FFFFFFF : uint32_t(in_left);
            uint8_t* q = dst_ + out_;
            uint32_t dst_len = out_left > 0x7FFFFFFF ? 0x7FFFFFFF : uint32_t(out_left);
            uint32_t code = uint32_t(code_), code_bits = nbits_;
            // Positions past 4 GiB cannot be told to the library; such
            // outputs are not for this one-shot path.
            if (out_ > 0xFFFFFFFFu) return InflateBufferResult::kOutputFull;
            const vekStatus st = veksInflate_8u(&p, &src_len, &code, &code_bits, 0, &q, &dst_len,
                                                uint32_t(out_), &mode, &state_);
            const size_t used = size_t(p - (src_ + pos_)), made = size_t(q - (dst_ + out_));
            pos_ += used;
            out_ += made;
            nbits_ = code_bits;
            code_ = code_bits ? code & (~uint32_t{0} >> (32 - code_bits)) : 0;
            if (st != vekStatusOk) return InflateBufferResult::kCorrupt;
            if (mode == vekInflateModeBlockEnd) return InflateBufferResult::kOk;
            const bool wants_output = mode == vekInflateModeResume && state_.step >= 5;
            if (wants_output && out_ == cap_) return InflateBufferResult::kOutputFull;
            if (!wants_output && pos_ == n_) return InflateBufferResult::kTruncated;
            if (used == 0 && made == 0) return InflateBufferResult::kCorrupt;
        }
    }

    const uint8_t* src_;
    size_t n_;
    uint8_t* dst_;
    size_t cap_;
    size_t pos_ = 0, out_ = 0;
    uint64_t code_ = 0;
    uint32_t nbits_ = 0;
    vekInflateState state_;
};

}  // namespace

InflateBufferResult inflate_buffer(const uint8_t* src, size_t n, uint8_t* dst, size_t cap) {
    return BufferInflater(src, n, dst, cap).run();
}

}  // namespace vekdc
