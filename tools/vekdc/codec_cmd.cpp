// vekdc compress -F FORMAT [-l LEVEL] [-o OUT | -c] [-k] [-f] [FORMAT OPTIONS] [FILE...]
// vekdc decompress [-F FORMAT] [-o OUT | -c | -t] [-k] [-f] [FILE...]
//
// The file handling follows gzip's habits: FILE becomes FILE.SUFFIX (and
// back), standard input and output are used for "-" or no FILE, -c writes to
// standard output, an existing output is never replaced without -f, and the
// input is removed once its output is complete unless -k or -c is given.
// Outputs are written under a temporary name and renamed into place, so a
// failure never leaves a partial file under the final name. The formats
// themselves are in format_*.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "cli.h"
#include "codec_io.h"
#include "commands.h"
#include "format.h"
#include "output_file.h"

namespace vekdc {

namespace {

struct CodecOptions {
    bool compress = true;
    const Format* format = nullptr;  // -F; decompress detects it when absent
    FormatSettings settings;
    bool output_given = false;  // -o
    std::string output;
    bool to_stdout = false;  // -c
    bool keep = false;       // -k
    bool force = false;      // -f
    bool test = false;       // -t
    std::vector<std::string> files;
};

bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool parse_int(const char* text, int* value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end != '\0' || v < -1000000 || v > 1000000) return false;
    *value = static_cast<int>(v);
    return true;
}

// Returns -1 to go on, or the exit status.
int parse_args(const char* command, int argc, char** argv, CodecOptions& o) {
    bool options_done = false;
    std::string format_name;
    auto value_of = [&](int& i, const char* arg, size_t at, const char** value) {
        if (arg[at] != '\0') {
            *value = arg + at;
            return true;
        }
        if (i + 1 >= argc) return false;
        *value = argv[++i];
        return true;
    };
    auto set_level = [&](const char* text) {
        if (!parse_int(text, &o.settings.level)) return false;
        o.settings.level_given = true;
        return true;
    };
    auto set_output = [&](const char* text) {
        o.output_given = true;
        o.output = text;
    };

    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (options_done || !looks_like_option(a)) {
            o.files.emplace_back(a);
            continue;
        }
        if (std::strcmp(a, "--") == 0) {
            options_done = true;
            continue;
        }
        if (a[1] == '-') {
            const std::string arg(a);
            const size_t eq = arg.find('=');
            const std::string key = arg.substr(0, eq);
            const bool has_value = eq != std::string::npos;
            const std::string val = has_value ? arg.substr(eq + 1) : "";
            if (arg == "--help") {
                print_usage(true);
                return kExitOk;
            } else if (key == "--format" && has_value) {
                format_name = val;
            } else if (key == "--level" && has_value && o.compress) {
                if (!set_level(val.c_str()))
                    return usage_error("%s: bad level '%s'", command, val.c_str());
            } else if (key == "--output" && has_value) {
                set_output(val.c_str());
            } else if (arg == "--stdout") {
                o.to_stdout = true;
            } else if (arg == "--keep") {
                o.keep = true;
            } else if (arg == "--force") {
                o.force = true;
            } else if (arg == "--test" && !o.compress) {
                o.test = true;
            } else if (!has_value && format_option_values(key) > 0) {
                // Values given as separate arguments: "--dims 64 64 32".
                std::string joined = key + "=";
                for (int v = 0; v < format_option_values(key); ++v) {
                    if (i + 1 >= argc)
                        return usage_error("%s: option '%s' needs %d value%s", command, key.c_str(),
                                           format_option_values(key),
                                           format_option_values(key) > 1 ? "s" : "");
                    joined += (v ? "," : "") + std::string(argv[++i]);
                }
                o.settings.options.push_back(joined);
            } else {
                o.settings.options.push_back(arg);  // the format's to judge
            }
            continue;
        }
        // Short options, which may be grouped (-kf) and take their value
        // attached (-l9) or as the next argument (-l -5).
        for (size_t k = 1; a[k] != '\0'; ++k) {
            const char c = a[k];
            const char* value = nullptr;
            if (c == 'F' || c == 'o' || (c == 'l' && o.compress)) {
                if (!value_of(i, a, k + 1, &value))
                    return usage_error("%s: option '-%c' needs a value", command, c);
                if (c == 'F') format_name = value;
                if (c == 'o') set_output(value);
                if (c == 'l' && !set_level(value))
                    return usage_error("%s: bad level '%s'", command, value);
                break;
            }
            if (c == 'c') {
                o.to_stdout = true;
            } else if (c == 'k') {
                o.keep = true;
            } else if (c == 'f') {
                o.force = true;
            } else if (c == 't' && !o.compress) {
                o.test = true;
            } else if (c == 'h') {
                print_usage(true);
                return kExitOk;
            } else {
                return usage_error("%s: unknown option '-%c'", command, c);
            }
        }
    }

