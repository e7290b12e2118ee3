// vekdc bench [--json] [--quick] [--only FAMILY]... [FILE...]
//
// Runs every registered benchmark family over the corpus, then derives the
// "vs best peer" figure of our rows and prints everything as a table or as
// JSON. The families themselves live in bench_*.cpp.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "bench.h"
#include "bench_output.h"
#include "cli.h"
#include "commands.h"
#include "peers.h"
#include "vekdc.h"

namespace vekdc {

namespace {

std::vector<BenchFamily>& registry() {
    static std::vector<BenchFamily> families;
    return families;
}

// Our speed over the fastest peer's per (family, setting) group, or over
// the one peer a row names.
void fill_vs_best_peer(std::vector<BenchRow>& rows) {
    std::map<std::pair<std::string, std::string>, double> best;
    std::map<std::vector<std::string>, double> named;
    for (const BenchRow& r : rows) {
        if (r.ours) continue;
        double& b = best[{r.family, r.setting}];
        b = std::max(b, r.bytes_per_second);
        named[{r.family, r.setting, r.implementation}] = r.bytes_per_second;
    }
    for (BenchRow& r : rows) {
        if (!r.ours) continue;
        double peer = 0;
        if (r.versus == BenchRow::Versus::kBest) {
            const auto it = best.find({r.family, r.setting});
            if (it != best.end()) peer = it->second;
        } else if (r.versus == BenchRow::Versus::kNamed) {
            const auto it = named.find({r.family, r.setting, r.peer});
            if (it != named.end()) peer = it->second;
        }
        r.vs_best_peer = peer > 0 ? r.bytes_per_second / peer : -1;
    }
}

bool load_files(const std::vector<std::string>& files, Corpus& corpus) {
    for (const std::string& f : files) {
        CorpusItem item;
        item.name = f;
        if (const int err = read_whole_file(f, item.data)) {
            print_error("%s: %s", f.c_str(), std::strerror(err));
            return false;
        }
        if (!item.data.empty()) corpus.items.push_back(std::move(item));
    }
    if (corpus.items.empty()) {
        print_error("bench: the given files hold no data");
        return false;
    }
    return true;
}

void print_header(const Corpus& corpus, const BenchOptions& opt) {
    const vekLibVersion* v = vekdcGetLibVersion();
    std::printf("vekdc bench: library %s %s, %d-bit build\n", v->libraryName, v->versionText,
                static_cast<int>(sizeof(void*) * 8));
    std::printf("peers: %s\n", peer_libraries());
    std::string names;
    for (const CorpusItem& it : corpus.items) names += (names.empty() ? "" : ", ") + it.name;
    std::printf("corpus: %s (%s), %s\n", corpus.builtin ? "built-in" : "files", names.c_str(),
                format_size(corpus.total_bytes()).c_str());
    std::printf(
        "method: interleaved, %d samples of >= %.0f ms of thread CPU time each (slow "
        "codec rows: fewer, at least 3), median\n\n",
        opt.samples, opt.min_sample_seconds * 1e3);
}

}  // namespace

bool register_bench_family(const BenchFamily& family) {
    registry().push_back(family);
    return true;
}

std::vector<BenchFamily> bench_families() {
    std::vector<BenchFamily> f = registry();
    std::stable_sort(f.begin(), f.end(),
                     [](const BenchFamily& a, const BenchFamily& b) { return a.order < b.order; });
    return f;
}

void BenchContext::progress(const std::string& note) const {
    if (options_.progress) std::fprintf(stderr, "\rbench: %-40s", note.c_str());
}

int cmd_bench(int argc, char** argv) {
    bool json = false;
    BenchOptions opt;
    std::vector<std::string> files;
    std::vector<std::string> only;  // family names (case-insensitive); empty: all
    bool options_done = false;
    for (int i = 0; i < argc; ++i) {
        const char* a = argv[i];
        if (options_done || !looks_like_option(a)) {
            files.emplace_back(a);
        } else if (std::strcmp(a, "--") == 0) {
            options_done = true;
        } else if (std::strcmp(a, "--json") == 0) {
            json = true;
        } else if (std::strcmp(a, "--only") == 0) {
            if (i + 1 == argc) return usage_error("bench: --only needs a family name");
            only.emplace_back(argv[++i]);
        } else if (std::strcmp(a, "--quick") == 0) {
            opt.samples = 3;
            opt.quick = true;
        } else if (std::strcmp(a, "--floats") == 0) {
            if (i + 4 >= argc) return usage_error("bench: --floats needs NX NY NZ FILE");
            size_t d[3];
            for (size_t& v : d) {
                char* end = nullptr;
                const char* text = argv[++i];
                const unsigned long long n = std::strtoull(text, &end, 10);
                if (*text == '-' || *end || n == 0 || n > (1ull << 20))
                    return usage_error("bench: --floats: bad dimension '%s'", text);
                v = static_cast<size_t>(n);
            }
            opt.float_arrays.push_back({d[0], d[1], d[2], argv[++i]});
        } else if (std::strcmp(a, "-h") == 0 || std::strcmp(a, "--help") == 0) {
            print_usage(true);
            return kExitOk;
        } else {
            return usage_error("bench: unknown option '%s'", a);
        }
    }
    opt.progress = isatty(STDERR_FILENO) != 0;

    // The float arrays must hold exactly their dimensions' values.
    for (const BenchOptions::FloatArray& f : opt.float_arrays) {
        struct stat st;
        if (stat(f.path.c_str(), &st) != 0) {
            print_error("%s: %s", f.path.c_str(), std::strerror(errno));
            return kExitFailure;
        }
        const uint64_t want = 4ull * f.nx * f.ny * f.nz;
        if (static_cast<uint64_t>(st.st_size) != want) {
            print_error("bench: %s has %llu bytes, --floats %zu %zu %zu needs %llu", f.path.c_str(),
                        static_cast<unsigned long long>(st.st_size), f.nx, f.ny, f.nz,
                        static_cast<unsigned long long>(want));
            return kExitFailure;
        }
    }

    Corpus corpus;
    if (files.empty()) {
        corpus = make_builtin_corpus();
    } else if (!load_files(files, corpus)) {
        return kExitFailure;
    }

    std::vector<BenchRow> rows;
    BenchContext ctx(corpus, opt, rows);
    try {
        bool any = false;
        for (const BenchFamily& f : bench_families()) {
            if (!only.empty() &&
                std::none_of(only.begin(), only.end(), [&](const std::string& name) {
                    return strcasecmp(name.c_str(), f.name) == 0;
                }))
                continue;
            any = true;
            ctx.progress(f.name);
            f.run(ctx);
        }
        if (!any) {
            std::string names;
            for (const BenchFamily& f : bench_families()) names += std::string(" ") + f.name;
            return usage_error("bench: no such family (families:%s)", names.c_str());
        }
    } catch (const BenchMismatch& e) {
        if (opt.progress) std::fputc('\n', stderr);
        print_error("bench: results differ, nothing timed is trustworthy: %s", e.what());
        return kExitFailure;
    }
    if (opt.progress) std::fprintf(stderr, "\r%-48s\r", "");
    fill_vs_best_peer(rows);

    if (json) {
        print_bench_json(stdout, rows);
    } else {
        print_header(corpus, opt);
        print_bench_table(stdout, rows);
    }
    std::fflush(stdout);
    if (std::ferror(stdout)) {
        print_error("bench: write error on standard output");
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace vekdc
