// -F lzss: a minimal frame of our own around one LZSS stream.
//
// Frame layout (numbers little-endian):
//   magic   4 bytes  0x89 'L' 'Z' 'S'
//   size    8 bytes  number of bytes the stream decodes to
//   stream           the bit stream of veksEncodeLZSS_8u / veksEncodeLZSSFlush_8u
//                    (9-bit literals, 24-bit matches, most significant bit
//                    first, the last byte completed with 0 bits)
//   crc     4 bytes  CRC-32 (veksCRC32_8u) of the decoded bytes
// The stream itself has no end mark: it is everything between the size and
// the last 4 bytes. After it the decoder must hold fewer than 8 bits, all
// zero, and no unfinished match. Nothing may follow the CRC (it would be
// taken as part of the stream and fail the checks).
//
// The size leads, so the compressor must know it before the first stream
// byte: a regular file streams through in constant memory (and must keep
// its size while it is read), other inputs are read whole into memory first
// (a pipe's length is unknown until its end). The decompressor streams in
// constant memory and stops as soon as the stream yields more bytes than
// the size promises.
//
// The input is encoded in calls of 256 KiB; the stream depends on that split
// (the last two bytes of every call are literals), not on the output buffers.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "checksums.h"
#include "codec_io.h"
#include "format.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr uint8_t kMagic[4] = {0x89, 'L', 'Z', 'S'};
constexpr size_t kHeader = 12;  // magic and size
constexpr size_t kTrailer = 4;  // CRC-32
constexpr size_t kInChunk = size_t(256) << 10;
// One 256 KiB call emits at most 9 bits per byte plus 23 bits left over.
constexpr size_t kOutChunk = kInChunk / 8 * 9 + 16;

[[noreturn]] void corrupt(const std::string& what) {
    fail_input("corrupt lzss file: " + what);
}
[[noreturn]] void lib_failed(const char* fn, vekStatus st) {
    fail_input(std::string("lzss: ") + fn + " failed with status " +
               std::to_string(static_cast<int>(st)));
}

std::unique_ptr<vekLZSSState> new_state() {
    int32_t size = 0;
    if (veksLZSSGetSize_8u(&size) != vekStatusOk || size != int32_t(sizeof(vekLZSSState)))
        fail_input("lzss: unexpected state size");
    return std::make_unique<vekLZSSState>();
}

class LzssCompressor : public Codec {
  public:
    LzssCompressor() : state_(new_state()), out_(kOutChunk) {}

    void run(Reader& in, Writer& out) override {
        const ChecksumAlgo& crc = checksum_algo(ChecksumKind::Crc32);
        vekStatus st = veksEncodeLZSSInit_8u(state_.get());
        if (st != vekStatusOk) lib_failed("veksEncodeLZSSInit_8u", st);
        uint32_t sum = crc.start;
        uint64_t size = 0;
        if (in.size_left(&size)) {
            // A regular file tells its size: it streams through in 256 KiB
            // pieces, and must still have that size at its end.
            write_header(out, size);
            if (chunk_.empty()) chunk_.resize(kInChunk);
            uint64_t total = 0;
            for (size_t n; (n = in.read(chunk_.data(), kInChunk)) > 0;) {
                total += n;
                if (total > size) break;
                sum = crc.update(sum, chunk_.data(), n);
                encode(chunk_.data(), n, out);
            }
            if (total != size)
                fail_input("lzss: the input changed size while it was read (" +
                           std::to_string(size) + " bytes at the start)");
        } else {
            // A pipe's length is known at its end only: all of it is read
            // first, straight into its place, a chunk at a time.
            std::vector<uint8_t> all;
            for (size_t n = 1; n > 0;) {
                const size_t at = all.size();
                all.resize(at + kInChunk);
                n = in.read(all.data() + at, kInChunk);
                all.resize(at + n);
            }
            write_header(out, all.size());
            // Calls of 256 KiB, as the stream's definition above depends on.
            for (size_t at = 0; at < all.size(); at += kInChunk)
                encode(all.data() + at, std::min(kInChunk, all.size() - at), out);
            sum = crc.update(sum, all.data(), all.size());
        }
        do {
            uint8_t* dst = out_.data();
            int32_t dst_len = static_cast<int32_t>(kOutChunk);
            st = veksEncodeLZSSFlush_8u(&dst, &dst_len, state_.get());
            if (st != vekStatusOk && st != vekStatusDstTooSmall)
                lib_failed("veksEncodeLZSSFlush_8u", st);
            out.write(out_.data(), static_cast<size_t>(dst - out_.data()));
        } while (st != vekStatusOk);
        uint8_t trailer[kTrailer];
        store_le32(trailer, crc.finish(sum));
        out.write(trailer, kTrailer);
    }

  private:
    static void write_header(Writer& out, uint64_t size) {
        uint8_t header[kHeader];
        std::memcpy(header, kMagic, 4);
        store_le32(header + 4, static_cast<uint32_t>(size));
        store_le32(header + 8, static_cast<uint32_t>(size >> 32));
        out.write(header, kHeader);
    }

