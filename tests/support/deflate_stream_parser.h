// Raw Deflate streams (RFC 1951) through the library's inflater, driven the
// way a streaming caller drives it. The code-length section of dynamic block
// headers is read by the tool's parser (tools/vekdc/deflate_block_header.h),
// the same code the vekdc tool decodes files with; this file adds the block
// type dispatch and stored blocks, and fixed blocks select the built-in
// table. veksInflate_8u then decodes each block body, call by
// call, with the input fed and the output drained in pieces as the options
// say, through dstIdx and a circular window, exactly as a streaming caller
// would. Every call's results are checked against the function's contract;
// a breach ends the run with Outcome::kBroken and a description.
//
// Only the public API is used.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "deflate_block_header.h"
#include "vekdc.h"

namespace vek::testinflate {

enum class Outcome { kOk, kTruncated, kDataError, kOutputLimit, kBroken };

struct StreamBlockEnd {
    uint64_t bit;  // stream bit position just after the block
    uint64_t out;  // output bytes at that point
};

// Piece sizes, from a seeded generator or cycled from given bytes.
class PieceSource {
  public:
    explicit PieceSource(uint32_t seed) : rng_(seed) {}
    PieceSource(const uint8_t* data, size_t n) : data_(data), n_(n) {}
    // A value in [lo, hi].
    uint32_t next(uint32_t lo, uint32_t hi) {
        if (hi <= lo) return lo;
        uint32_t r;
        if (data_) {
            r = n_ ? uint32_t(data_[i_ % n_]) | uint32_t(data_[(i_ + 1) % n_]) << 8 : 0;
            i_ += 2;
        } else {
            r = static_cast<uint32_t>(rng_());
        }
        return lo + r % (hi - lo + 1);
    }
    bool chance(uint32_t percent) { return next(0, 99) < percent; }

  private:
    std::mt19937 rng_{1};
    const uint8_t* data_ = nullptr;
    size_t n_ = 0;
    size_t i_ = 0;
};

struct DriveOptions {
    size_t outLimit = 0;       // total output capacity
    uint32_t chunkSize = 0;    // output buffer size; 0: one buffer of outLimit bytes
    uint32_t maxOutPiece = 0;  // 0: the whole free part of the buffer per call; else 0..max
    uint32_t maxInPiece = 0;   // 0: the rest of the stream per call; else 1..max
    bool useWindow = false;    // give the state a circular window
    uint32_t winSize = 32768;
    const uint8_t* windowInit = nullptr;  // winSize bytes, oldest first; null: zeros
    bool randomDrain = false;             // also start a new output buffer at random moments
    bool preloadBits = false;       // sometimes move whole input bytes into *pCode before a call
    bool exactInput = false;        // each call's input in its own heap block of exactly that size
    bool paranoid = false;          // check after every call that window and history are untouched
    PieceSource* pieces = nullptr;  // null: a generator seeded with `seed`
    uint32_t seed = 1;
    // Called after a dynamic block's table is built (tests swap table forms).
    void (*afterBuild)(const uint16_t* lens, uint32_t nLit, uint32_t nDist, vekInflateState* st,
                       void* ctx) = nullptr;
    void* afterBuildCtx = nullptr;
};

struct DriveResult {
    Outcome outcome = Outcome::kOk;
    std::vector<uint8_t> out;
    uint64_t endBit = 0;  // stream bits used when decoding stopped
    std::vector<StreamBlockEnd> blocks;
    std::vector<int> modes;  // *pMode after each veksInflate_8u call, -1 after vekStatusSrcDataErr
    size_t calls = 0;
    std::string broken;
};

namespace detail {

class StreamDriver {
  public:
    StreamDriver(const uint8_t* src, size_t n, const DriveOptions& o)
        : src_(src), n_(n), o_(o), own_(o.seed), pieces_(o.pieces ? o.pieces : &own_) {
        cap_ = o.chunkSize ? o.chunkSize : o.outLimit;
        chunk_.reset(new uint8_t[cap_]);
        state_.reset(new vekInflateState());
        std::memset(state_.get(), 0, sizeof(vekInflateState));
        if (o.useWindow) {
            win_.reset(new uint8_t[o.winSize]);
            if (o.windowInit)
                std::memcpy(win_.get(), o.windowInit, o.winSize);
            else
                std::memset(win_.get(), 0, o.winSize);
            state_->pWindow = win_.get();
            state_->winSize = o.winSize;
        }
    }

    DriveResult run() {
        for (;;) {
            uint32_t final = 0, type = 0;
            if (!bits(1, &final) || !bits(2, &type)) return stop(Outcome::kTruncated);
            Outcome o;
            if (type == 0)
                o = stored();
            else if (type == 1)
                o = fixed();
            else if (type == 2)
                o = dynamic();
            else
                o = Outcome::kDataError;
            if (o != Outcome::kOk) return stop(o);
            r_.blocks.push_back({bit_pos(), r_.out.size()});
            if (final) return stop(Outcome::kOk);
        }
    }

