#include "composition/colouring.h"

#include <chrono>
#include <cmath>

ColourValue GradientColour(ColourValue from, ColourValue to, std::int32_t percent)
{
    // Integer division truncates toward zero (-2805 / 100 == -28), so every
    // channel stays between its two ends for percents up to 100.
    // The product is taken in 64 bits so that no percent can overflow it.
    const auto channel = [percent](int a, int b) {
        const std::int64_t q = std::int64_t(b - a) * percent / 100;
        return int((a + q) & 0xFF);
    };
    return colourValue(channel(redOf(from), redOf(to)), channel(greenOf(from), greenOf(to)),
                       channel(blueOf(from), blueOf(to)));
}

std::int32_t gradientPercent(int position, int n)
{
    Q_ASSERT(n > 0);
    // std::nearbyint rounds half to even in the default rounding mode:
    // 12.5 -> 12, 37.5 -> 38.
    return std::int32_t(std::nearbyint(100.0 / double(n) * double(position)));
}

ColourValue LcgColourSource::next()
{
    constexpr std::uint64_t kColours = 1u << 24;
    m_seed = m_seed * 134775813u + 1u;
    return ColourValue((std::uint64_t(m_seed) * kColours) >> 32);
}

std::uint32_t clockSeed()
{
    return std::uint32_t(std::chrono::high_resolution_clock::now().time_since_epoch().count());
}

ColourSource &processColourSource()
{
    static LcgColourSource source(clockSeed());
    return source;
}

void applyColouring(StripLayout &layout, const StripSettings &settings, ColourSource &random)
{
    const auto n = int(layout.cells.size());
    switch (settings.colourMode) {
    case ColourMode::Random:
        // Drawn in the layout's walk order, last character first.
        for (auto cell = layout.cells.rbegin(); cell != layout.cells.rend(); ++cell)
            cell->colour = random.next();
        break;
    case ColourMode::Gradient:
        for (Cell &cell : layout.cells) {
            const int position = cell.index + 1;
            cell.colour =
                GradientColour(settings.startColour, settings.endColour, gradientPercent(position, n));
        }
        break;
    default:
        for (Cell &cell : layout.cells)
            cell.colour.reset();
        break;
    }
}
