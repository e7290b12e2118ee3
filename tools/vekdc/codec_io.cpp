#include "codec_io.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

namespace vekdc {

namespace {

constexpr size_t kReadBuffer = size_t(64) << 10;
constexpr size_t kWriteBuffer = size_t(64) << 10;

double now_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

}  // namespace

void fail_input(const std::string& message) {
    throw CodecFailure(CodecFailure::kInput, message);
}

// --- Progress ---------------------------------------------------------------

Progress::Progress(std::string label, uint64_t total)
    : label_(printable(std::move(label))),
      total_(total),
      enabled_(total > kMinBytes && isatty(STDERR_FILENO) != 0) {}

void Progress::update(uint64_t done) {
    if (!enabled_) return;
    const double t = now_seconds();
    if (t < next_) return;
    next_ = t + 0.25;
    const unsigned percent = static_cast<unsigned>(std::min<uint64_t>(done, total_) * 100 / total_);
    std::fprintf(stderr, "\r%s: %s: %3u%%", kProgram, label_.c_str(), percent);
    std::fflush(stderr);
    shown_ = true;
}

void Progress::finish() {
    if (shown_) {
        // Blank out what was printed and return to the start of the line.
        const size_t width = std::strlen(kProgram) + label_.size() + 8;
        std::fprintf(stderr, "\r%s\r", std::string(width, ' ').c_str());
        std::fflush(stderr);
    }
    shown_ = false;
    enabled_ = false;
}

// --- Reader -----------------------------------------------------------------

Reader::Reader(Input& in, Progress* progress) : in_(&in), progress_(progress), buf_(kReadBuffer) {}

Reader::Reader(const uint8_t* data, size_t n)
    : in_(nullptr), mem_(data), mem_left_(n), progress_(nullptr), buf_(kReadBuffer) {}

long Reader::raw_read(uint8_t* dst, size_t cap) {
    if (!in_) {
        const size_t k = std::min(cap, mem_left_);
        if (k > 0) std::memcpy(dst, mem_, k);
        mem_ += k;
        mem_left_ -= k;
        if (k == 0) eof_ = true;
        return static_cast<long>(k);
    }
    const long n = in_->read(dst, cap);
    if (n < 0)
        throw CodecFailure(CodecFailure::kInput,
                           std::string("read error: ") + std::strerror(in_->error()));
    if (n == 0) eof_ = true;
    return n;
}

bool Reader::fill(size_t want) {
    if (end_ - pos_ >= want) return true;
    if (pos_ > 0) {
        std::memmove(buf_.data(), buf_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
    }
    while (end_ < want && !eof_)
        end_ += static_cast<size_t>(raw_read(buf_.data() + end_, buf_.size() - end_));
    return end_ >= want;
}

size_t Reader::read(uint8_t* dst, size_t n) {
    size_t got = std::min(n, end_ - pos_);
    std::memcpy(dst, buf_.data() + pos_, got);
    pos_ += got;
    while (got < n && !eof_) {
        const size_t want = n - got;
        if (want >= buf_.size()) {
            // Large requests go straight into the caller's buffer.
            got += static_cast<size_t>(raw_read(dst + got, want));
        } else {
            pos_ = end_ = 0;
            fill(1);
            const size_t k = std::min(want, end_ - pos_);
            std::memcpy(dst + got, buf_.data() + pos_, k);
            pos_ += k;
            got += k;
        }
    }
    consumed_ += got;
    if (progress_) progress_->update(consumed_);
    return got;
}

uint64_t Reader::skip(uint64_t n) {
    uint64_t done = 0;
    while (done < n) {
        if (pos_ == end_ && !fill(1)) break;
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n - done, end_ - pos_));
        pos_ += k;
        done += k;
    }
    consumed_ += done;
    if (progress_) progress_->update(consumed_);
    return done;
}

size_t Reader::peek(const uint8_t** p, size_t n) {
    n = std::min(n, kPeekMax);
    fill(n);
    *p = buf_.data() + pos_;
    return std::min(n, end_ - pos_);
}

bool Reader::at_end() {
    return !fill(1);
}

bool Reader::size_left(uint64_t* n) {
    struct stat st;
    if (!in_ || fstat(in_->fd(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    const off_t at = lseek(in_->fd(), 0, SEEK_CUR);
    if (at < 0 || at > st.st_size) return false;
    *n = static_cast<uint64_t>(st.st_size - at) + (end_ - pos_);
    return true;
}

// --- Writers ----------------------------------------------------------------

FdWriter::FdWriter(int fd) : fd_(fd), buf_(kWriteBuffer) {}

void FdWriter::write_fd(const uint8_t* src, size_t n) {
    while (n > 0) {
        const ssize_t k = ::write(fd_, src, n);
        if (k < 0) {
            if (errno == EINTR) continue;
            throw CodecFailure(CodecFailure::kOutput,
                               std::string("write error: ") + std::strerror(errno));
        }
        src += k;
        n -= static_cast<size_t>(k);
    }
}

void FdWriter::write(const uint8_t* src, size_t n) {
    written_ += n;
    if (used_ + n <= buf_.size()) {
        std::memcpy(buf_.data() + used_, src, n);
        used_ += n;
        return;
    }
    flush();
    if (n >= buf_.size()) {
        write_fd(src, n);
    } else {
        std::memcpy(buf_.data(), src, n);
        used_ = n;
    }
}

void FdWriter::flush() {
    const size_t n = used_;
    used_ = 0;
    write_fd(buf_.data(), n);
}

}  // namespace vekdc