  private:
    uint64_t bit_pos() const { return uint64_t(pos_) * 8 - nbits_; }

    DriveResult stop(Outcome o) {
        r_.outcome = o;
        r_.endBit = bit_pos();
        return std::move(r_);
    }
    Outcome broken(const std::string& why) {
        r_.broken =
            why + " (call " + std::to_string(r_.calls) + ", bit " + std::to_string(bit_pos()) + ")";
        return Outcome::kBroken;
    }

    // Header bits, first bit least significant, from the carried bits first.
    bool bits(int n, uint32_t* v) {
        while (nbits_ < uint32_t(n)) {
            if (pos_ >= n_) return false;
            code_ |= uint64_t(src_[pos_++]) << nbits_;
            nbits_ += 8;
        }
        *v = uint32_t(code_) & ((1u << n) - 1);
        code_ >>= n;
        nbits_ -= n;
        return true;
    }

    // Output space for the next write: drains a full (or, by chance, any)
    // buffer into the window first.
    void drain() {
        if (win_) {
            for (uint32_t i = 0; i < dstIdx_; ++i) {
                win_[winIdx_] = chunk_[i];
                winIdx_ = winIdx_ + 1 == o_.winSize ? 0 : winIdx_ + 1;
            }
        }
        dstIdx_ = 0;
    }
    size_t room(bool needOne) {
        // (Never at the output limit: the history would be lost for nothing.)
        if (r_.out.size() < o_.outLimit &&
            (dstIdx_ == cap_ || (o_.randomDrain && dstIdx_ && pieces_->chance(5))))
            drain();
        size_t room = cap_ - dstIdx_;
        if (room > o_.outLimit - r_.out.size()) room = o_.outLimit - r_.out.size();
        if (o_.maxOutPiece) {
            const size_t piece = pieces_->next(needOne ? 1 : 0, o_.maxOutPiece);
            if (piece < room) room = piece;
        }
        return room;
    }

    Outcome stored() {
        code_ >>= nbits_ % 8;  // to the next byte boundary of the stream
        nbits_ -= nbits_ % 8;
        uint32_t len = 0, nlen = 0;
        if (!bits(16, &len) || !bits(16, &nlen)) return Outcome::kTruncated;
        if (!vekdc::deflate_header::stored_lengths_match(len, nlen)) return Outcome::kDataError;
        while (len) {
            // A byte is read before it is written: a missing byte first.
            if (nbits_ < 8 && pos_ >= n_) return Outcome::kTruncated;
            if (r_.out.size() == o_.outLimit) return Outcome::kOutputLimit;
            size_t n = room(true);
            if (n > len) n = len;
            for (size_t i = 0; i < n; ++i) {
                uint32_t b;
                if (!bits(8, &b)) return Outcome::kTruncated;
                chunk_[dstIdx_++] = uint8_t(b);
                r_.out.push_back(uint8_t(b));
            }
            len -= uint32_t(n);
        }
        return Outcome::kOk;
    }

    Outcome fixed() {
        state_->tableType = vekInflateTableFixed;
        return body();
    }

    Outcome dynamic() {
        uint16_t lens[vekdc::deflate_header::kMaxLengths];
        uint32_t nlit = 0, ndist = 0;
        const auto source = [this](int n, uint32_t* v) { return bits(n, v); };
        switch (vekdc::deflate_header::read_dynamic_lengths(source, lens, &nlit, &ndist)) {
            case vekdc::deflate_header::Error::kNone:
                break;
            case vekdc::deflate_header::Error::kTruncated:
                return Outcome::kTruncated;
            default:
                return Outcome::kDataError;
        }
        const vekStatus st = veksInflateBuildHuffTable(lens, nlit, ndist, state_.get());
        if (st == vekStatusSrcDataErr) return Outcome::kDataError;
        if (st != vekStatusOk)
            return broken("veksInflateBuildHuffTable returned " + std::to_string(st));
        if (o_.afterBuild) o_.afterBuild(lens, nlit, ndist, state_.get(), o_.afterBuildCtx);
        return body();
    }

