// A small timing harness for the benchmarks that run under Wine (Google
// Benchmark is not packaged for MinGW): an operation is repeated until at
// least 0.2 s of measured time have passed, that run is done five times, and
// the median time per operation is reported with the fastest and slowest run.
#pragma once

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

class Ticks {
public:
    static int64_t Now() {
        LARGE_INTEGER t;
        QueryPerformanceCounter(&t);
        return t.QuadPart;
    }
    static double Seconds(int64_t ticks) {
        static const double frequency = [] {
            LARGE_INTEGER f;
            QueryPerformanceFrequency(&f);
            return static_cast<double>(f.QuadPart);
        }();
        return static_cast<double>(ticks) / frequency;
    }
};

struct Timing {
    double nsPerOp = 0;    // median of the runs
    double minNsPerOp = 0; // fastest run
    double maxNsPerOp = 0; // slowest run
    int64_t opsPerRun = 0; // operations in the median run
};

struct Settings {
    double minSeconds = 0.2;
    int runs = 5;
};

inline Settings& HarnessSettings() {
    static Settings settings;
    return settings;
}

inline Timing Summarise(std::vector<std::pair<double, int64_t>> runs) {
    std::sort(runs.begin(), runs.end());
    Timing t;
    t.nsPerOp = runs[runs.size() / 2].first;
    t.opsPerRun = runs[runs.size() / 2].second;
    t.minNsPerOp = runs.front().first;
    t.maxNsPerOp = runs.back().first;
    return t;
}

// `op()` is timed whole, in batches: the clock is read once per batch (a
// clock read costs about 0.15 us under Wine), and the batch grows until one
// batch takes at least the minimum time.
template <class Op> Timing Measure(Op&& op) {
    const Settings& s = HarnessSettings();
    int64_t batch = 1;
    std::vector<std::pair<double, int64_t>> runs;
    while (static_cast<int>(runs.size()) < s.runs) {
        const int64_t start = Ticks::Now();
        for (int64_t i = 0; i < batch; ++i)
            op();
        const double seconds = Ticks::Seconds(Ticks::Now() - start);
        if (seconds < s.minSeconds) {
            // Aim a little past the minimum from what this batch took.
            const double factor = seconds > 0 ? 1.2 * s.minSeconds / seconds : 10.0;
            batch = std::max<int64_t>(
                batch + 1, static_cast<int64_t>(static_cast<double>(batch) * std::min(factor, 10.0)));
            continue;
        }
        runs.emplace_back(seconds * 1e9 / static_cast<double>(batch), batch);
    }
    return Summarise(std::move(runs));
}

// `op()` times itself and returns the ticks of its measured part, so that
// set-up and clean-up around it stay out of the figure.
template <class Op> Timing MeasureTimed(Op&& op) {
    const Settings& s = HarnessSettings();
    std::vector<std::pair<double, int64_t>> runs;
    for (int r = 0; r < s.runs; ++r) {
        int64_t n = 0, measured = 0;
        do {
            measured += op();
            ++n;
        } while (Ticks::Seconds(measured) < s.minSeconds);
        runs.emplace_back(Ticks::Seconds(measured) * 1e9 / static_cast<double>(n), n);
    }
    return Summarise(std::move(runs));
}

// One line per figure, tab-separated, for scripts/bench:
// figure, benchmark, table, structures, bytes, ns/op (median), min, max, ops in the median run.
inline void Report(const std::string& benchmark, const std::string& table, size_t structures, size_t bytes,
                   const Timing& t) {
    std::printf("figure\t%s\t%s\t%zu\t%zu\t%.1f\t%.1f\t%.1f\t%lld\n", benchmark.c_str(), table.c_str(),
                structures, bytes, t.nsPerOp, t.minNsPerOp, t.maxNsPerOp,
                static_cast<long long>(t.opsPerRun));
    std::fflush(stdout);
}

// A value that is not a time (records per second and the like).
inline void ReportValue(const std::string& benchmark, const std::string& table, const std::string& unit,
                        double value) {
    std::printf("value\t%s\t%s\t%s\t%.1f\n", benchmark.c_str(), table.c_str(), unit.c_str(), value);
    std::fflush(stdout);
}

} // namespace bench
