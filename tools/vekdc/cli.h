// Helpers shared by the commands of the vekdc tool: exit codes, messages,
// and reading files or standard input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vekdc {

constexpr const char* kProgram = "vekdc";

enum ExitCode : int {
    kExitOk = 0,
    kExitFailure = 1,  // a file or the data could not be processed
    kExitUsage = 2     // bad command line
};

// The text with control characters (a newline in a file name, escape
// sequences) shown as '?', so that it stays on its line of a terminal.
std::string printable(std::string text);

// "vekdc: <message>" on standard error, control characters shown as '?'.
void print_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// "vekdc: <message> (try 'vekdc --help')" on standard error; returns kExitUsage.
int usage_error(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// True for "-x" / "--xyz" arguments; a lone "-" names standard input.
bool looks_like_option(const char* arg);

// Byte source: a named file, or standard input for "-". Reads in pieces so
// inputs of any size pass through in constant memory.
class Input {
  public:
    Input() = default;
    ~Input();
    Input(const Input&) = delete;
    Input& operator=(const Input&) = delete;

    // Opens `path` ("-" for standard input). On failure returns false and
    // leaves errno in error().
    bool open(const std::string& path);
    // Reads up to `cap` bytes; returns the count (0 at end of input) or -1
    // with error() set.
    long read(uint8_t* dst, size_t cap);
    void close();

    int error() const { return err_; }
    int fd() const { return fd_; }
    const std::string& name() const { return name_; }

  private:
    int fd_ = -1;
    bool owned_ = false;
    int err_ = 0;
    std::string name_;
};

// Reads a whole file ("-" for standard input) into `out`. Returns 0 or an
// errno value.
int read_whole_file(const std::string& path, std::vector<uint8_t>& out);

// "4 KiB", "16 MiB", or a plain byte count when it is not a whole unit.
std::string format_size(uint64_t bytes);

}  // namespace vekdc
