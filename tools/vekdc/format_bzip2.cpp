// -F bzip2: .bz2 files, one stream per compression, any number of streams
// in a row on decompression. The container and its block coding are in
// bz2_container.{h,cpp}.
//
// Compression levels (-l) 1..9 (default 9): blocks of up to 100000 x level
// bytes after run-length coding, like bzip2 -1 .. -9.
#include <memory>
#include <string>

#include "bz2_container.h"
#include "codec_io.h"
#include "format.h"

namespace vekdc {

namespace {

constexpr size_t kReadChunk = size_t(1) << 20;

class WriterSink : public bz2::ByteSink {
  public:
    explicit WriterSink(Writer& w) : w_(w) {}
    void put(const uint8_t* p, size_t n) override { w_.write(p, n); }

  private:
    Writer& w_;
};

class ReaderSource : public bz2::ByteSource {
  public:
    explicit ReaderSource(Reader& r) : r_(r) {}
    size_t get(uint8_t* dst, size_t cap) override { return r_.read(dst, cap); }

  private:
    Reader& r_;
};

class Bzip2Compressor : public Codec {
  public:
    explicit Bzip2Compressor(int level) : level_(level) {}

    void run(Reader& in, Writer& out) override {
        try {
            // A fresh encoder per input: one that failed mid-stream is not reused.
            bz2::Encoder enc(level_);
            if (!buf_) buf_ = std::make_unique<uint8_t[]>(kReadChunk);
            WriterSink sink(out);
            for (;;) {
                const size_t n = in.read(buf_.get(), kReadChunk);
                if (n == 0) break;
                enc.write(buf_.get(), n, sink);
            }
            enc.finish(sink);
        } catch (const bz2::Bz2Error& e) {
            fail_input(e.what());
        }
    }

  private:
    const int level_;
    std::unique_ptr<uint8_t[]> buf_;
};

class Bzip2Decompressor : public Codec {
  public:
    void run(Reader& in, Writer& out) override {
        ReaderSource src(in);
        WriterSink sink(out);
        try {
            dec_.run(src, sink);
        } catch (const bz2::Bz2Error& e) {
            fail_input(e.what());
        }
    }

  private:
    bz2::Decoder dec_;
};

bool detect(const uint8_t* head, size_t n) {
    return bz2::looks_like_bz2(head, n);
}

std::unique_ptr<Codec> make_compressor(const FormatSettings& fs, std::string* error) {
    const int level = fs.level_given ? fs.level : bz2::kDefaultLevel;
    if (level < bz2::kMinLevel || level > bz2::kMaxLevel) {
        *error = "bzip2: level " + std::to_string(level) + " is outside 1..9";
        return nullptr;
    }
    if (!fs.options.empty()) {
        *error = "bzip2: unknown compress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<Bzip2Compressor>(level);
}

std::unique_ptr<Codec> make_decompressor(const FormatSettings& fs, std::string* error) {
    if (!fs.options.empty()) {
        *error = "bzip2: unknown decompress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<Bzip2Decompressor>();
}

}  // namespace

VEKDC_FORMAT({"bzip2", ".bz2", detect, make_compressor, make_decompressor});

}  // namespace vekdc
