// Interleaved timing in thread CPU time; medians of repeated samples.
#include <algorithm>
#include <ctime>

#include "bench.h"

namespace vekdc {

namespace {

volatile uint64_t g_sink;

// Samples count this thread's CPU time, not wall time: on a shared machine
// the time spent descheduled would otherwise land on whichever contender
// happened to be running.
double thread_seconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

double time_reps(const Contender& c, uint64_t reps) {
    const double t0 = thread_seconds();
    c.run(reps);
    return thread_seconds() - t0;
}

// Smallest doubling-or-scaled repetition count whose run takes at least
// `target` seconds.
uint64_t calibrate(const Contender& c, double target) {
    uint64_t reps = 1;
    for (;;) {
        const double t = time_reps(c, reps);
        if (t >= target) return reps;
        // Scale toward the target with 20% headroom, at least doubling,
        // at most x100 per step so that a noisy first reading cannot
        // overshoot wildly.
        double factor = t > 0 ? target * 1.2 / t : 100.0;
        factor = std::min(100.0, std::max(2.0, factor));
        reps = static_cast<uint64_t>(static_cast<double>(reps) * factor) + 1;
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

}  // namespace

double monotonic_seconds() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + 1e-9 * static_cast<double>(ts.tv_nsec);
}

void bench_consume(uint64_t value) {
    g_sink = g_sink + value;
}

BenchRow mbps_row(const std::string& family, const std::string& implementation, bool ours,
                  const std::string& setting, uint64_t bytes, double ratio, double seconds,
                  BenchRow::Versus versus, const char* peer) {
    BenchRow r;
    r.family = family;
    r.implementation = implementation;
    r.ours = ours;
    r.setting = setting;
    r.bytes = bytes;
    r.ratio = ratio;
    r.bytes_per_second = static_cast<double>(bytes) / seconds;
    r.unit = SpeedUnit::MBps;
    if (ours) {
        r.versus = versus;
        if (peer) r.peer = peer;
    }
    return r;
}

BenchOptions within_budget(const BenchOptions& base, double budget_seconds,
                           double seconds_per_sample) {
    BenchOptions o = base;
    const int affordable = static_cast<int>(budget_seconds / std::max(seconds_per_sample, 1e-9));
    o.samples = std::max(3, std::min(o.samples, affordable));
    return o;
}

std::vector<double> measure_interleaved(const std::vector<Contender>& contenders,
                                        const BenchOptions& options) {
    const size_t n = contenders.size();
    std::vector<uint64_t> reps(n);
    for (size_t i = 0; i < n; ++i) {
        if (contenders[i].seconds_hint >= 2 * options.min_sample_seconds) {
            reps[i] = 1;
            continue;
        }
        contenders[i].run(1);  // warm caches and lazy initialisation
        reps[i] = calibrate(contenders[i], options.min_sample_seconds);
    }
    std::vector<std::vector<double>> samples(n);
    const int rounds = std::max(1, options.samples);
    for (int r = 0; r < rounds; ++r)
        for (size_t i = 0; i < n; ++i)
            samples[i].push_back(time_reps(contenders[i], reps[i]) / static_cast<double>(reps[i]));
    std::vector<double> result(n);
    for (size_t i = 0; i < n; ++i) result[i] = median(samples[i]);
    return result;
}

}  // namespace vekdc