    // One call of at most 256 KiB.
    void encode(uint8_t* src, size_t n, Writer& out) {
        int32_t src_len = static_cast<int32_t>(n);
        do {
            uint8_t* dst = out_.data();
            int32_t dst_len = static_cast<int32_t>(kOutChunk);
            const vekStatus st = veksEncodeLZSS_8u(&src, &src_len, &dst, &dst_len, state_.get());
            if (st != vekStatusOk && st != vekStatusDstTooSmall)
                lib_failed("veksEncodeLZSS_8u", st);
            out.write(out_.data(), static_cast<size_t>(dst - out_.data()));
        } while (src_len > 0);
    }

    std::unique_ptr<vekLZSSState> state_;
    std::vector<uint8_t> out_;
    std::vector<uint8_t> chunk_;
};

class LzssDecompressor : public Codec {
  public:
    LzssDecompressor() : state_(new_state()), in_(kTrailer + kInChunk), out_(kInChunk) {}

    void run(Reader& in, Writer& out) override {
        uint8_t magic[4];
        const size_t got = in.read(magic, 4);
        if (got == 0) fail_input("empty input, not in lzss format");
        if (got < 4 || std::memcmp(magic, kMagic, 4) != 0) fail_input("not in lzss format");
        // Init leaves the history as it was, and a damaged stream can copy
        // from before its start: clear it so that such bytes are zeros in
        // every file, not what the previous file left there.
        *state_ = vekLZSSState{};
        const vekStatus st = veksDecodeLZSSInit_8u(state_.get());
        if (st != vekStatusOk) lib_failed("veksDecodeLZSSInit_8u", st);

        uint8_t size_bytes[8];
        if (!in.read_exact(size_bytes, 8))
            fail_input("truncated lzss file: unexpected end of input");
        size_ = load_le64(size_bytes);

        const ChecksumAlgo& crc = checksum_algo(ChecksumKind::Crc32);
        sum_ = crc.start;
        total_ = 0;
        // in_ holds up to 4 held-back bytes (the possible CRC) followed by
        // new input; all but the last 4 bytes are stream.
        size_t have = 0;
        for (;;) {
            const size_t n = in.read(in_.data() + have, in_.size() - have);
            have += n;
            if (have > kTrailer) {
                decode(out, in_.data(), have - kTrailer);
                std::memmove(in_.data(), in_.data() + have - kTrailer, kTrailer);
                have = kTrailer;
            }
            if (n == 0) break;
        }
        if (have < kTrailer) fail_input("truncated lzss file: unexpected end of input");
        const vekLZSSState& s = *state_;
        if (s.matchRemain != 0 || s.bitCount > 7 || (s.bitBufHi >> (32 - 8)) != 0)
            corrupt("the stream does not end before the CRC (truncated or damaged)");
        if (size_ != total_)
            corrupt("decoded " + std::to_string(total_) + " bytes, header says " +
                    std::to_string(size_) + " (truncated or damaged)");
        if (load_le32(in_.data()) != crc.finish(sum_)) corrupt("CRC-32 mismatch");
    }

  private:
    void decode(Writer& out, const uint8_t* data, size_t n) {
        const ChecksumAlgo& crc = checksum_algo(ChecksumKind::Crc32);
        uint8_t* src = const_cast<uint8_t*>(data);
        int32_t src_len = static_cast<int32_t>(n);
        for (;;) {
            uint8_t* dst = out_.data();
            int32_t dst_len = static_cast<int32_t>(out_.size());
            const vekStatus st = veksDecodeLZSS_8u(&src, &src_len, &dst, &dst_len, state_.get());
            if (st != vekStatusOk && st != vekStatusDstTooSmall)
                lib_failed("veksDecodeLZSS_8u", st);
            const size_t produced = static_cast<size_t>(dst - out_.data());
            sum_ = crc.update(sum_, out_.data(), produced);
            total_ += produced;
            if (total_ > size_)
                corrupt("the stream yields more than the " + std::to_string(size_) +
                        " bytes the header says");
            out.write(out_.data(), produced);
            if (st == vekStatusOk) return;
        }
    }

    std::unique_ptr<vekLZSSState> state_;
    std::vector<uint8_t> in_;
    std::vector<uint8_t> out_;
    uint32_t sum_ = 0;
    uint64_t size_ = 0, total_ = 0;
};

bool detect(const uint8_t* head, size_t n) {
    return n >= 4 && std::memcmp(head, kMagic, 4) == 0;
}

std::unique_ptr<Codec> make_compressor(const FormatSettings& fs, std::string* error) {
    if (fs.level_given) {
        *error = "lzss: there are no compression levels";
        return nullptr;
    }
    if (!fs.options.empty()) {
        *error = "lzss: unknown compress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<LzssCompressor>();
}

std::unique_ptr<Codec> make_decompressor(const FormatSettings& fs, std::string* error) {
    if (!fs.options.empty()) {
        *error = "lzss: unknown decompress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<LzssDecompressor>();
}

}  // namespace

VEKDC_FORMAT({"lzss", ".lzss", detect, make_compressor, make_decompressor});

}  // namespace vekdc
