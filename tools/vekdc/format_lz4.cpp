// -F lz4: the LZ4 frame format.
//
// Frame layout (all numbers little-endian):
//   magic 0x184D2204
//   FLG   bits 7-6 version (01), 5 blocks independent, 4 block checksums,
//         3 content size present, 2 content checksum, 1 reserved, 0 dictionary id
//   BD    bits 6-4 maximum block size (4: 64 KiB, 5: 256 KiB, 6: 1 MiB, 7: 4 MiB),
//         the other bits reserved
//   [content size, 8 bytes] [dictionary id, 4 bytes]
//   HC    second byte of XXH32 (seed 0) over FLG .. the optional fields
//   blocks: 4-byte size, high bit set for a block stored uncompressed, the
//         data, [XXH32 of the data as stored]
//   end mark: 4 zero bytes
//   [XXH32 of the whole content]
// Skippable frames (magic 0x184D2A50..0x184D2A5F, a 4-byte length, that many
// bytes) may stand between frames and are passed over; frames may follow one
// another and decode to the concatenation of their contents. The legacy
// frame (magic 0x184C2102, written by lz4 -l) is read too: blocks of a 4-byte
// compressed size and independent data of up to 8 MiB each, with no end mark
// and no checksum; it ends at the end of the input or at the next magic.
//
// Compression levels (-l):
//   1 (default; 0 means the same)  veksEncodeLZ4_8u, the single-pass encoder
//   -1 .. -9                       veksEncodeLZ4Fast_8u with acceleration 2 .. 10
//                                  (level -N: acceleration N + 1)
//   2 .. 12                        veksEncodeLZ4HC_8u at level min(level, 9); the
//                                  library's high-compression levels end at 9
// With --linked each block may refer to the 64 KiB before it: the single-pass
// levels then use veksEncodeLZ4Dict_8u (there is no accelerated history
// encoder, so negative levels encode like level 1), the others
// veksEncodeLZ4HC_8u with the history as its dictionary.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#define XXH_INLINE_ALL
#include <xxhash.h>

#include "codec_io.h"
#include "format.h"
#include "lz4_tool.h"
#include "vekdc.h"

namespace vekdc {

namespace {

constexpr uint32_t kFrameMagic = 0x184D2204u;
constexpr uint32_t kSkippableMagic = 0x184D2A50u;  // low four bits free
constexpr uint32_t kSkippableMask = 0xFFFFFFF0u;
constexpr uint32_t kLegacyMagic = 0x184C2102u;
constexpr uint32_t kStoredBit = 0x80000000u;

constexpr uint8_t kFlagVersion = 0x40;
constexpr uint8_t kFlagIndependent = 0x20;
constexpr uint8_t kFlagBlockChecksum = 0x10;
constexpr uint8_t kFlagContentSize = 0x08;
constexpr uint8_t kFlagContentChecksum = 0x04;
constexpr uint8_t kFlagReserved = 0x02;
constexpr uint8_t kFlagDictId = 0x01;

// The history encoders count positions in 32 bits; the stream position is
// brought back to the 64 KiB of history whenever it passes this.
constexpr int32_t kRebaseAt = int32_t(64) << 20;

size_t block_max_of(int code) {
    return size_t(1) << (8 + 2 * code);
}

uint8_t header_checksum(const uint8_t* descriptor, size_t n) {
    return static_cast<uint8_t>((XXH32(descriptor, n, 0) >> 8) & 0xFF);
}

[[noreturn]] void corrupt(const std::string& what) {
    fail_input("corrupt lz4 frame: " + what);
}
[[noreturn]] void truncated() {
    fail_input("truncated lz4 frame: unexpected end of input");
}

void read_or_truncated(Reader& in, uint8_t* dst, size_t n) {
    if (!in.read_exact(dst, n)) truncated();
}

void write_le32(Writer& out, uint32_t v) {
    uint8_t b[4];
    store_le32(b, v);
    out.write(b, 4);
}

std::string status_text(vekStatus st) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%d", static_cast<int>(st));
    return buf;
}

// --- settings -----------------------------------------------------------------

enum class Engine { kSinglePass, kAccelerated, kHigh };

struct Lz4Settings {
    Engine engine = Engine::kSinglePass;
    int acceleration = 1;
    int hc_level = 0;
    int block_code = 7;
    bool linked = false;
    bool block_checksum = false;
    bool content_checksum = true;
};

bool parse_compress_settings(const FormatSettings& fs, Lz4Settings* s, std::string* error) {
    const int level = fs.level_given ? fs.level : 1;
    if (level < -9 || level > 12) {
        *error = "lz4: level " + std::to_string(level) + " is outside -9..12";
        return false;
    }
    if (level < 0) {
        s->engine = Engine::kAccelerated;
        s->acceleration = 1 - level;
    } else if (level >= 2) {
#if VEKDC_TOOL_HAVE_LZ4HC
        s->engine = Engine::kHigh;
        s->hc_level = std::min(level, 9);
#else
        *error = "lz4: levels 2..12 need the high-compression encoder, which this build lacks";
        return false;
#endif
    }
    for (const std::string& opt : fs.options) {
        if (opt.rfind("--block-size=", 0) == 0) {
            const std::string v = opt.substr(13);
            static const char* const kSizes[] = {"64K", "256K", "1M", "4M"};  // codes 4..7
            s->block_code = 0;
            for (int i = 0; i < 4; ++i)
                if (v == kSizes[i]) s->block_code = 4 + i;
            if (s->block_code == 0) {
                *error = "lz4: block size '" + v + "' is not one of 64K, 256K, 1M, 4M";
                return false;
            }
        } else if (opt == "--linked" || opt == "--block-dependency") {
            s->linked = true;
        } else if (opt == "--block-checksum") {
            s->block_checksum = true;
        } else if (opt == "--no-content-checksum") {
            s->content_checksum = false;
        } else {
            *error = "lz4: unknown compress option '" + opt + "'";
            return false;
        }
    }
    return true;
}

// --- compression --------------------------------------------------------------

class Lz4Compressor : public Codec {
  public:
    explicit Lz4Compressor(const Lz4Settings& s)
        : s_(s),
          block_max_(block_max_of(s.block_code)),
          in_buf_(block_max_),
          out_buf_(static_cast<size_t>(lz4_block_bound(static_cast<int64_t>(block_max_)))) {
        int32_t size = 0;
        veksEncodeLZ4HashTableGetSize_8u(&size);
        table_.resize(static_cast<size_t>(size));
#if VEKDC_TOOL_HAVE_LZ4HC
        if (s_.engine == Engine::kHigh) {
            int32_t head = 0, chain = 0;
            veksEncodeLZ4HCHashTableGetSize_8u(&head, &chain);
            hc_head_.resize(static_cast<size_t>(head));
            hc_chain_.resize(static_cast<size_t>(chain));
        }
#endif
        if (s_.linked) history_.resize(kLz4Window);
    }

