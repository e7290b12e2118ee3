// Built-in benchmark corpus. Everything is integer arithmetic on a
// splitmix64 stream, so both ABIs produce the same bytes; floats in the
// binary records are built from exact small fractions.
#include "bench_corpus.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

namespace vekdc {

namespace {

class SplitMix64 {
  public:
    explicit SplitMix64(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n), n > 0 (the tiny modulo bias does not matter here).
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
    bool chance(uint32_t one_in) { return below(one_in) == 0; }

  private:
    uint64_t s_;
};

// Picks indices 0..n-1 with weight proportional to 1/(rank+1): the
// frequency profile of words in natural text.
class ZipfPicker {
  public:
    explicit ZipfPicker(size_t n) : cumulative_(n) {
        uint64_t total = 0;
        for (size_t i = 0; i < n; ++i) {
            total += (uint64_t(1) << 24) / (i + 1);
            cumulative_[i] = total;
        }
    }
    size_t pick(SplitMix64& rng) const {
        const uint64_t r = rng.next() % cumulative_.back();
        return static_cast<size_t>(std::upper_bound(cumulative_.begin(), cumulative_.end(), r) -
                                   cumulative_.begin());
    }

  private:
    std::vector<uint64_t> cumulative_;
};

// Pronounceable words from syllables; the vocabulary is sorted so that the
// frequent (low-rank) words are the short ones, as in real text.
std::vector<std::string> make_vocabulary(SplitMix64& rng, size_t count, size_t max_syllables) {
    static const char* const kOnset[] = {"b",  "c",  "d",  "f", "g", "h",  "l",  "m",
                                         "n",  "p",  "r",  "s", "t", "v",  "w",  "th",
                                         "st", "pr", "ch", "",  "",  "tr", "gr", "sh"};
    static const char* const kVowel[] = {"a", "e", "i", "o", "u", "ea", "ou", "ai", "e", "a"};
    static const char* const kCoda[] = {"", "", "", "n", "r", "s", "t", "nd", "ng", "ll", "ck"};
    std::vector<std::string> words;
    while (words.size() < count) {
        const size_t syllables = 1 + rng.below(static_cast<uint32_t>(max_syllables));
        std::string w;
        for (size_t s = 0; s < syllables; ++s) {
            w += kOnset[rng.below(sizeof kOnset / sizeof *kOnset)];
            w += kVowel[rng.below(sizeof kVowel / sizeof *kVowel)];
            w += kCoda[rng.below(sizeof kCoda / sizeof *kCoda)];
        }
        if (std::find(words.begin(), words.end(), w) == words.end()) words.push_back(w);
    }
    std::stable_sort(words.begin(), words.end(), [](const std::string& a, const std::string& b) {
        return a.size() < b.size();
    });
    return words;
}

void append(std::vector<uint8_t>& out, const std::string& s) {
    out.insert(out.end(), s.begin(), s.end());
}

}  // namespace

uint64_t Corpus::total_bytes() const {
    uint64_t n = 0;
    for (const CorpusItem& it : items) n += it.data.size();
    return n;
}

std::vector<uint8_t> Corpus::sample(size_t size) const {
    std::vector<uint8_t> out;
    out.reserve(size);
    while (out.size() < size) {
        for (const CorpusItem& it : items) {
            const size_t take = std::min(it.data.size(), size - out.size());
            out.insert(out.end(), it.data.begin(), it.data.begin() + static_cast<ptrdiff_t>(take));
            if (out.size() == size) break;
        }
    }
    return out;
}

std::vector<uint8_t> make_text(size_t size, uint64_t seed) {
    SplitMix64 rng(seed);
    const std::vector<std::string> vocab = make_vocabulary(rng, 5000, 3);
    const ZipfPicker zipf(vocab.size());
    std::vector<uint8_t> out;
    out.reserve(size + 256);
    size_t line = 0;          // characters on the current line
    const size_t width = 72;  // wrap column
    while (out.size() < size) {
        const uint32_t sentences = 3 + rng.below(6);
        for (uint32_t s = 0; s < sentences; ++s) {
            const uint32_t words = 4 + rng.below(18);
            for (uint32_t w = 0; w < words; ++w) {
                std::string word = vocab[zipf.pick(rng)];
                if (w == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
                if (rng.chance(60)) word = "\"" + word + "\"";
                if (w + 1 == words) {
                    const uint32_t r = rng.below(10);
                    word += r < 8 ? "." : r == 8 ? "?" : "!";
                } else if (rng.chance(9)) {
                    word += rng.chance(6) ? ";" : ",";
                }
                if (line > 0 && line + 1 + word.size() > width) {
                    out.push_back('\n');
                    line = 0;
                } else if (line > 0) {
                    out.push_back(' ');
                    ++line;
                }
                append(out, word);
                line += word.size();
            }
        }
        append(out, "\n\n");  // paragraph break
        line = 0;
    }
    out.resize(size);
    return out;
}

namespace {

// C-like code: functions with typed parameters, nested blocks, comments.
class SourceWriter {
  public:
    SourceWriter(std::vector<uint8_t>& out, SplitMix64& rng)
        : out_(out), rng_(rng), idents_(make_identifiers()), zipf_(idents_.size()) {}

    void function() {
        const char* const kTypes[] = {"int",      "unsigned",     "size_t",        "void",
                                      "uint32_t", "const char *", "struct node *", "double"};
        if (rng_.chance(3)) line("/* " + ident() + ": " + ident() + " the " + ident() + " */");
        std::string head = std::string(rng_.chance(3) ? "static " : "") + kTypes[rng_.below(8)] +
                           " " + ident() + "(";
        const uint32_t params = rng_.below(4);
        for (uint32_t p = 0; p < params; ++p)
            head += std::string(p ? ", " : "") + kTypes[rng_.below(8)] + " " + ident();
        line(head + (params ? ")" : "void)"));
        line("{");
        block(1);
        line("}");
        line("");
    }

  private:
    std::vector<std::string> make_identifiers() {
        const std::vector<std::string> parts = make_vocabulary(rng_, 300, 2);
        std::vector<std::string> ids;
        for (size_t i = 0; i < 900; ++i) {
            std::string id = parts[rng_.below(static_cast<uint32_t>(parts.size()))];
            if (rng_.below(3)) id += "_" + parts[rng_.below(static_cast<uint32_t>(parts.size()))];
            ids.push_back(id);
        }
        return ids;
    }
    std::string ident() { return idents_[zipf_.pick(rng_)]; }
    std::string number() {
        const uint32_t r = rng_.below(10);
        if (r < 6) return std::to_string(rng_.below(16));
        if (r < 9) return std::to_string(rng_.below(100000));
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%X", rng_.below(65536));
        return buf;
    }
    std::string expr() {
        const char* const kOps[] = {" + ", " - ", " * ", " & ", " << ", " >> ", " | ", " / "};
        std::string e = rng_.chance(3) ? number() : ident();
        const uint32_t terms = rng_.below(3);
        for (uint32_t t = 0; t < terms; ++t)
            e += kOps[rng_.below(8)] + (rng_.chance(2) ? number() : ident());
        if (rng_.chance(5)) e = ident() + "(" + e + ")";
        if (rng_.chance(6)) e = ident() + "->" + ident() + "[" + e + "]";
        return e;
    }
    void line(const std::string& s) {
        if (!s.empty()) out_.insert(out_.end(), static_cast<size_t>(indent_) * 4, ' ');
        append(out_, s);
        out_.push_back('\n');
    }
    void block(int depth) {
        indent_ = depth;
        const uint32_t stmts = 2 + rng_.below(7);
        for (uint32_t s = 0; s < stmts; ++s) {
            const uint32_t kind = rng_.below(depth < 4 ? 10 : 6);
            if (kind < 3) {
                line(ident() + " = " + expr() + ";");
            } else if (kind == 3) {
                line(ident() + "(" + expr() + ", " + ident() + ");");
            } else if (kind == 4) {
                line("// " + ident() + " " + ident() + " " + ident());
            } else if (kind == 5) {
                line("return " + expr() + ";");
                break;
            } else if (kind < 8) {
                line("if (" + ident() + (rng_.chance(2) ? " == " : " < ") + expr() + ") {");
                block(depth + 1);
                if (rng_.chance(3)) {
                    line("} else {");
                    block(depth + 1);
                }
                line("}");
            } else if (kind == 8) {
                const std::string i = rng_.chance(2) ? "i" : ident();
                line("for (" + i + " = 0; " + i + " < " + expr() + "; " + i + "++) {");
                block(depth + 1);
                line("}");
            } else {
                line("while (" + expr() + ") {");
                block(depth + 1);
                line("}");
            }
            indent_ = depth;
        }
        indent_ = depth - 1;
    }

    std::vector<uint8_t>& out_;
    SplitMix64& rng_;
    std::vector<std::string> idents_;
    ZipfPicker zipf_;
    int indent_ = 0;
};

void put_le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// IEEE single-precision bits of n / 1024 (|n| < 2^24), built from integers.
uint32_t float_bits_of_fraction(int32_t n) {
    if (n == 0) return 0;
    const uint32_t sign = n < 0 ? 0x80000000u : 0;
    uint32_t mag = static_cast<uint32_t>(n < 0 ? -n : n);
    int exp = 23;
    while (mag < (1u << 23)) {
        mag <<= 1;
        --exp;
    }
    while (mag >= (1u << 24)) {
        mag >>= 1;
        ++exp;
    }  // not reached for |n| < 2^24
    return sign | static_cast<uint32_t>(exp - 10 + 127) << 23 | (mag & 0x7FFFFFu);
}

}  // namespace

std::vector<uint8_t> make_source(size_t size, uint64_t seed) {
    SplitMix64 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(size + 4096);
    append(out, "#include <stdint.h>\n#include <stddef.h>\n\n");
    SourceWriter writer(out, rng);
    while (out.size() < size) writer.function();
    out.resize(size);
    return out;
}

std::vector<uint8_t> make_binary(size_t size, uint64_t seed) {
    SplitMix64 rng(seed);
    std::vector<uint8_t> out;
    out.reserve(size + 1024);
    uint32_t seq = 0, stamp = 1600000000u;
    int32_t level = 5000, sensor[3] = {0, 1000, -2000};
    while (out.size() < size) {
        // Block header every 128 records.
        append(out, std::string("VDCBLOCK", 8));
        put_le(out, seq, 4);
        put_le(out, 128, 2);
        put_le(out, 0x0102, 2);
        for (int r = 0; r < 128; ++r) {
            // 48-byte record: tag, sequence, time, level, 3 floats, flags, id.
            append(out, std::string("REC", 3));
            out.push_back(static_cast<uint8_t>('0' + rng.below(4)));
            put_le(out, seq++, 4);
            stamp += rng.below(16);
            put_le(out, stamp, 4);
            level += static_cast<int32_t>(rng.below(61)) - 30;
            put_le(out, static_cast<uint32_t>(level), 4);
            for (int32_t& s : sensor) {
                s += static_cast<int32_t>(rng.below(257)) - 128;
                s = std::max(-(1 << 22), std::min(1 << 22, s));
                put_le(out, float_bits_of_fraction(s), 4);
            }
            put_le(out, rng.chance(8) ? 0x8001u : 0x0001u, 2);
            put_le(out, 1000 + rng.below(12), 2);
            put_le(out, uint64_t(rng.below(4)) << 40, 8);
            put_le(out, 0, 4);
        }
    }
    out.resize(size);
    return out;
}

std::vector<uint8_t> make_random(size_t size, uint64_t seed) {
    SplitMix64 rng(seed);
    std::vector<uint8_t> out(size);
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t v = rng.next();
        const size_t n = std::min<size_t>(8, size - i);
        for (size_t k = 0; k < n; ++k) out[i + k] = static_cast<uint8_t>(v >> (8 * k));
    }
    return out;
}

std::vector<uint8_t> make_runs(size_t size, uint64_t seed) {
    SplitMix64 rng(seed);
    static const uint8_t kValues[] = {0x00, 0xFF, 0x20, 0x41, 0x00, 0x00};
    std::vector<uint8_t> out;
    out.reserve(size + 8192);
    while (out.size() < size) {
        // Run lengths spread over 1..8192 on a roughly logarithmic scale.
        const uint32_t bits = rng.below(14);
        const uint32_t len = (1u << bits) + rng.below(1u << bits);
        out.insert(out.end(), std::min<size_t>(len, 8192), kValues[rng.below(sizeof kValues)]);
        if (rng.chance(5))  // a little noise between runs
            for (uint32_t k = rng.below(8); k > 0; --k)
                out.push_back(static_cast<uint8_t>(rng.next()));
    }
    out.resize(size);
    return out;
}

Corpus make_builtin_corpus(size_t item_size) {
    Corpus c;
    c.builtin = true;
    c.items.push_back({"text", make_text(item_size, 0x7465787431ull)});
    c.items.push_back({"source", make_source(item_size, 0x736F757263ull)});
    c.items.push_back({"binary", make_binary(item_size, 0x62696E6172ull)});
    c.items.push_back({"random", make_random(item_size, 0x72616E646Full)});
    c.items.push_back({"runs", make_runs(item_size, 0x72756E7331ull)});
    return c;
}

}  // namespace vekdc
