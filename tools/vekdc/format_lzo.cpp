// -F lzo: the file format of the lzop tool (suffix .lzo), LZO1X blocks.
//
// Layout (multi-byte numbers big-endian):
//   magic 89 4C 5A 4F 00 0D 0A 1A 0A
//   version, library version, version needed to extract (from 0x0940 on),
//   method (1, 2, 3: LZO1X variants), level (from 0x0940 on), flags,
//   [filter, when flags & 0x800], mode, mtime (low, then high from 0x0940
//   on), name length and name; then a checksum of those header bytes
//   (Adler-32, or CRC-32 when flags & 0x1000); [extra field when flags &
//   0x40: its length, the bytes, a checksum]
//   blocks: uncompressed size (0 ends the file), compressed size,
//     [Adler-32 / CRC-32 of the uncompressed bytes: flags 0x1 / 0x100],
//     [Adler-32 / CRC-32 of the compressed bytes: flags 0x2 / 0x200, only
//     when the block is compressed], the bytes. A compressed size equal to
//     the uncompressed size marks a block stored as it is.
//
// Compression writes blocks of up to 256 KiB, method byte 1 (LZO1X), the
// level, and both Adler-32 checksums (library's veksAdler32_8u); a block
// that coding does not shrink is stored. No name, mode or time is recorded
// (the flags say "from standard input", as lzop does for a pipe).
//   -l 1..6 (default 3): veksEncodeLZO_8u method 2, the piecewise matcher
//   -l 7..9:             method 0, which probes every position
// Decompression reads what lzop writes at any level, with either checksum
// kind, and files of several such members one after another; zero bytes
// after the last member are padding and ignored. Every block
// goes through the validating decoder (veksDecodeLZOSafe_8u) and must fill
// exactly its stated size; all checksums present are verified.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "codec_io.h"
#include "format.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr uint8_t kMagic[9] = {0x89, 0x4C, 0x5A, 0x4F, 0x00, 0x0D, 0x0A, 0x1A, 0x0A};
constexpr uint16_t kVersion = 0x1040;  // the format revision written
constexpr uint16_t kLibVersion = 0x20A0;
constexpr uint16_t kVersionNeeded = 0x0940;
constexpr uint16_t kNewestUnderstood = 0x1040;

constexpr uint32_t kAdlerData = 0x1;
constexpr uint32_t kAdlerCompressed = 0x2;
constexpr uint32_t kFromStdin = 0x4;
constexpr uint32_t kExtraField = 0x40;
constexpr uint32_t kCrcData = 0x100;
constexpr uint32_t kCrcCompressed = 0x200;
constexpr uint32_t kFilter = 0x800;
constexpr uint32_t kHeaderCrc = 0x1000;
constexpr uint32_t kOsUnix = 0x03000000;

constexpr size_t kBlock = size_t(256) << 10;
constexpr uint32_t kMaxBlock = uint32_t(64) << 20;  // the largest lzop accepts

uint32_t adler32(const uint8_t* p, size_t n, uint32_t a = 1) {
    veksAdler32_8u(p, static_cast<uint32_t>(n), &a);
    return a;
}

uint32_t crc32(const uint8_t* p, size_t n) {
    uint32_t c = 0;
    if (n > 0) veksCRC32_8u(p, static_cast<int32_t>(n), &c);
    return c;
}

void put_be16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x >> 8));
    v.push_back(static_cast<uint8_t>(x));
}
void put_be32(std::vector<uint8_t>& v, uint32_t x) {
    put_be16(v, x >> 16);
    put_be16(v, x & 0xFFFF);
}
uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
    return buf;
}

[[noreturn]] void corrupt(const std::string& what) {
    fail_input("corrupt lzo file: " + what);
}
[[noreturn]] void truncated() {
    fail_input("truncated lzo file: unexpected end of input");
}

// --- compression --------------------------------------------------------------

class LzoCompressor : public Codec {
  public:
    explicit LzoCompressor(int level) : level_(level), in_(kBlock), out_(kBlock) {
        uint32_t size = 0;
        const int32_t method = level >= 7 ? 0 : 2;
        veksEncodeLZOGetSize(method, static_cast<uint32_t>(kBlock), &size);
        state_.resize(size / 8 + 1);
        veksEncodeLZOInit_8u(method, static_cast<uint32_t>(kBlock), state());
    }