    void run(Reader& in, Writer& out) override {
        uint8_t header[7];
        store_le32(header, kFrameMagic);
        header[4] = static_cast<uint8_t>(kFlagVersion | (s_.linked ? 0 : kFlagIndependent) |
                                         (s_.block_checksum ? kFlagBlockChecksum : 0) |
                                         (s_.content_checksum ? kFlagContentChecksum : 0));
        header[5] = static_cast<uint8_t>(s_.block_code << 4);
        header[6] = header_checksum(header + 4, 2);
        out.write(header, sizeof header);

        XXH32_state_t content;
        XXH32_reset(&content, 0);
        start_stream();
        for (;;) {
            const size_t n = in.read(in_buf_.data(), block_max_);
            if (n == 0) break;
            const int32_t len = encode(in_buf_.data(), static_cast<int32_t>(n));
            const uint8_t* data = len > 0 ? out_buf_.data() : in_buf_.data();
            const size_t size = len > 0 ? static_cast<size_t>(len) : n;
            write_le32(out, static_cast<uint32_t>(size) | (len > 0 ? 0 : kStoredBit));
            out.write(data, size);
            if (s_.block_checksum) write_le32(out, XXH32(data, size, 0));
            XXH32_update(&content, in_buf_.data(), n);
            if (s_.linked) remember(in_buf_.data(), static_cast<int32_t>(n));
            if (n < block_max_) break;  // a short read is the end of the input
        }
        write_le32(out, 0);
        if (s_.content_checksum) write_le32(out, XXH32_digest(&content));
    }

  private:
    [[noreturn]] static void encoder_failed(const char* fn, vekStatus st) {
        fail_input(std::string("lz4: ") + fn + " failed with status " + status_text(st));
    }

    uint8_t* hc_tables_[2] = {nullptr, nullptr};

    void clear_hc_tables() {
#if VEKDC_TOOL_HAVE_LZ4HC
        hc_tables_[0] = hc_head_.data();
        hc_tables_[1] = hc_chain_.data();
        const vekStatus st = veksEncodeLZ4HCHashTableInit_8u(hc_tables_);
        if (st != vekStatusOk) encoder_failed("veksEncodeLZ4HCHashTableInit_8u", st);
#endif
    }

