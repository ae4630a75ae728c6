#pragma once

#include "composition/strip_layout.h"

#include <cstdint>

// The colour `percent` of the way from `from` to `to`, per channel:
// a + trunc((b - a) * percent / 100), modulo 256. Bits 24-31 of the inputs are
// ignored and are 0 in the result.
ColourValue GradientColour(ColourValue from, ColourValue to, std::int32_t percent);

// The percent of the gradient at the 1-based `position` of `n` cells:
// (100 / n) * position in floating point, rounded half to even.
std::int32_t gradientPercent(int position, int n);

// A source of uniform 24-bit colours.
class ColourSource {
public:
    virtual ~ColourSource() = default;
    virtual ColourValue next() = 0; // 0 .. 0xFFFFFF
};

// The classic 32-bit linear congruential generator: seed = seed * 134775813
// + 1 before each draw; a draw below k is the high 32 bits of seed * k.
class LcgColourSource : public ColourSource {
public:
    explicit LcgColourSource(std::uint32_t seed) : m_seed(seed) {}
    ColourValue next() override;

private:
    std::uint32_t m_seed;
};

// A seed from a high-resolution clock, different from run to run.
std::uint32_t clockSeed();

// The process-wide generator, seeded once from a high-resolution clock on
// first use. Window thread only.
ColourSource &processColourSource();

// Fills Cell::colour for every cell by the settings' colour mode: Random draws
// one colour per cell in walk order (last character first); Gradient walks
// from the start colour to reach the end colour at the last cell; Default
// and any other value leave the colours empty.
void applyColouring(StripLayout &layout, const StripSettings &settings,
                    ColourSource &random = processColourSource());