    void run(Reader& in, Writer& out) override {
        std::vector<uint8_t> h(kMagic, kMagic + sizeof kMagic);
        put_be16(h, kVersion);
        put_be16(h, kLibVersion);
        put_be16(h, kVersionNeeded);
        h.push_back(1);  // LZO1X
        h.push_back(static_cast<uint8_t>(level_));
        put_be32(h, kOsUnix | kFromStdin | kAdlerData | kAdlerCompressed);
        put_be32(h, 0);  // mode
        put_be32(h, 0);  // mtime, low and high
        put_be32(h, 0);
        h.push_back(0);  // no name
        put_be32(h, adler32(h.data() + sizeof kMagic, h.size() - sizeof kMagic));
        out.write(h.data(), h.size());

        for (;;) {
            const size_t n = in.read(in_.data(), kBlock);
            if (n == 0) break;
            std::vector<uint8_t> b;
            put_be32(b, static_cast<uint32_t>(n));
            // Capacity one short of the input: a stream that does not fit
            // means the block is stored.
            uint32_t len = static_cast<uint32_t>(n - 1);
            const vekStatus st =
                veksEncodeLZO_8u(in_.data(), static_cast<uint32_t>(n), out_.data(), &len, state());
            if (st != vekStatusOk && st != vekStatusDstTooSmall)
                fail_input("lzo: veksEncodeLZO_8u failed with status " + std::to_string(st));
            const bool stored = st != vekStatusOk;
            put_be32(b, stored ? static_cast<uint32_t>(n) : len);
            put_be32(b, adler32(in_.data(), n));
            if (!stored) put_be32(b, adler32(out_.data(), len));
            out.write(b.data(), b.size());
            if (stored)
                out.write(in_.data(), n);
            else
                out.write(out_.data(), len);
            if (n < kBlock) break;  // a short read is the end of the input
        }
        const uint8_t end[4] = {0, 0, 0, 0};
        out.write(end, 4);
    }

  private:
    vekLZOState_8u* state() { return reinterpret_cast<vekLZOState_8u*>(state_.data()); }

    const int level_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    std::vector<uint64_t> state_;
};

// --- decompression ------------------------------------------------------------

class LzoDecompressor : public Codec {
  public:
    void run(Reader& in, Writer& out) override {
        bool first = true;
        for (;;) {
            uint8_t magic[sizeof kMagic];
            const size_t got = in.read(magic, sizeof magic);
            if (got == 0 && !first) return;
            if (got < sizeof magic || std::memcmp(magic, kMagic, sizeof magic) != 0) {
                if (first) {
                    if (got < sizeof magic && std::memcmp(magic, kMagic, got) == 0) truncated();
                    fail_input("not in lzo format");
                }
                if (zeros_to_end(in, magic, got)) return;
                corrupt("trailing data after the end of the file");
            }
            member(in, out);
            first = false;
        }
    }

  private:
    // Zero bytes from `head` (got bytes already read) to the end of the
    // input are padding, ignored as lzop does.
    static bool zeros_to_end(Reader& in, const uint8_t* head, size_t got) {
        for (size_t i = 0; i < got; ++i)
            if (head[i] != 0) return false;
        uint8_t buf[4096];
        for (;;) {
            const size_t n = in.read(buf, sizeof buf);
            if (n == 0) return true;
            for (size_t i = 0; i < n; ++i)
                if (buf[i] != 0) return false;
        }
    }

    // Reads n header bytes, also into the bytes the header checksum covers.
    const uint8_t* field(Reader& in, size_t n) {
        uint8_t* p = scratch_ + 0;
        if (!in.read_exact(p, n)) truncated();
        header_.insert(header_.end(), p, p + n);
        return p;
    }
    uint32_t field_be(Reader& in, size_t n) {
        const uint8_t* p = field(in, n);
        uint32_t v = 0;
        for (size_t k = 0; k < n; ++k) v = v << 8 | p[k];
        return v;
    }
    uint32_t read_be32(Reader& in) {
        uint8_t b[4];
        if (!in.read_exact(b, 4)) truncated();
        return be32(b);
    }

    void member(Reader& in, Writer& out) {
        header_.clear();
        const uint32_t version = field_be(in, 2);
        if (version < 0x0900)
            fail_input("lzo file of version " + hex(version).substr(4) + " is too old to read");
        field_be(in, 2);  // library version
        if (version >= 0x0940) {
            const uint32_t needed = field_be(in, 2);
            if (needed > kNewestUnderstood)
                fail_input("lzo file needs version " + hex(needed).substr(4) + " to extract");
        }
        const uint32_t method = field_be(in, 1);
        if (method < 1 || method > 3)
            fail_input("unsupported lzo compression method " + std::to_string(method));
        if (version >= 0x0940) field_be(in, 1);  // level
        const uint32_t flags = field_be(in, 4);
        if (flags & kFilter) fail_input("lzo file uses a filter, which is not supported");
        field_be(in, 4);  // mode
        field_be(in, 4);  // mtime
        if (version >= 0x0940) field_be(in, 4);
        const uint32_t name_len = field_be(in, 1);
        if (name_len > 0) field(in, name_len);
        const uint32_t want = read_be32(in);
        const uint32_t have = flags & kHeaderCrc ? crc32(header_.data(), header_.size())
                                                 : adler32(header_.data(), header_.size());
        if (want != have) corrupt("header checksum mismatch");
        if (flags & kExtraField) {
            const uint32_t len = read_be32(in);
            if (in.skip(len) != len) truncated();
            read_be32(in);
        }
        blocks(in, out, flags);
    }

