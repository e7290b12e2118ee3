#include "bench_output.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace vekdc {

namespace {

double unit_scale(SpeedUnit u) {
    return u == SpeedUnit::GBps ? 1e9 : 1e6;
}
const char* unit_name(SpeedUnit u) {
    return u == SpeedUnit::GBps ? "GB/s" : "MB/s";
}

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

std::string ratio_cell(const BenchRow& r) {
    return r.ratio < 0 ? "-" : fmt("%.3f", r.ratio);
}

std::string speed_cell(const BenchRow& r) {
    if (!r.note.empty()) return r.note;
    const double v = r.bytes_per_second / unit_scale(r.unit);
    return fmt(v < 10 ? "%.2f " : v < 1000 ? "%.1f " : "%.0f ", v) + unit_name(r.unit);
}

std::string vs_cell(const BenchRow& r) {
    if (!r.ours) return "";
    if (!r.note.empty()) return "-";
    return r.vs_best_peer < 0 ? "-" : fmt("%.2fx", r.vs_best_peer);
}

std::string json_string(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// Six significant digits; JSON has no infinities or NaN.
std::string json_number(double v) {
    return std::isfinite(v) ? fmt("%.6g", v) : "null";
}

}  // namespace

void print_bench_table(std::FILE* out, const std::vector<BenchRow>& rows) {
    const char* const kHeads[] = {"family", "implementation", "setting",
                                  "ratio",  "speed",          "vs best peer"};
    constexpr int kCols = 6;
    std::vector<std::vector<std::string>> cells;
    for (const BenchRow& r : rows)
        cells.push_back(
            {r.family, r.implementation, r.setting, ratio_cell(r), speed_cell(r), vs_cell(r)});
    size_t width[kCols];
    for (int c = 0; c < kCols; ++c) {
        width[c] = std::string(kHeads[c]).size();
        for (const auto& line : cells) width[c] = std::max(width[c], line[c].size());
    }
    // Text columns align left, numbers right.
    const bool right[kCols] = {false, false, true, true, true, true};
    auto print_line = [&](const std::vector<std::string>& line) {
        std::string s;
        for (int c = 0; c < kCols; ++c) {
            const std::string pad(width[c] - line[c].size(), ' ');
            s += c ? "  " : "";
            s += right[c] ? pad + line[c] : line[c] + pad;
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        std::fprintf(out, "%s\n", s.c_str());
    };
    print_line({kHeads, kHeads + kCols});
    size_t total = 2 * (kCols - 1);
    for (size_t w : width) total += w;
    std::fprintf(out, "%s\n", std::string(total, '-').c_str());
    std::string last_group;
    for (size_t i = 0; i < rows.size(); ++i) {
        // A blank line between families keeps the groups readable.
        if (!last_group.empty() && rows[i].family != last_group) std::fputc('\n', out);
        last_group = rows[i].family;
        print_line(cells[i]);
    }
}

void print_bench_json(std::FILE* out, const std::vector<BenchRow>& rows) {
    std::fprintf(out, "[");
    for (size_t i = 0; i < rows.size(); ++i) {
        const BenchRow& r = rows[i];
        const double speed = r.bytes_per_second / unit_scale(r.unit);
        std::fprintf(
            out,
            "%s\n  {\"family\": %s, \"implementation\": %s, \"ours\": %s, "
            "\"setting\": %s, \"bytes\": %llu, \"ratio\": %s, \"speed\": %s, "
            "\"speed_unit\": %s, \"vs_best_peer\": %s%s}",
            i ? "," : "", json_string(r.family).c_str(), json_string(r.implementation).c_str(),
            r.ours ? "true" : "false", json_string(r.setting).c_str(),
            static_cast<unsigned long long>(r.bytes),
            r.ratio < 0 ? "null" : json_number(r.ratio).c_str(),
            r.note.empty() ? json_number(speed).c_str() : "null",
            json_string(unit_name(r.unit)).c_str(),
            r.vs_best_peer < 0 || !r.note.empty() ? "null" : json_number(r.vs_best_peer).c_str(),
            r.note.empty() ? "" : (", \"note\": " + json_string(r.note)).c_str());
    }
    std::fprintf(out, "%s]\n", rows.empty() ? "" : "\n");
}

}  // namespace vekdc