    if (!format_name.empty()) {
        o.format = find_format(format_name);
        if (!o.format)
            return usage_error("%s: unknown format '%s' (available: %s)", command,
                               format_name.c_str(), format_names().c_str());
    }
    if (o.compress && !o.format)
        return usage_error("compress: -F FORMAT is required (available: %s)",
                           format_names().c_str());
    if (o.output_given && o.to_stdout)
        return usage_error("%s: -o and -c exclude each other", command);
    if (o.test && (o.output_given || o.to_stdout))
        return usage_error("decompress: -t writes nothing; it takes no -o or -c");
    if (o.output_given && o.output.empty()) return usage_error("%s: -o needs a file name", command);
    if (o.output_given && o.files.size() > 1)
        return usage_error("%s: -o takes a single input file", command);
    if (!o.format && !o.settings.options.empty())
        return usage_error(
            "%s: '%s' is not an option of this command, nor of a format named with -F", command,
            o.settings.options.front().c_str());
    if (o.files.empty()) o.files.emplace_back("-");
    return -1;
}

std::string display_name(const std::string& path) {
    return path == "-" ? "(standard input)" : path;
}

// Codecs by format name, built on first use.
class CodecCache {
  public:
    explicit CodecCache(const CodecOptions& o) : o_(o) {}
    Codec* get(const Format& f, std::string* error) {
        std::unique_ptr<Codec>& c = cache_[f.name];
        if (!c)
            c = o_.compress ? f.compressor(o_.settings, error) : f.decompressor(o_.settings, error);
        return c.get();
    }

  private:
    const CodecOptions& o_;
    std::map<std::string, std::unique_ptr<Codec>> cache_;
};

// An existing device or pipe named as the output, opened for writing.
class SpecialOutput {
  public:
    SpecialOutput() = default;
    ~SpecialOutput() {
        if (fd_ >= 0) ::close(fd_);
    }
    SpecialOutput(const SpecialOutput&) = delete;
    SpecialOutput& operator=(const SpecialOutput&) = delete;
    // Returns 0 or an errno value.
    int open(const std::string& path) {
        do {
            fd_ = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        } while (fd_ < 0 && errno == EINTR);
        return fd_ < 0 ? errno : 0;
    }
    int fd() const { return fd_; }
    // Returns 0 or the errno value of a failed close.
    int close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) != 0 && errno != EINTR ? errno : 0;
    }

  private:
    int fd_ = -1;
};

