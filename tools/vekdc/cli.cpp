#include "cli.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>
#include <utility>
#include <fcntl.h>
#include <unistd.h>

namespace vekdc {

namespace {

void vprint_line(const char* fmt, va_list ap, const char* suffix) {
    va_list again;
    va_copy(again, ap);
    const int n = std::vsnprintf(nullptr, 0, fmt, again);
    va_end(again);
    std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
    if (n > 0) std::vsnprintf(&text[0], text.size() + 1, fmt, ap);
    // A message is one line whatever a file name holds.
    std::fprintf(stderr, "%s: %s%s\n", kProgram, printable(std::move(text)).c_str(), suffix);
}

}  // namespace

std::string printable(std::string text) {
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return text;
}

void print_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprint_line(fmt, ap, "");
    va_end(ap);
}

int usage_error(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    vprint_line(fmt, ap, " (try 'vekdc --help')");
    va_end(ap);
    return kExitUsage;
}

bool looks_like_option(const char* arg) {
    return arg[0] == '-' && arg[1] != '\0';
}

Input::~Input() {
    close();
}

bool Input::open(const std::string& path) {
    close();
    name_ = path;
    err_ = 0;
    if (path == "-") {
        fd_ = STDIN_FILENO;
        owned_ = false;
        return true;
    }
    do {
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd_ < 0 && errno == EINTR);
    if (fd_ < 0) {
        err_ = errno;
        return false;
    }
    owned_ = true;
    return true;
}

long Input::read(uint8_t* dst, size_t cap) {
    for (;;) {
        const ssize_t n = ::read(fd_, dst, cap);
        if (n >= 0) return static_cast<long>(n);
        if (errno == EINTR) continue;
        err_ = errno;
        return -1;
    }
}

void Input::close() {
    if (owned_ && fd_ >= 0) ::close(fd_);
    fd_ = -1;
    owned_ = false;
}

int read_whole_file(const std::string& path, std::vector<uint8_t>& out) {
    out.clear();
    Input in;
    if (!in.open(path)) return in.error();
    constexpr size_t kStep = size_t(1) << 20;
    for (;;) {
        const size_t used = out.size();
        out.resize(used + kStep);
        const long n = in.read(out.data() + used, kStep);
        if (n < 0) {
            out.clear();
            return in.error();
        }
        out.resize(used + static_cast<size_t>(n));
        if (n == 0) return 0;
    }
}

std::string format_size(uint64_t bytes) {
    char buf[32];
    if (bytes >= (uint64_t(1) << 20) && bytes % (uint64_t(1) << 20) == 0)
        std::snprintf(buf, sizeof buf, "%llu MiB", static_cast<unsigned long long>(bytes >> 20));
    else if (bytes >= 1024 && bytes % 1024 == 0)
        std::snprintf(buf, sizeof buf, "%llu KiB", static_cast<unsigned long long>(bytes >> 10));
    else
        std::snprintf(buf, sizeof buf, "%llu B", static_cast<unsigned long long>(bytes));
    return buf;
}

}  // namespace vekdc