    void start_stream() {
        src_idx_ = 0;
        history_len_ = 0;
        if (!s_.linked) return;
        if (s_.engine == Engine::kHigh) {
            clear_hc_tables();
        } else {
            const vekStatus st = veksEncodeLZ4DictHashTableInit_8u(table_.data(), 1);
            if (st != vekStatusOk) encoder_failed("veksEncodeLZ4DictHashTableInit_8u", st);
        }
    }

    // Starts the position count again at the end of the history, which then
    // becomes the encoders' dictionary at positions 0 .. history_len_ - 1.
    void rebase() {
        if (s_.engine == Engine::kHigh) {
            clear_hc_tables();  // the history is not indexed again: a few matches are lost
        } else {
            vekStatus st = veksEncodeLZ4DictHashTableInit_8u(table_.data(), 1);
            if (st == vekStatusOk)
                st = veksEncodeLZ4LoadDict_8u(table_.data(), history_.data(), history_len_);
            if (st != vekStatusOk) encoder_failed("veksEncodeLZ4LoadDict_8u", st);
        }
        src_idx_ = history_len_;
    }

    // Keeps the last 64 KiB of the stream for the next linked block.
    void remember(const uint8_t* src, int32_t n) {
        if (n >= kLz4Window) {
            std::memcpy(history_.data(), src + n - kLz4Window, kLz4Window);
            history_len_ = kLz4Window;
        } else {
            const int32_t keep = std::min(history_len_, kLz4Window - n);
            std::memmove(history_.data(), history_.data() + history_len_ - keep,
                         static_cast<size_t>(keep));
            std::memcpy(history_.data() + keep, src, static_cast<size_t>(n));
            history_len_ = keep + n;
        }
        src_idx_ += n;
    }

    // Encodes one block into out_buf_. Returns its length, or 0 when the
    // block is to be stored as it is because coding would not shrink it.
    int32_t encode(const uint8_t* src, int32_t n) {
        if (s_.linked && src_idx_ > kRebaseAt) rebase();
        const uint8_t* dict = history_len_ > 0 ? history_.data() : nullptr;
        uint8_t* dst = out_buf_.data();
        int32_t len = 0;
        vekStatus st = vekStatusOk;
        switch (s_.engine) {
            case Engine::kAccelerated:
                if (!s_.linked) {
                    st = veksEncodeLZ4Fast_8u(src, n, dst, &len, table_.data(), s_.acceleration);
                    if (st != vekStatusOk) encoder_failed("veksEncodeLZ4Fast_8u", st);
                    break;
                }
                [[fallthrough]];  // linked blocks: no accelerated history encoder
            case Engine::kSinglePass:
                if (s_.linked) {
                    st = veksEncodeLZ4Dict_8u(src, src_idx_, n, dst, &len, table_.data(), dict,
                                              history_len_);
                    if (st != vekStatusOk) encoder_failed("veksEncodeLZ4Dict_8u", st);
                } else {
                    st = veksEncodeLZ4_8u(src, n, dst, &len, table_.data());
                    if (st != vekStatusOk) encoder_failed("veksEncodeLZ4_8u", st);
                }
                break;
            case Engine::kHigh: {
#if VEKDC_TOOL_HAVE_LZ4HC
                if (n < 2) return 0;
                // Capacity one byte short of the input: what does not fit is stored.
                int32_t src_len = n;
                len = n - 1;
                if (s_.linked) {
                    st = veksEncodeLZ4HC_8u(src, src_idx_, &src_len, dst, &len, hc_tables_, dict,
                                            history_len_, s_.hc_level);
                } else {
                    clear_hc_tables();
                    st = veksEncodeLZ4HC_8u(src, 0, &src_len, dst, &len, hc_tables_, nullptr, 0,
                                            s_.hc_level);
                }
                if (st == vekStatusDstTooSmall) return 0;
                if (st != vekStatusOk) encoder_failed("veksEncodeLZ4HC_8u", st);
#endif
                break;
            }
        }
        return len > 0 && len < n ? len : 0;
    }

