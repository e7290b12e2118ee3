// -F gzip, -F zlib, -F deflate: one Deflate stream (RFC 1951) in the gzip
// container (RFC 1952), the zlib container (RFC 1950) or bare.
//
// gzip (suffix .gz), little-endian fields:
//   1f 8b, CM 8 (Deflate), FLG 0 (no name, comment, extra field or header
//   CRC), MTIME 0 (none recorded), XFL (2: level 9, 4: levels 1 and -1,
//   else 0), OS 3 (Unix); the Deflate stream; CRC-32 of the content; the
//   content size modulo 2^32.
// zlib (suffix .zz): CMF 0x78 (Deflate, 32 KiB window), FLG with FLEVEL
//   (0: levels 0, 1, -1; 1: 2..5; 2: 6; 3: 7..9), no dictionary, and the
//   check bits that make CMF * 256 + FLG a multiple of 31; the Deflate
//   stream; the Adler-32 of the content, big-endian.
// deflate (suffix .deflate): the bare stream; it has no magic number, so
//   decompress recognises it only when named with -F deflate.
//
// The stream comes from DeflateEncoder (deflate_encoder.cpp, where the
// levels are described); the checksums from the library (veksCRC32_8u,
// veksAdler32_8u). The input is read in 1 MiB pieces, so memory stays the
// same whatever its size. Decompressing these formats needs the library's
// Inflate, which this build does not use: asking for it is refused with a
// message.
#include <memory>
#include <string>
#include <vector>

#include "checksums.h"
#include "codec_io.h"
#include "deflate_encoder.h"
#include "format.h"

namespace vekdc {

namespace {

enum class Container { kGzip, kZlib, kRaw };

const char* container_name(Container c) {
    switch (c) {
    case Container::kGzip:
        return "gzip";
    case Container::kZlib:
        return "zlib";
    case Container::kRaw:
        break;
    }
    return "deflate";
}

constexpr size_t kReadPiece = size_t(1) << 20;

class OutSink : public DeflateSink {
public:
    explicit OutSink(Writer& out) : out_(out) {}
    void put(const uint8_t* data, size_t n) override { out_.write(data, n); }

private:
    Writer& out_;
};

class DeflateCompressor : public Codec {
public:
    DeflateCompressor(Container c, int level)
        : container_(c), level_(level), encoder_(deflate_settings_for_level(level)), buf_(kReadPiece) {}

    void run(Reader& in, Writer& out) override {
        write_header(out);
        const ChecksumAlgo& sum =
            checksum_algo(container_ == Container::kZlib ? ChecksumKind::Adler32 : ChecksumKind::Crc32);
        uint32_t check = sum.start;
        uint64_t size = 0;
        OutSink sink(out);
        encoder_.reset();
        try {
            for (;;) {
                const size_t n = in.read(buf_.data(), buf_.size());
                if (n == 0) break;
                if (container_ != Container::kRaw) check = sum.update(check, buf_.data(), n);
                size += n;
                encoder_.write(buf_.data(), n, sink);
                if (n < buf_.size()) break; // a short read is the end of the input
            }
            encoder_.finish(sink);
        } catch (const DeflateError& e) {
            fail_input(std::string("internal error: ") + e.what());
        }
        check = sum.finish(check);
        uint8_t trailer[8];
        if (container_ == Container::kGzip) {
            store_le32(trailer, check);
            store_le32(trailer + 4, static_cast<uint32_t>(size));
            out.write(trailer, 8);
        } else if (container_ == Container::kZlib) {
            for (int i = 0; i < 4; ++i) trailer[i] = static_cast<uint8_t>(check >> (24 - 8 * i));
            out.write(trailer, 4);
        }
    }

private:
    void write_header(Writer& out) const {
        if (container_ == Container::kGzip) {
            const uint8_t xfl = level_ == 9 ? 2 : level_ == 1 || level_ == kDeflateFastestLevel ? 4 : 0;
            const uint8_t header[10] = {0x1f, 0x8b, 8, 0, 0, 0, 0, 0, xfl, 3};
            out.write(header, sizeof header);
        } else if (container_ == Container::kZlib) {
            const unsigned flevel = level_ <= 1 ? 0 : level_ <= 5 ? 1 : level_ == 6 ? 2 : 3;
            const unsigned cmf = 0x78;
            unsigned flg = flevel << 6;
            flg += 31 - (cmf * 256 + flg) % 31;
            const uint8_t header[2] = {static_cast<uint8_t>(cmf), static_cast<uint8_t>(flg)};
            out.write(header, sizeof header);
        }
    }

    const Container container_;
    const int level_;
    DeflateEncoder encoder_;
    std::vector<uint8_t> buf_;
};

std::unique_ptr<Codec> make_compressor(Container c, const FormatSettings& fs, std::string* error) {
    const char* name = container_name(c);
    const int level = fs.level_given ? fs.level : kDeflateDefaultLevel;
    if (level < kDeflateMinLevel || level > kDeflateMaxLevel) {
        *error = std::string(name) + ": level " + std::to_string(level) + " is outside " +
                 std::to_string(kDeflateMinLevel) + ".." + std::to_string(kDeflateMaxLevel);
        return nullptr;
    }
    if (!fs.options.empty()) {
        *error = std::string(name) + ": unknown compress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<DeflateCompressor>(c, level);
}

std::unique_ptr<Codec> make_decompressor(Container c, std::string* error) {
    *error = std::string("decompression of ") + container_name(c) +
             " is not available in this build";
    return nullptr;
}

bool detect_gzip(const uint8_t* head, size_t n) {
    return n >= 2 && head[0] == 0x1f && head[1] == 0x8b;
}

// CM 8 with a window of at most 32 KiB and valid check bits.
bool detect_zlib(const uint8_t* head, size_t n) {
    return n >= 2 && (head[0] & 0x0F) == 8 && (head[0] >> 4) <= 7 &&
           (unsigned(head[0]) * 256 + head[1]) % 31 == 0;
}

std::unique_ptr<Codec> gzip_compressor(const FormatSettings& fs, std::string* e) {
    return make_compressor(Container::kGzip, fs, e);
}
std::unique_ptr<Codec> zlib_compressor(const FormatSettings& fs, std::string* e) {
    return make_compressor(Container::kZlib, fs, e);
}
std::unique_ptr<Codec> raw_compressor(const FormatSettings& fs, std::string* e) {
    return make_compressor(Container::kRaw, fs, e);
}
std::unique_ptr<Codec> gzip_decompressor(const FormatSettings&, std::string* e) {
    return make_decompressor(Container::kGzip, e);
}
std::unique_ptr<Codec> zlib_decompressor(const FormatSettings&, std::string* e) {
    return make_decompressor(Container::kZlib, e);
}
std::unique_ptr<Codec> raw_decompressor(const FormatSettings&, std::string* e) {
    return make_decompressor(Container::kRaw, e);
}

} // namespace

VEKDC_FORMAT({"gzip", ".gz", detect_gzip, gzip_compressor, gzip_decompressor});
VEKDC_FORMAT({"zlib", ".zz", detect_zlib, zlib_compressor, zlib_decompressor});
VEKDC_FORMAT({"deflate", ".deflate", nullptr, raw_compressor, raw_decompressor});

} // namespace vekdc