    // One block body, call by call.
    Outcome body() {
        static const vekInflateMode kStartModes[4] = {vekInflateModeBlockEnd, vekInflateModeSymbol,
                                                      5, -1};
        vekInflateMode mode = kStartModes[pieces_->next(0, 3)];
        bool needOutput = false;
        for (;;) {
            if (o_.preloadBits && pieces_->chance(20))
                while (nbits_ + 8 <= 32 && pos_ < n_ && pieces_->chance(60)) {
                    code_ |= uint64_t(src_[pos_++]) << nbits_;
                    nbits_ += 8;
                }
            const size_t avail = n_ - pos_;
            size_t inLen = o_.maxInPiece ? pieces_->next(1, o_.maxInPiece) : avail;
            if (inLen > avail) inLen = avail;
            const size_t outLen = room(needOutput);
            std::unique_ptr<uint8_t[]> piece;
            const uint8_t* in = src_ + pos_;
            if (o_.exactInput) {
                piece.reset(new uint8_t[inLen]);
                if (inLen) std::memcpy(piece.get(), in, inLen);
                in = piece.get();
            }
            uint8_t* const dst = chunk_.get() + dstIdx_;
            // Canary bytes after the space given, and copies of what must
            // not change.
            const size_t canary = std::min<size_t>(16, cap_ - dstIdx_ - outLen);
            std::memset(dst + outLen, 0xA5, canary);
            std::vector<uint8_t> winCopy, histCopy;
            if (o_.paranoid) {
                if (win_) winCopy.assign(win_.get(), win_.get() + o_.winSize);
                histCopy.assign(chunk_.get(), dst);
            }
            const uint32_t winIdxArg =
                (winIdx_ == 0 && win_ && pieces_->chance(50)) ? o_.winSize : winIdx_;

            const uint8_t* p = in;
            uint32_t srcLen = uint32_t(inLen), code = uint32_t(code_), codeBits = nbits_;
            uint8_t* q = dst;
            uint32_t dstLen = uint32_t(outLen);
            const vekInflateMode modeIn = mode;
            const vekStatus st = veksInflate_8u(&p, &srcLen, &code, &codeBits, winIdxArg, &q,
                                                &dstLen, dstIdx_, &mode, state_.get());
            ++r_.calls;
            if (st != vekStatusOk && st != vekStatusSrcDataErr)
                return broken("veksInflate_8u returned " + std::to_string(st));
            if (p < in || p > in + inLen || srcLen != inLen - size_t(p - in))
                return broken("input pointer and length disagree");
            if (q < dst || q > dst + outLen || dstLen != outLen - size_t(q - dst))
                return broken("output pointer and length disagree");
            if (codeBits > 32) return broken("more than 32 bits left in *pCode");
            for (size_t i = 0; i < canary; ++i)
                if (dst[outLen + i] != 0xA5) return broken("wrote past the output space");
            if (state_->pWindow != (win_ ? win_.get() : nullptr) ||
                state_->winSize != (win_ ? o_.winSize : 0))
                return broken("window fields changed");
            if (o_.paranoid) {
                if (win_ && o_.winSize && std::memcmp(winCopy.data(), win_.get(), o_.winSize) != 0)
                    return broken("window bytes changed");
                if (!histCopy.empty() &&
                    std::memcmp(histCopy.data(), chunk_.get(), histCopy.size()) != 0)
                    return broken("history before the output changed");
            }
            const size_t used = size_t(p - in), made = size_t(q - dst);
            pos_ += used;
            code_ = codeBits ? code & (~uint32_t{0} >> (32 - codeBits)) : 0;
            nbits_ = codeBits;
            r_.out.insert(r_.out.end(), dst, q);
            dstIdx_ += uint32_t(made);
            if (st == vekStatusSrcDataErr) {
                r_.modes.push_back(-1);
                if (mode != modeIn) return broken("*pMode written on an error");
                return Outcome::kDataError;
            }
            r_.modes.push_back(mode);
            if (mode == vekInflateModeBlockEnd) return Outcome::kOk;
            if (mode == vekInflateModeSymbol) {
                if (srcLen != 0) return broken("mode 1 with input left");
                needOutput = false;
            } else if (mode == vekInflateModeResume) {
                const int32_t step = state_->step;
                if (step < 2 || step > 6)
                    return broken("mode 2 with saved step " + std::to_string(step));
                needOutput = step >= 5;
                if (needOutput && dstLen != 0) return broken("output pending with space left");
                if (!needOutput && srcLen != 0)
                    return broken("stopped inside a symbol with input left");
            } else {
                return broken("mode " + std::to_string(mode));
            }
            if (needOutput && r_.out.size() == o_.outLimit) return Outcome::kOutputLimit;
            if (!needOutput && pos_ == n_) return Outcome::kTruncated;
            if (used == 0 && made == 0 && inLen > 0 && outLen > 0) return broken("no progress");
        }
    }

    const uint8_t* src_;
    size_t n_;
    DriveOptions o_;
    PieceSource own_;
    PieceSource* pieces_;
    size_t pos_ = 0;     // next stream byte not yet taken
    uint64_t code_ = 0;  // bits taken but not used, oldest in bit 0
    uint32_t nbits_ = 0;
    std::unique_ptr<uint8_t[]> chunk_, win_;
    size_t cap_ = 0;
    uint32_t dstIdx_ = 0;
    uint32_t winIdx_ = 0;
    std::unique_ptr<vekInflateState> state_;
    DriveResult r_;
};

}  // namespace detail

// Decodes the raw Deflate stream src[0..n) into at most o.outLimit bytes.
inline DriveResult inflate_stream(const uint8_t* src, size_t n, const DriveOptions& o) {
    return detail::StreamDriver(src, n, o).run();
}

}  // namespace vek::testinflate