    const Lz4Settings s_;
    const size_t block_max_;
    std::vector<uint8_t> in_buf_;
    std::vector<uint8_t> out_buf_;
    std::vector<uint8_t> table_;
    std::vector<uint8_t> hc_head_;
    std::vector<uint8_t> hc_chain_;
    std::vector<uint8_t> history_;
    int32_t history_len_ = 0;
    int32_t src_idx_ = 0;  // stream position of the next block for the history encoders
};

// --- decompression ------------------------------------------------------------

class Lz4Decompressor : public Codec {
  public:
    void run(Reader& in, Writer& out) override {
        bool first = true;
        bool have_magic = false;  // a legacy frame ended at the next magic number
        uint32_t magic = 0;
        for (;;) {
            if (!have_magic) {
                uint8_t word[4];
                const size_t got = in.read(word, 4);
                if (got == 0 && !first) return;
                if (got < 4) {
                    if (first && got == 0) fail_input("empty input, not in lz4 format");
                    truncated();
                }
                magic = load_le32(word);
            }
            have_magic = false;
            if (magic == kFrameMagic) {
                frame(in, out);
            } else if ((magic & kSkippableMask) == kSkippableMagic) {
                uint8_t word[4];
                read_or_truncated(in, word, 4);
                const uint32_t size = load_le32(word);
                if (in.skip(size) != size)
                    fail_input("truncated skippable frame: unexpected end of input");
            } else if (magic == kLegacyMagic) {
                have_magic = legacy_frame(in, out, &magic);
                if (!have_magic) return;
            } else if (first) {
                fail_input("not in lz4 format");
            } else {
                fail_input("corrupt lz4 data: no frame magic after the end of a frame");
            }
            first = false;
        }
    }

  private:
    // The legacy frame (lz4 -l): blocks of a 4-byte compressed size and the
    // data, each independent and decoding to at most 8 MiB, up to the end of
    // the input or to a word too large for a block size, which is the magic
    // number of the next frame. Returns true with that word in *next.
    bool legacy_frame(Reader& in, Writer& out, uint32_t* next) {
        constexpr size_t kLegacyBlock = size_t(8) << 20;
        constexpr uint32_t kLegacyBound = uint32_t(kLegacyBlock + kLegacyBlock / 255 + 16);
        in_buf_.reserve(kLegacyBound);
        window_.reserve(kLegacyBlock);
        for (;;) {
            uint8_t word[4];
            const size_t got = in.read(word, 4);
            if (got == 0) return false;
            if (got < 4) truncated();
            const uint32_t size = load_le32(word);
            if (size > kLegacyBound) {
                *next = size;
                return true;
            }
            if (size == 0) corrupt("empty block in a legacy frame");
            read_or_truncated(in, in_buf_.data(), size);
            const int32_t produced = decode_block(size, kLegacyBlock, 0);
            out.write(window_.data(), static_cast<size_t>(produced));
        }
    }

    void frame(Reader& in, Writer& out) {
        uint8_t desc[14];
        read_or_truncated(in, desc, 2);
        const uint8_t flg = desc[0];
        const uint8_t bd = desc[1];
        if ((flg >> 6) != 1)
            fail_input("unsupported lz4 frame version " + std::to_string(flg >> 6));
        if (flg & kFlagReserved) corrupt("reserved flag bit set");
        if (bd & 0x8F) corrupt("reserved block descriptor bits set");
        const int code = (bd >> 4) & 7;
        if (code < 4) corrupt("invalid maximum block size code " + std::to_string(code));
        const bool independent = flg & kFlagIndependent;
        const bool block_sums = flg & kFlagBlockChecksum;
        const bool has_size = flg & kFlagContentSize;
        const bool content_sum = flg & kFlagContentChecksum;
        const bool has_dict = flg & kFlagDictId;
        const size_t desc_len = 2 + (has_size ? 8 : 0) + (has_dict ? 4 : 0);
        read_or_truncated(in, desc + 2, desc_len - 2);
        uint8_t hc;
        read_or_truncated(in, &hc, 1);
        if (hc != header_checksum(desc, desc_len)) corrupt("header checksum mismatch");
        if (has_dict) {
            char id[16];
            std::snprintf(id, sizeof id, "%08x",
                          static_cast<unsigned>(load_le32(desc + desc_len - 4)));
            fail_input(std::string("lz4 frame needs dictionary ") + id +
                       ", which is not supported");
        }
        const uint64_t expected_size = has_size ? load_le64(desc + 2) : 0;

        const size_t block_max = block_max_of(code);
        in_buf_.reserve(block_max);
        // Independent blocks decode at window_[0]; linked ones after the
        // (up to) 64 KiB of history kept at the start of window_.
        const size_t window_size = independent ? block_max : kLz4Window + block_max;
        window_.reserve(window_size);
        int32_t history = 0;

        XXH32_state_t content;
        XXH32_reset(&content, 0);
        uint64_t total = 0;
        for (;;) {
            uint8_t word[4];
            read_or_truncated(in, word, 4);
            const uint32_t w = load_le32(word);
            if (w == 0) break;
            const bool stored = w & kStoredBit;
            const uint32_t size = w & ~kStoredBit;
            if (size > block_max)
                corrupt("block of " + std::to_string(size) + " bytes exceeds the maximum of " +
                        std::to_string(block_max));
            read_or_truncated(in, in_buf_.data(), size);
            if (block_sums) {
                read_or_truncated(in, word, 4);
                if (load_le32(word) != XXH32(in_buf_.data(), size, 0))
                    corrupt("block checksum mismatch");
            }
            uint8_t* dst = window_.data() + history;
            int32_t produced;
            if (stored) {
                std::memcpy(dst, in_buf_.data(), size);
                produced = static_cast<int32_t>(size);
            } else {
                produced = decode_block(size, block_max, history);
            }
            XXH32_update(&content, dst, static_cast<size_t>(produced));
            out.write(dst, static_cast<size_t>(produced));
            total += static_cast<uint64_t>(produced);
            if (!independent) {
                const int32_t end = history + produced;
                if (end > kLz4Window) {
                    std::memmove(window_.data(), window_.data() + end - kLz4Window, kLz4Window);
                    history = kLz4Window;
                } else {
                    history = end;
                }
            }
        }
        uint8_t word[4];
        if (content_sum) read_or_truncated(in, word, 4);
        if (has_size && total != expected_size)
            corrupt("content is " + std::to_string(total) + " bytes, the header says " +
                    std::to_string(expected_size));
        if (content_sum && load_le32(word) != XXH32_digest(&content))
            corrupt("content checksum mismatch");
    }