// Compresses, decompresses or tests one input. Returns kExitOk, or after
// reporting the failure kExitFailure, or kExitUsage when the input is in a
// format that this build cannot decompress.
int process(const CodecOptions& o, CodecCache& codecs, const std::string& path) {
    const std::string in_name = display_name(path);
    // An output named after the input is for regular files only: a device
    // or a pipe would otherwise yield "/dev/null.gz" and the like. Such a
    // name is refused before it is opened, as opening a pipe without a
    // writer would wait for one.
    const bool named_after_input = !o.test && !o.to_stdout && !o.output_given && path != "-";
    struct stat in_st;
    if (path != "-" && stat(path.c_str(), &in_st) == 0 && !S_ISDIR(in_st.st_mode) &&
        !S_ISREG(in_st.st_mode) && named_after_input) {
        print_error("%s: not a regular file; give -o OUT or -c", in_name.c_str());
        return kExitFailure;
    }
    Input in;
    if (!in.open(path)) {
        print_error("%s: %s", in_name.c_str(), std::strerror(in.error()));
        return kExitFailure;
    }
    if (fstat(in.fd(), &in_st) != 0) {
        print_error("%s: %s", in_name.c_str(), std::strerror(errno));
        return kExitFailure;
    }
    if (S_ISDIR(in_st.st_mode)) {
        print_error("%s: is a directory", in_name.c_str());
        return kExitFailure;
    }
    const bool in_regular = S_ISREG(in_st.st_mode);
    if (named_after_input && !in_regular) {
        print_error("%s: not a regular file; give -o OUT or -c", in_name.c_str());
        return kExitFailure;
    }
    if (!o.compress && !o.force && isatty(in.fd())) {
        print_error("%s: compressed data is not read from a terminal (-f to force)",
                    in_name.c_str());
        return kExitFailure;
    }

    Progress progress(path == "-" ? "standard input" : path,
                      in_regular ? static_cast<uint64_t>(in_st.st_size) : 0);
    Reader reader(in, &progress);
    auto report = [&](const std::string& name, const std::string& message) {
        progress.finish();
        print_error("%s: %s", name.c_str(), message.c_str());
        return kExitFailure;
    };

    // Which format.
    const Format* format = o.format;
    try {
        if (!o.compress) {
            const uint8_t* head = nullptr;
            const size_t n = reader.peek(&head, Reader::kPeekMax);
            if (format) {
                if (format->detect && !format->detect(head, n))
                    return report(in_name, n == 0
                                               ? std::string("empty input, not in ") +
                                                     format->name + " format"
                                               : std::string("not in ") + format->name + " format");
            } else {
                for (const Format& f : formats())
                    if (!format && f.detect && f.detect(head, n)) format = find_format(f.name);
                if (!format)
                    return report(in_name, n == 0 ? "empty input, no compressed data"
                                                  : "not in a known compressed format");
            }
        }
    } catch (const CodecFailure& e) {
        return report(in_name, e.what());
    }
    std::string error;
    Codec* codec = codecs.get(*format, &error);
    if (!codec) {
        report(in_name, error);
        return o.compress ? kExitFailure : kExitUsage;
    }

    // Where the output goes.
    const bool to_stdout = !o.test && (o.to_stdout || (o.output_given && o.output == "-") ||
                                       (!o.output_given && path == "-"));
    std::string out_path;
    bool special_out = false;  // out_path names an existing device or pipe
    if (!o.test && !to_stdout) {
        const std::string suffix = format->suffix;
        if (o.output_given) {
            out_path = o.output;
        } else if (o.compress) {
            if (ends_with(path, suffix) && !o.force)
                return report(in_name, "already has the " + suffix +
                                           " suffix, left alone (-f to compress anyway)");
            out_path = path + suffix;
        } else {
            if (!ends_with(path, suffix))
                return report(in_name, "name does not end in " + suffix + "; give -o OUT or -c");
            if (path.size() == suffix.size() || path[path.size() - suffix.size() - 1] == '/')
                return report(in_name, "name has nothing before " + suffix + "; give -o OUT or -c");
            out_path = path.substr(0, path.size() - suffix.size());
        }
        struct stat out_st, target_st;
        if (lstat(out_path.c_str(), &out_st) == 0) {
            if (in_regular && out_st.st_dev == in_st.st_dev && out_st.st_ino == in_st.st_ino)
                return report(out_path, "input and output are the same file");
            if (S_ISDIR(out_st.st_mode)) return report(out_path, "is a directory");
            // A device or a pipe (also through a link: -o /dev/null,
            // /dev/stdout) is written to as it is, never replaced by a
            // file, and the input stays.
            if (stat(out_path.c_str(), &target_st) == 0 && !S_ISREG(target_st.st_mode) &&
                !S_ISDIR(target_st.st_mode))
                special_out = true;
            else if (!o.force)
                return report(out_path, "already exists (-f to overwrite)");
        }
    }
    if (to_stdout && o.compress && !o.force && isatty(STDOUT_FILENO))
        return report(in_name, "compressed data is not written to a terminal (-f to force)");
    // "-c FILE >>FILE" would read its own output back, on and on.
    struct stat stdout_st;
    if (to_stdout && in_regular && fstat(STDOUT_FILENO, &stdout_st) == 0 &&
        S_ISREG(stdout_st.st_mode) && stdout_st.st_dev == in_st.st_dev &&
        stdout_st.st_ino == in_st.st_ino)
        return report(in_name, "input and output are the same file");

    OutputFile file;
    SpecialOutput special;
    if (special_out) {
        if (const int err = special.open(out_path))
            return report(out_path, std::string("cannot open: ") + std::strerror(err));
    } else if (!out_path.empty()) {
        if (const int err = file.create(out_path))
            return report(out_path, std::string("cannot create: ") + std::strerror(err));
    }
    const std::string out_name = to_stdout ? "(standard output)" : out_path;

    NullWriter null_writer;
    FdWriter fd_writer(to_stdout ? STDOUT_FILENO : special_out ? special.fd() : file.fd());
    Writer& writer = o.test ? static_cast<Writer&>(null_writer) : fd_writer;
    try {
        codec->run(reader, writer);
        writer.flush();
    } catch (const CodecFailure& e) {
        file.discard();
        return report(e.side == CodecFailure::kInput ? in_name : out_name, e.what());
    } catch (const std::bad_alloc&) {
        file.discard();
        return report(in_name, "out of memory");
    } catch (const std::exception& e) {
        // Not expected; still one line and no output left behind.
        file.discard();
        return report(in_name, std::string("internal error: ") + e.what());
    }
    progress.finish();

    if (special_out) {
        if (const int err = special.close())
            return report(out_path, std::string("write error: ") + std::strerror(err));
        return kExitOk;
    }
    if (!out_path.empty()) {
        // A named input passes on its mode and times; standard input does not.
        const bool like_input = in_regular && path != "-";
        if (const int err = file.commit(like_input ? &in_st : nullptr, o.force))
            return report(out_path, err == EEXIST
                                        ? "already exists (-f to overwrite)"
                                        : std::string("write error: ") + std::strerror(err));
    }
    if (!o.keep && !o.test && !to_stdout && path != "-" && in_regular) {
        in.close();
        if (unlink(path.c_str()) != 0)
            return report(in_name, std::string("cannot remove: ") + std::strerror(errno));
    }
    return kExitOk;
}

int run(bool compress, int argc, char** argv) {
    CodecOptions o;
    o.compress = compress;
    const char* command = compress ? "compress" : "decompress";
    const int status = parse_args(command, argc, argv, o);
    if (status >= 0) return status;

    // Options of the format are checked before any file is touched.
    CodecCache codecs(o);
    if (o.format) {
        std::string error;
        if (!codecs.get(*o.format, &error)) return usage_error("%s: %s", command, error.c_str());
    }

    install_output_cleanup();
    int worst = kExitOk;
    for (const std::string& f : o.files) worst = std::max(worst, process(o, codecs, f));
    return worst;
}

}  // namespace

int cmd_compress(int argc, char** argv) {
    return run(true, argc, argv);
}

int cmd_decompress(int argc, char** argv) {
    return run(false, argc, argv);
}

}  // namespace vekdc
