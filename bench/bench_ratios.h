#pragma once

#include <string>
#include <utility>
#include <vector>

// One side of a ratio: a benchmark's real time per iteration, or one of the
// counters it reports.
struct BenchQuantity {
    BenchQuantity(std::string benchmarkName, std::string counterName = {})
        : benchmark(std::move(benchmarkName)), counter(std::move(counterName))
    {}
    // A benchmark's real time, written as a plain name in a ratio table.
    BenchQuantity(const char *benchmarkName) : benchmark(benchmarkName) {}

    std::string benchmark; // full benchmark name, e.g. "BM_PngExport/page:0/real_time"
    std::string counter;   // empty for the real time per iteration
};

// A ratio printed after the run: numerator / denominator, with the goal it is
// judged against.
struct BenchRatio {
    std::string label;
    BenchQuantity numerator;
    BenchQuantity denominator;
    std::string goal; // e.g. "<= 1.15"
};

// Each bench program lists the ratios it is judged by.
std::vector<BenchRatio> benchRatios();
