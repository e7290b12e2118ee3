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
// same whatever its size.
//
// Decompression goes through InflateStream (inflate_stream.cpp) and the
// library's inflater, in constant memory. gzip: any number of members, each
// with its own CRC-32 and size checked; the optional header fields (extra
// field, name, comment) are read and ignored, a header CRC is checked;
// zero padding after the last member is ignored, anything else but another
// member after a member is an error. zlib: one stream;
// a preset dictionary is refused; the Adler-32 is checked; bytes after the
// stream are an error, as they are after a bare deflate stream.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "checksums.h"
#include "codec_io.h"
#include "deflate_encoder.h"
#include "format.h"
#include "inflate_stream.h"

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
        : container_(c),
          level_(level),
          encoder_(deflate_settings_for_level(level)),
          buf_(kReadPiece) {}

    void run(Reader& in, Writer& out) override {
        write_header(out);
        const ChecksumAlgo& sum = checksum_algo(
            container_ == Container::kZlib ? ChecksumKind::Adler32 : ChecksumKind::Crc32);
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
                if (n < buf_.size()) break;  // a short read is the end of the input
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
            const uint8_t xfl = level_ == 9                                     ? 2
                                : level_ == 1 || level_ == kDeflateFastestLevel ? 4
                                                                                : 0;
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

// --- decompression ------------------------------------------------------------

constexpr uint8_t kGzipHeaderCrc = 0x02, kGzipExtra = 0x04, kGzipName = 0x08, kGzipComment = 0x10,
                  kGzipReserved = 0xE0;

std::string hex32(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
    return buf;
}

class DeflateDecompressor : public Codec {
  public:
    explicit DeflateDecompressor(Container c) : container_(c) {}

    void run(Reader& in, Writer& out) override {
        InflateStream s(in, out, container_name(container_));
        switch (container_) {
            case Container::kGzip:
                run_gzip(s);
                break;
            case Container::kZlib:
                run_zlib(s);
                break;
            case Container::kRaw:
                s.begin(nullptr);
                s.inflate();
                if (!s.at_end()) s.corrupt("trailing bytes after the end of the stream");
                break;
        }
    }

  private:
    // Members one after another; each must start with the gzip magic. Zero
    // bytes up to the end of the input after a member are padding (a tape
    // or block device rounds the file up with them) and ignored, as gzip
    // does. Any other byte after a member is an error (gzip itself warns
    // and ignores it), so that damaged or mixed-up files are not mistaken
    // for whole ones.
    void run_gzip(InflateStream& s) {
        const ChecksumAlgo& crc = checksum_algo(ChecksumKind::Crc32);
        for (bool first = true;; first = false) {
            if (!first && s.at_end()) return;
            uint8_t next = 0;
            if (!first && s.peek_byte(&next) && next == 0) {
                while (!s.at_end())
                    if (s.byte("zero padding") != 0)
                        s.corrupt("trailing garbage after the last member");
                return;
            }
            gzip_header(s, crc, first);
            s.begin(&crc);
            s.inflate();
            uint8_t t[8];
            for (int i = 0; i < 8; ++i) t[i] = s.byte("the gzip trailer");
            if (load_le32(t) != s.check())
                s.corrupt("CRC-32 mismatch (stored " + hex32(load_le32(t)) + ", computed " +
                          hex32(s.check()) + ")");
            if (load_le32(t + 4) != static_cast<uint32_t>(s.size()))
                s.corrupt("size mismatch (stored " + std::to_string(load_le32(t + 4)) +
                          ", decoded " + std::to_string(static_cast<uint32_t>(s.size())) +
                          " modulo 2^32)");
        }
    }

    static void gzip_header(InflateStream& s, const ChecksumAlgo& crc, bool first) {
        const char* where = "the gzip header";
        uint8_t h[10];
        h[0] = s.byte(where);
        if (!first && (h[0] != 0x1f || !s.peek_byte(&h[1]) || h[1] != 0x8b))
            s.corrupt("trailing garbage after the last member");
        for (int i = 1; i < 10; ++i) h[i] = s.byte(where);
        if (h[0] != 0x1f || h[1] != 0x8b) s.corrupt("no gzip magic number");
        if (h[2] != 8) s.corrupt("unknown compression method " + std::to_string(h[2]));
        const uint8_t flg = h[3];
        if (flg & kGzipReserved) s.corrupt("reserved header flag bits set");
        uint32_t hcrc = crc.update(crc.start, h, 10);
        auto next = [&]() {
            const uint8_t b = s.byte(where);
            if (flg & kGzipHeaderCrc) hcrc = crc.update(hcrc, &b, 1);
            return b;
        };
        if (flg & kGzipExtra) {
            const uint32_t lo = next();
            const uint32_t xlen = lo | uint32_t(next()) << 8;
            for (uint32_t i = 0; i < xlen; ++i) next();
        }
        if (flg & kGzipName)
            while (next() != 0) {
            }
        if (flg & kGzipComment)
            while (next() != 0) {
            }
        if (flg & kGzipHeaderCrc) {
            const uint32_t lo = s.byte(where);
            const uint32_t stored = lo | uint32_t(s.byte(where)) << 8;
            if (stored != (crc.finish(hcrc) & 0xFFFF)) s.corrupt("header CRC mismatch");
        }
    }

    static void run_zlib(InflateStream& s) {
        const char* where = "the zlib header";
        const uint8_t cmf = s.byte(where);
        const uint8_t flg = s.byte(where);
        if ((cmf & 0x0F) != 8)
            s.corrupt("unknown compression method " + std::to_string(cmf & 0x0F));
        if ((cmf >> 4) > 7)
            s.corrupt("window size field " + std::to_string(cmf >> 4) + " is above 7");
        if ((unsigned(cmf) * 256 + flg) % 31 != 0) s.corrupt("header check bits are wrong");
        if (flg & 0x20) fail_input("zlib stream needs a preset dictionary, which is not supported");
        const ChecksumAlgo& adler = checksum_algo(ChecksumKind::Adler32);
        s.begin(&adler);
        s.inflate();
        uint32_t stored = 0;
        for (int i = 0; i < 4; ++i) stored = stored << 8 | s.byte("the zlib trailer");
        if (stored != s.check())
            s.corrupt("Adler-32 mismatch (stored " + hex32(stored) + ", computed " +
                      hex32(s.check()) + ")");
        if (!s.at_end()) s.corrupt("trailing bytes after the end of the stream");
    }

    const Container container_;
};

std::unique_ptr<Codec> make_decompressor(Container c, const FormatSettings& fs,
                                         std::string* error) {
    if (!fs.options.empty()) {
        *error = std::string(container_name(c)) + ": unknown decompress option '" +
                 fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<DeflateDecompressor>(c);
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
std::unique_ptr<Codec> gzip_decompressor(const FormatSettings& fs, std::string* e) {
    return make_decompressor(Container::kGzip, fs, e);
}
std::unique_ptr<Codec> zlib_decompressor(const FormatSettings& fs, std::string* e) {
    return make_decompressor(Container::kZlib, fs, e);
}
std::unique_ptr<Codec> raw_decompressor(const FormatSettings& fs, std::string* e) {
    return make_decompressor(Container::kRaw, fs, e);
}

}  // namespace

VEKDC_FORMAT({"gzip", ".gz", detect_gzip, gzip_compressor, gzip_decompressor});
VEKDC_FORMAT({"zlib", ".zz", detect_zlib, zlib_compressor, zlib_decompressor});
VEKDC_FORMAT({"deflate", ".deflate", nullptr, raw_compressor, raw_decompressor});

}  // namespace vekdc
