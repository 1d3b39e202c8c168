// What the benchmarks share: the build's architecture, named on every figure line, a stopwatch, and
// the median of repeated rounds with their spread.
#pragma once
#include <windows.h>
#include <algorithm>
#include <vector>

namespace Bench {

inline constexpr const char* kArch = sizeof(void*) == 8 ? "x86_64" : "i686";

class Stopwatch {
public:
    Stopwatch() {
        QueryPerformanceFrequency(&frequency_);
        QueryPerformanceCounter(&start_);
    }
    double Ms() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return double(now.QuadPart - start_.QuadPart) * 1000.0 / double(frequency_.QuadPart);
    }

private:
    LARGE_INTEGER frequency_, start_;
};

// The middle of the rounds' values and how far they spread about it: `spread` is the distance between
// the quartiles (the middle half of the rounds), `range` the distance from the lowest to the highest,
// both as a share of the middle. One round that the machine's load slowed moves the range, not the
// spread.
struct Median {
    double value = 0, spread = 0, range = 0;
    size_t rounds = 0;
};

inline Median MedianOf(std::vector<double> values) {
    Median median;
    median.rounds = values.size();
    if (values.empty()) return median;
    std::sort(values.begin(), values.end());
    auto at = [&values](double share) {
        const double place = share * double(values.size() - 1);
        const size_t below = size_t(place);
        const double above = below + 1 < values.size() ? values[below + 1] : values[below];
        return values[below] + (above - values[below]) * (place - double(below));
    };
    median.value = at(0.5);
    if (median.value > 0) {
        median.spread = (at(0.75) - at(0.25)) / median.value;
        median.range = (values.back() - values.front()) / median.value;
    }
    return median;
}

}  // namespace Bench
