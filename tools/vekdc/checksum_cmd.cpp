// vekdc checksum [--crc32|--crc32c|--adler32|--bzip2-crc] [FILE...]
//
// Prints one line per input in the style of sha256sum: eight lowercase hex
// digits, two spaces, the name ("-" for standard input). Inputs are streamed
// through a fixed buffer. An input that cannot be read is reported and
// skipped; the exit status is then 1.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "checksums.h"
#include "cli.h"
#include "commands.h"

namespace vekdc {

namespace {

constexpr size_t kBufferSize = size_t(1) << 20;

// Checksums one input; false (after reporting) when it cannot be read.
bool checksum_input(const ChecksumAlgo& algo, const std::string& path, uint8_t* buf,
                    uint32_t* value) {
    Input in;
    if (!in.open(path)) {
        print_error("%s: %s", path.c_str(), std::strerror(in.error()));
        return false;
    }
    uint32_t state = algo.start;
    for (;;) {
        const long n = in.read(buf, kBufferSize);
        if (n < 0) {
            print_error("%s: %s", path.c_str(), std::strerror(in.error()));
            return false;
        }
        if (n == 0) break;
        state = algo.update(state, buf, static_cast<size_t>(n));
    }
    *value = algo.finish(state);
    return true;
}

}  // namespace

int cmd_checksum(int argc, char** argv) {
    const ChecksumAlgo* algo = &checksum_algo(ChecksumKind::Crc32);
    std::vector<std::string> files;
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (options_done || !looks_like_option(a)) {
            files.emplace_back(a);
        } else if (std::strcmp(a, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            print_usage(true);
            return kExitOk;
        } else if (const ChecksumAlgo* found = find_checksum_option(a)) {
            algo = found;  // the last choice wins
        } else {
            return usage_error("checksum: unknown option '%s'", a);
        }
    }
    if (files.empty()) files.emplace_back("-");

    std::unique_ptr<uint8_t[]> buf(new uint8_t[kBufferSize]);
    int status = kExitOk;
    for (const std::string& f : files) {
        uint32_t value = 0;
        if (checksum_input(*algo, f, buf.get(), &value)) {
            std::printf("%08x  %s\n", static_cast<unsigned>(value), f.c_str());
            std::fflush(stdout);  // keep lines in order with messages on stderr
        } else {
            status = kExitFailure;
        }
    }
    if (std::ferror(stdout)) {
        print_error("checksum: write error on standard output");
        status = kExitFailure;
    }
    return status;
}

}  // namespace vekdc