    // Decodes in_buf_[0, size) to window_ + history, where the history
    // bytes before it are what matches may reach. Returns the decoded length.
    int32_t decode_block(uint32_t size, size_t block_max, int32_t history) {
        int32_t src_len = static_cast<int32_t>(size);
        int32_t dst_len = static_cast<int32_t>(block_max);
        uint8_t* const window = window_.data();
        // With history the window start doubles as the dictionary: the same
        // bytes the matches would find there anyway.
        const vekStatus st = history > 0 ? veksDecodeLZ4Dict_8u(in_buf_.data(), &src_len, window,
                                                                history, &dst_len, window, history)
                                         : veksDecodeLZ4Dict_8u(in_buf_.data(), &src_len, window, 0,
                                                                &dst_len, nullptr, 0);
        switch (st) {
            case vekStatusOk:
                break;
            case vekStatusDstTooSmall:
                corrupt("block decodes to more than the maximum block size");
            case vekStatusSrcTooSmall:
                corrupt("block data ends inside a sequence");
            case vekStatusBadDataErr:
                corrupt(history > 0 ? "match reaches before the available history"
                                    : "match reaches before the start of the block");
            case vekStatusSizeErr:
                corrupt("impossible length in block");
            default:
                corrupt("block decoder status " + status_text(st));
        }
        // The decoder stops once the block maximum is reached; anything left
        // would decode beyond it.
        if (src_len != static_cast<int32_t>(size))
            corrupt("block decodes to more than the maximum block size");
        return dst_len;
    }

    // A buffer left uninitialised, so that the block size a header claims
    // costs memory only for the bytes that are then read or decoded into it.
    class RawBuffer {
      public:
        // Makes room for n bytes; what was in the buffer may be lost.
        void reserve(size_t n) {
            if (n <= size_) return;
            p_.reset(new uint8_t[n]);
            size_ = n;
        }
        uint8_t* data() { return p_.get(); }

      private:
        std::unique_ptr<uint8_t[]> p_;
        size_t size_ = 0;
    };

    RawBuffer in_buf_;
    RawBuffer window_;
};

// --- registration -------------------------------------------------------------

bool detect(const uint8_t* head, size_t n) {
    if (n < 4) return false;
    const uint32_t m = load_le32(head);
    return m == kFrameMagic || (m & kSkippableMask) == kSkippableMagic || m == kLegacyMagic;
}

std::unique_ptr<Codec> make_compressor(const FormatSettings& fs, std::string* error) {
    Lz4Settings s;
    if (!parse_compress_settings(fs, &s, error)) return nullptr;
    return std::make_unique<Lz4Compressor>(s);
}

std::unique_ptr<Codec> make_decompressor(const FormatSettings& fs, std::string* error) {
    if (!fs.options.empty()) {
        *error = "lz4: unknown decompress option '" + fs.options.front() + "'";
        return nullptr;
    }
    return std::make_unique<Lz4Decompressor>();
}

}  // namespace

VEKDC_FORMAT({"lz4", ".lz4", detect, make_compressor, make_decompressor});

}  // namespace vekdc
