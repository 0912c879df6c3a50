#pragma once
// What the Windows benchmarks share in place of Google Benchmark, which Debian does not build for
// mingw-w64: a monotonic clock in milliseconds, and the median, minimum and maximum of repeated samples.

#include <algorithm>
#include <vector>
#include <windows.h>

namespace vorsa::bench {

inline double now_ms()
{
    static const double ticks_per_ms = [] {
        LARGE_INTEGER frequency;
        QueryPerformanceFrequency(&frequency);
        return static_cast<double>(frequency.QuadPart) / 1000.0;
    }();
    LARGE_INTEGER ticks;
    QueryPerformanceCounter(&ticks);
    return static_cast<double>(ticks.QuadPart) / ticks_per_ms;
}

struct Summary
{
    double median = 0;
    double minimum = 0;
    double maximum = 0;
};

// The median of an even count is the mean of the two middle samples. No samples give all zeros.
inline Summary summarize(std::vector<double> samples)
{
    Summary summary;
    if (samples.empty()) return summary;
    std::sort(samples.begin(), samples.end());
    const std::size_t middle = samples.size() / 2;
    summary.median = samples.size() % 2 ? samples[middle] : (samples[middle - 1] + samples[middle]) / 2.0;
    summary.minimum = samples.front();
    summary.maximum = samples.back();
    return summary;
}

} // namespace vorsa::bench
