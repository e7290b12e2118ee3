// Streaming decoder of one raw Deflate stream (RFC 1951) through the
// library's inflater, with the byte access that the gzip and zlib containers
// need around it.
//
// veksInflate_8u decodes block bodies only; this class parses the rest: the
// block headers, stored blocks and the code-length section of dynamic
// blocks. Memory stays constant: the input goes through a 128 KiB buffer,
// the output through a buffer of 32 KiB of history followed by 256 KiB of
// new output, which is written out (and checksummed) whenever it fills;
// then its newest 32 KiB move to the front as the history of the next
// round. Every match thus reaches back within the buffer the library
// writes to, so no separate window is needed.
//
// Every failure throws CodecFailure through fail_input with a one-line
// message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "checksums.h"
#include "codec_io.h"
#include "vekdc.h"

namespace vekdc {

class InflateStream {
  public:
    // `label` names the container in messages ("gzip", "zlib", "deflate").
    InflateStream(Reader& in, Writer& out, const char* label);
    InflateStream(const InflateStream&) = delete;
    InflateStream& operator=(const InflateStream&) = delete;

    // Starts a new stream: no history, the checksum (if any) restarted.
    void begin(const ChecksumAlgo* sum);
    // Decodes the Deflate stream up to and including its final block, all
    // of it written to the writer; the bits after the final block up to the
    // next byte boundary are dropped.
    void inflate();
    // The checksum and the size modulo 2^32 of what the stream decoded to.
    uint32_t check() const { return sum_ ? sum_->finish(check_) : 0; }
    uint64_t size() const { return total_; }

    // Byte access after the stream (and before the first one): the next
    // byte, or a "truncated" failure naming `what`.
    uint8_t byte(const char* what);
    // True when no byte is left (at a byte boundary only).
    bool at_end();
    // Peeks at the next byte; false at the end of the input.
    bool peek_byte(uint8_t* b);

    [[noreturn]] void corrupt(const std::string& what) const;
    [[noreturn]] void truncated(const char* what) const;

  private:
    static constexpr uint32_t kHistory = 32768;
    static constexpr uint32_t kOutBuf = kHistory + 262144;
    static constexpr size_t kInBuf = 131072;
    // Below this much input or output space ahead, a block body tops up
    // its input or writes out its output before calling the library again:
    // a call that starts short decodes without its fast tables.
    static constexpr size_t kInLow = 16384;
    static constexpr uint32_t kOutLow = 32768;

    bool refill();
    void top_up();
    uint32_t bits(int n, const char* what);
    void block_stored();
    void block_dynamic();
    void block_body();
    void flush();

    Reader& in_;
    Writer& out_;
    std::string label_;
    std::vector<uint8_t> in_buf_;
    size_t in_pos_ = 0, in_end_ = 0;
    bool eof_ = false;
    uint64_t code_ = 0;  // bits taken from the input but not used, oldest in bit 0
    uint32_t nbits_ = 0;
    std::vector<uint8_t> out_buf_;
    uint32_t dst_idx_ = 0;    // bytes in out_buf_: history, then output not yet written out
    uint32_t out_start_ = 0;  // where the output not yet written out begins
    std::unique_ptr<vekInflateState> state_;
    const ChecksumAlgo* sum_ = nullptr;
    uint32_t check_ = 0;
    uint64_t total_ = 0;
};

}  // namespace vekdc
