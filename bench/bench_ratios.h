#pragma once

#include <string>
#include <vector>

// A ratio between two benchmarks' real time per iteration, printed after the
// run: numerator / denominator, with the goal it is judged against.
struct BenchRatio {
    std::string label;
    std::string numerator;   // full benchmark name, e.g. "BM_PngExport/strip"
    std::string denominator; // full benchmark name
    std::string goal;        // e.g. "<= 1.15"
};

// Each bench program lists the ratios it is judged by.
std::vector<BenchRatio> benchRatios();
