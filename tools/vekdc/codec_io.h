// Byte streams of the compress/decompress commands and the error a format
// throws when its input or output fails.
//
// A format reads through a Reader (buffered, with a look-ahead for magic
// numbers) and writes through a Writer (a file descriptor or nothing at all
// for -t). Both throw CodecFailure; the command catches it, reports it as one
// line naming the input or the output, and cleans up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli.h"

namespace vekdc {

struct CodecFailure : std::runtime_error {
    enum Side { kInput, kOutput };
    CodecFailure(Side s, const std::string& message) : std::runtime_error(message), side(s) {}
    Side side;
};

// Data errors: the input is not what the format expects.
[[noreturn]] void fail_input(const std::string& message);

// A progress line on standard error ("vekdc: NAME: 42%") for large inputs of
// known size, only when standard error is a terminal.
class Progress {
  public:
    static constexpr uint64_t kMinBytes = uint64_t(16) << 20;  // smaller inputs are quick

    Progress(std::string label, uint64_t total);
    ~Progress() { finish(); }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    bool enabled() const { return enabled_; }
    void update(uint64_t done);
    // Clears the line; nothing more is printed afterwards.
    void finish();

  private:
    std::string label_;
    uint64_t total_;
    bool enabled_;
    bool shown_ = false;
    double next_ = 0;
};

// Buffered reader over an Input, or over bytes in memory (the benchmark).
// Read errors throw CodecFailure(kInput).
class Reader {
  public:
    explicit Reader(Input& in, Progress* progress = nullptr);
    // Reads the n bytes at data, which must outlive the reader.
    Reader(const uint8_t* data, size_t n);
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    // Up to n bytes into dst; fewer only at the end of the input.
    size_t read(uint8_t* dst, size_t n);
    // Exactly n bytes, or false when the input ends first (what was there
    // has then been consumed).
    bool read_exact(uint8_t* dst, size_t n) { return read(dst, n) == n; }
    // Skips up to n bytes; returns how many were there.
    uint64_t skip(uint64_t n);
    // Makes up to n (<= kPeekMax) bytes visible at *p without consuming
    // them; returns how many there are (fewer only at the end of the input).
    size_t peek(const uint8_t** p, size_t n);
    // True when no byte is left.
    bool at_end();
    // The bytes left to read when the input is a regular file (its size as
    // it is now: a file that changes while being read ends elsewhere);
    // false for pipes, terminals and memory.
    bool size_left(uint64_t* n);
    uint64_t consumed() const { return consumed_; }

    static constexpr size_t kPeekMax = 64;

  private:
    bool fill(size_t want);
    long raw_read(uint8_t* dst, size_t cap);

    Input* in_;  // null when reading from memory
    const uint8_t* mem_ = nullptr;
    size_t mem_left_ = 0;
    Progress* progress_;
    std::vector<uint8_t> buf_;
    size_t pos_ = 0;
    size_t end_ = 0;
    bool eof_ = false;
    uint64_t consumed_ = 0;
};

// Output sink. Write errors throw CodecFailure(kOutput).
class Writer {
  public:
    virtual ~Writer() = default;
    virtual void write(const uint8_t* src, size_t n) = 0;
    virtual void flush() {}
    uint64_t written() const { return written_; }

  protected:
    uint64_t written_ = 0;
};

// Writes to a file descriptor it does not own, through a small buffer so
// that headers and checksums do not cost a system call each.
class FdWriter : public Writer {
  public:
    explicit FdWriter(int fd);
    ~FdWriter() override = default;
    void write(const uint8_t* src, size_t n) override;
    void flush() override;

  private:
    void write_fd(const uint8_t* src, size_t n);

    int fd_;
    std::vector<uint8_t> buf_;
    size_t used_ = 0;
};

// Counts and discards (decompress -t).
class NullWriter : public Writer {
  public:
    void write(const uint8_t*, size_t n) override { written_ += n; }
};

// Little-endian helpers for container headers.
inline uint32_t load_le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint64_t load_le64(const uint8_t* p) {
    return uint64_t(load_le32(p)) | uint64_t(load_le32(p + 4)) << 32;
}
inline void store_le32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace vekdc