    void blocks(Reader& in, Writer& out, uint32_t flags) {
        for (;;) {
            const uint32_t usize = read_be32(in);
            if (usize == 0) return;
            if (usize > kMaxBlock)
                corrupt("block of " + std::to_string(usize) + " bytes exceeds the maximum of " +
                        std::to_string(kMaxBlock));
            const uint32_t csize = read_be32(in);
            if (csize == 0 || csize > usize)
                corrupt("compressed block size " + std::to_string(csize) + " for " +
                        std::to_string(usize) + " bytes");
            const bool stored = csize == usize;
            const uint32_t d_adler = flags & kAdlerData ? read_be32(in) : 0;
            const uint32_t d_crc = flags & kCrcData ? read_be32(in) : 0;
            const uint32_t c_adler = !stored && (flags & kAdlerCompressed) ? read_be32(in) : 0;
            const uint32_t c_crc = !stored && (flags & kCrcCompressed) ? read_be32(in) : 0;
            if (!read_block(in, csize)) truncated();
            if (!stored) {
                if ((flags & kAdlerCompressed) && adler32(in_.data(), csize) != c_adler)
                    corrupt("checksum mismatch in compressed block");
                if ((flags & kCrcCompressed) && crc32(in_.data(), csize) != c_crc)
                    corrupt("checksum mismatch in compressed block");
            }
            const uint8_t* data = in_.data();
            if (!stored) {
                if (out_size_ < usize) {
                    // Left uninitialised: only what the decoder writes is touched.
                    out_.reset(new uint8_t[usize]);
                    out_size_ = usize;
                }
                uint32_t n = usize;
                const vekStatus st = veksDecodeLZOSafe_8u(in_.data(), csize, out_.get(), &n);
                if (st == vekStatusCorruptStreamErr)
                    corrupt("invalid LZO1X data in block, or it decodes to more than " +
                            std::to_string(usize) + " bytes");
                if (st != vekStatusOk) corrupt("block decoder status " + std::to_string(st));
                if (n != usize)
                    corrupt("block decodes to " + std::to_string(n) + " bytes instead of " +
                            std::to_string(usize));
                data = out_.get();
            }
            if ((flags & kAdlerData) && adler32(data, usize) != d_adler)
                corrupt("checksum mismatch in decompressed data");
            if ((flags & kCrcData) && crc32(data, usize) != d_crc)
                corrupt("checksum mismatch in decompressed data");
            out.write(data, usize);
        }
    }

    // Reads the n bytes of a block into in_, which grows as they arrive: a
    // header that claims a large block costs only the bytes that are there.
    bool read_block(Reader& in, uint32_t n) {
        constexpr size_t kStep = size_t(1) << 20;
        size_t have = 0;
        while (have < n) {
            const size_t want = std::min<size_t>(n - have, kStep);
            if (in_.size() < have + want) in_.resize(have + want);
            const size_t got = in.read(in_.data() + have, want);
            have += got;
            if (got < want) return false;
        }
        return true;
    }

    std::vector<uint8_t> header_;
    uint8_t scratch_[256];
    std::vector<uint8_t> in_;
    std::unique_ptr<uint8_t[]> out_;
    uint32_t out_size_ = 0;
};

// --- registration -------------------------------------------------------------

bool detect(const uint8_t* head, size_t n) {
    return n >= sizeof kMagic && std::memcmp(head, kMagic, sizeof kMagic) == 0;
}

std::unique_ptr<Codec> make_compressor(const FormatSettings& fs, std::string* error) {
    const int level = fs.level_given ? fs.level : 3;
    if (level < 1 || level > 9) {
        *error = "lzo: level " + std::to_string(level) + " is outside 1..9";
        return nullptr;
    }
    if (!fs.options.empty()) {
        *error = "lzo: unknown compress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<LzoCompressor>(level);
}

std::unique_ptr<Codec> make_decompressor(const FormatSettings& fs, std::string* error) {
    if (!fs.options.empty()) {
        *error = "lzo: unknown decompress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<LzoDecompressor>();
}

}  // namespace

VEKDC_FORMAT({"lzo", ".lzo", detect, make_compressor, make_decompressor});

}  // namespace vekdc
