// Container formats of the compress/decompress commands.
//
// A format lives in its own format_*.cpp file and registers itself with
// VEKDC_FORMAT, much like the benchmark families. The command does all the
// file handling (names, temporary files, -k/-f/-c/-t); a format only turns
// one byte stream into another and recognises its own magic number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec_io.h"

namespace vekdc {

// What the command line says beyond the file names.
struct FormatSettings {
    bool level_given = false;
    int level = 0;
    // The format's own long options exactly as typed ("--block-size=64K");
    // the format accepts or rejects them.
    std::vector<std::string> options;
};

// One compression or decompression job; may be run on several inputs in
// turn. Throws CodecFailure.
class Codec {
  public:
    virtual ~Codec() = default;
    virtual void run(Reader& in, Writer& out) = 0;
};

struct Format {
    const char* name;    // for -F and in messages: "lz4"
    const char* suffix;  // appended on compress, stripped on decompress: ".lz4"
    // True when `head` (n bytes, at most Reader::kPeekMax, fewer at a short
    // input) starts with this format's magic number. Null for a format
    // without one (raw deflate): decompress never picks it by itself, and
    // takes any input for it when it is named with -F.
    bool (*detect)(const uint8_t* head, size_t n);
    // Build a codec for the settings, or return null with *error set to a
    // one-line reason (bad level or option, or a direction this build
    // cannot do).
    std::unique_ptr<Codec> (*compressor)(const FormatSettings& settings, std::string* error);
    std::unique_ptr<Codec> (*decompressor)(const FormatSettings& settings, std::string* error);
};

// Adds a format; returns true so that it can initialise a static object.
bool register_format(const Format& format);
// Registered formats in name order.
std::vector<Format> formats();
// Null when there is no such format.
const Format* find_format(const std::string& name);
// "lz4, ..." for messages.
std::string format_names();

// Long options of a format that take their values as separate arguments
// ("--dims 64 64 32"): the command line gathers the next `values` arguments
// and hands the option on as "--dims=64,64,32". The "--name=value" form is
// accepted as typed. Returns true for use in a static initialiser.
bool register_format_option(const char* name, int values);
// Number of separate values the option takes; 0 for an unknown one.
int format_option_values(const std::string& name);

#define VEKDC_FORMAT_CAT2(a, b) a##b
#define VEKDC_FORMAT_CAT(a, b) VEKDC_FORMAT_CAT2(a, b)
#define VEKDC_FORMAT(...)                                         \
    static const bool VEKDC_FORMAT_CAT(vekdc_format_, __LINE__) = \
        ::vekdc::register_format(__VA_ARGS__)

#define VEKDC_FORMAT_OPTION(name, values)                                \
    static const bool VEKDC_FORMAT_CAT(vekdc_format_option_, __LINE__) = \
        ::vekdc::register_format_option(name, values)

}  // namespace vekdc
